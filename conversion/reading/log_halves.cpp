#include "conversion/reading/log_halves.h"

#include <chrono>
#include <future>
#include <optional>
#include <system_error>
#include <thread>

#include "conversion/platform/conversion_error.h"

namespace tsry {

namespace {

// How far past the middle a line end is looked for before the middle line
// counts as huge and the file is read whole.
constexpr std::uint64_t kMiddleSearch = std::uint64_t{1} << 20;

// Where the second half of a large file starts (see SplitOffSecondHalf).
std::optional<std::uint64_t> SecondHalfStart(const FileSource& file) {
    const std::uint64_t size = file.plainFileSize();
    if (size < detail::MinimumSplitSize() || size < 2) return std::nullopt;
    char buffer[4096];
    const std::uint64_t middle = file.start() + size / 2;
    std::uint64_t pos = middle - 1;
    while (pos < middle + kMiddleSearch) {
        const std::size_t n = file.file().Read(buffer, sizeof buffer, pos);
        if (n == 0) return std::nullopt;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t at = pos + i;
            if (buffer[i] == '\n') return at + 1;
            if (buffer[i] == '\r') {
                char next = 0;
                const bool pair = i + 1 < n
                                      ? buffer[i + 1] == '\n'
                                      : file.file().Read(&next, 1, at + 1) == 1 && next == '\n';
                return at + (pair ? 2 : 1);
            }
        }
        pos += n;
    }
    return std::nullopt;
}

}  // namespace

std::uint64_t& detail::MinimumSplitSize() {
    static std::uint64_t size = std::uint64_t{32} << 20;
    return size;
}

bool& detail::RefuseHelperThreads() {
    static bool refuse = false;
    return refuse;
}

std::unique_ptr<FileSource> SplitOffSecondHalf(FileSource& file) {
    const std::optional<std::uint64_t> split = SecondHalfStart(file);
    if (!split) return nullptr;
    std::unique_ptr<FileSource> second = file.Share(*split, FileSource::kToTheEnd);
    file.Restrict(file.start(), *split);
    return second;
}

bool ReadInHalves(FileSource& file, HalfReaders& readers) {
    // With one core, two threads would only take turns.
    std::unique_ptr<FileSource> second =
        std::thread::hardware_concurrency() >= 2 ? SplitOffSecondHalf(file) : nullptr;
    if (!second) {
        readers.ReadFirst(file);
        return false;
    }
    std::future<void> helper;
    try {
        if (detail::RefuseHelperThreads()) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        helper =
            std::async(std::launch::async, [&readers, &second] { readers.ReadSecond(*second); });
    } catch (const std::system_error&) {
        // No thread to be had (a process limit, no address space left): one
        // reader after all.
        file.Restrict(file.start(), FileSource::kToTheEnd);
        readers.ReadFirst(file);
        return false;
    }
    struct StopOnExit {
        HalfReaders& readers;
        std::future<void>& helper;
        ~StopOnExit() {
            if (!helper.valid()) return;
            readers.StopSecond();
            helper.wait();
        }
    } stopOnExit{readers, helper};

    readers.ReadFirst(file);
    while (helper.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        readers.Waiting();
    }
    helper.get();
    return true;
}

}  // namespace tsry
