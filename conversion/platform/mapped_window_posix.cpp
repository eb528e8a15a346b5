#include "conversion/platform/mapped_window.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace tsry {

namespace {

// The windows mapped at the moment, for the SIGBUS handler to recognise its
// faults. A fixed table of atomics: the handler may neither lock nor allocate.
struct WatchedRange {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> taken{false};
    std::atomic<bool> lost{false};
};
constexpr int kWatchedRanges = 32;
WatchedRange watched[kWatchedRanges];

std::uintptr_t pageSize = 4096;
struct sigaction previousAction {};

void OnBusError(int signal, siginfo_t* info, void* /*context*/) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (info->si_code > 0) {
        for (WatchedRange& range : watched) {
            const std::uintptr_t end = range.end.load(std::memory_order_acquire);
            if (address < range.begin.load(std::memory_order_acquire) || address >= end) continue;
            // Zeros from the vanished page to the end of the window, and the
            // faulting read is tried again.
            const std::uintptr_t intoPage = address & (pageSize - 1);
            char* page = static_cast<char*>(info->si_addr) - intoPage;
            const int savedErrno = errno;
            void* zeros = ::mmap(page, end - (address - intoPage), PROT_READ,
                                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            errno = savedErrno;
            if (zeros == MAP_FAILED) break;
            range.lost.store(true, std::memory_order_release);
            return;
        }
    }
    // Not a fault of ours: handled as it would have been without us.
    ::sigaction(SIGBUS, &previousAction, nullptr);
    if (info->si_code <= 0) ::raise(signal);
}

void WatchFaults() {
    static std::once_flag once;
    std::call_once(once, [] {
        pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousAction);
    });
}

}  // namespace

std::size_t MappedWindow::PageSize() noexcept {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

MappedWindow::~MappedWindow() {
    Unmap();
    if (watch_ >= 0) {
        watched[watch_].lost.store(false);
        watched[watch_].taken.store(false, std::memory_order_release);
    }
}

bool MappedWindow::Map(std::intptr_t file, std::uint64_t offset, std::size_t size) noexcept {
    if (watch_ < 0) {
        for (int i = 0; i < kWatchedRanges && watch_ < 0; ++i) {
            bool expected = false;
            if (watched[i].taken.compare_exchange_strong(expected, true)) watch_ = i;
        }
        if (watch_ < 0) {
            error_ = errno = EMFILE;
            return false;
        }
        WatchFaults();
    }
    // The pages are entered as they are first read, the system mapping those
    // around each fault with it.
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, static_cast<int>(file),
                          static_cast<off_t>(offset));
    if (mapped == MAP_FAILED) {
        error_ = errno;
        return false;
    }
    Unmap();
    data_ = static_cast<char*>(mapped);
    offset_ = offset;
    size_ = size;
    WatchedRange& range = watched[watch_];
    range.begin.store(reinterpret_cast<std::uintptr_t>(data_), std::memory_order_release);
    range.end.store(reinterpret_cast<std::uintptr_t>(data_) + size_, std::memory_order_release);
    return true;
}

void MappedWindow::Unmap() noexcept {
    if (data_ == nullptr) return;
    if (watch_ >= 0) {
        watched[watch_].end.store(0, std::memory_order_release);
        watched[watch_].begin.store(0, std::memory_order_release);
    }
    ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedWindow::lost() const noexcept {
    return watch_ >= 0 && watched[watch_].lost.load(std::memory_order_acquire);
}

}  // namespace tsry
