// The temporary files a stopped program removes, the same on every system:
// a few slots that a signal handler, or the console's handler thread, only
// loads, handing each file to RemoveFileOfAStop.
#include <atomic>

#include "conversion/platform/platform.h"

namespace tsry::platform {

namespace {

std::atomic<const std::filesystem::path::value_type*> stopFiles[8];

}  // namespace

void RemoveWhenStopped(const std::filesystem::path& file) noexcept {
    for (auto& slot : stopFiles) {
        const std::filesystem::path::value_type* empty = nullptr;
        if (slot.compare_exchange_strong(empty, file.c_str())) return;
    }
}

void KeepWhenStopped(const std::filesystem::path& file) noexcept {
    for (auto& slot : stopFiles) {
        const std::filesystem::path::value_type* mine = file.c_str();
        if (slot.compare_exchange_strong(mine, nullptr)) return;
    }
}

void RemoveFilesOfAStop() noexcept {
    for (auto& slot : stopFiles) {
        if (const auto* file = slot.load()) RemoveFileOfAStop(file);
    }
}

}  // namespace tsry::platform
