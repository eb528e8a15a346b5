// The system interface on Linux and other POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry::platform {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t bytes, std::size_t to) noexcept {
    return (bytes + to - 1) / to * to;
}

int Fd(std::intptr_t handle) noexcept { return static_cast<int>(handle); }

}  // namespace

const bool kMappingHoldsTheFile = false;

std::string ErrorText(int error) { return std::strerror(error); }

std::optional<std::intptr_t> OutputDescriptor(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text == "/dev/stdout") return STDOUT_FILENO;
    if (text == "/dev/stderr") return STDERR_FILENO;
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (text.size() <= prefix.size() || text.compare(0, prefix.size(), prefix) != 0) continue;
        int fd = 0;
        const char* const end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data() + prefix.size(), end, fd);
        if (error == std::errc() && stop == end && fd >= 0) return fd;
    }
    return std::nullopt;
}

namespace {

FileIdentity IdentityOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileIdentity> OutputIdentity(const std::filesystem::path& path) {
    struct stat info {};
    int fd = -1;
    if (path.native() == kStandardInput) {
        fd = STDOUT_FILENO;  // "-" as an output is standard output
    } else if (const std::optional<std::intptr_t> named = OutputDescriptor(path)) {
        fd = Fd(*named);
    }
    if (fd >= 0 ? ::fstat(fd, &info) != 0 : ::stat(path.c_str(), &info) != 0) return std::nullopt;
    return IdentityOf(info);
}

std::optional<FileIdentity> PlainFileIdentity(const std::filesystem::path& path) {
    if (path.empty()) throw ConversionError("No log file was given.");
    struct stat info {};
    const bool failed = path.native() == kStandardInput ? ::fstat(STDIN_FILENO, &info) != 0
                                                        : ::stat(path.c_str(), &info) != 0;
    if (failed) throw FileError("Cannot open the log", path, errno);
    if (S_ISDIR(info.st_mode)) throw FileError("Cannot open the log", path, EISDIR);
    if (!S_ISREG(info.st_mode)) return std::nullopt;
    return IdentityOf(info);
}

namespace {

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    RemoveFilesOfAStop();
    // Ended as the signal ends a program that does not handle it.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    errno = saved;
}

}  // namespace

void RemoveFileOfAStop(const std::filesystem::path::value_type* file) noexcept { ::unlink(file); }

void InstallStopHandlers() noexcept {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0) continue;
        // A signal ignored when the program started (nohup, a background job
        // without job control) stays ignored.
        if (action.sa_handler == SIG_IGN) continue;
        action = {};
        action.sa_handler = &OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (const int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
        ::sigaction(signal, &action, nullptr);
    }
}

std::optional<FileLook> LookAtFile(const std::filesystem::path& path) noexcept {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return FileLook{IdentityOf(info), static_cast<std::uint64_t>(info.st_size)};
}

namespace {

// A caught stop: the flag, and a pipe that wakes a pause (a signal between
// the look at the flag and the wait would not end a plain sleep).
std::atomic<bool> stopRequested{false};
int stopPipe[2] = {-1, -1};

extern "C" void OnCaughtStop(int /*signal*/) {
    const int saved = errno;
    RequestStop();
    errno = saved;
}

}  // namespace

void RequestStop() noexcept {
    stopRequested.store(true);
    if (stopPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
    }
}

void CatchStops() noexcept {
    if (stopPipe[0] < 0 && ::pipe(stopPipe) == 0) {
        for (const int fd : stopPipe) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        for (const int fd : stopPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    stopRequested.store(false);
    char drained[64];
    while (stopPipe[0] >= 0 && ::read(stopPipe[0], drained, sizeof drained) > 0) {
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0) continue;
        if (action.sa_handler == SIG_IGN) continue;  // as InstallStopHandlers
        action = {};
        action.sa_handler = &OnCaughtStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

bool StopRequested() noexcept { return stopRequested.load(); }

void PauseUnlessStopped(double seconds) noexcept {
    if (StopRequested()) return;
    const auto milliseconds = static_cast<int>(seconds * 1000.0 + 0.5);
    struct pollfd wake {};
    wake.fd = stopPipe[0];
    wake.events = POLLIN;
    ::poll(&wake, stopPipe[0] >= 0 ? 1 : 0, milliseconds);
}

InputFile::InputFile(const std::filesystem::path& path) : path_(path) {
    if (path.empty()) throw ConversionError("No log file was given.");
    int fd = -1;
    const bool standardInput = path.native() == kStandardInput;
    if (standardInput) {
        fd = STDIN_FILENO;
        owned_ = false;
    } else {
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) throw FileError("Cannot open the log", path, errno);
    }
    handle_ = fd;
    struct stat info {};
    int error = ::fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (error != 0) {
        if (owned_) ::close(fd);
        throw FileError("Cannot open the log", path, error);
    }
    plain_ = S_ISREG(info.st_mode);
    if (plain_ && standardInput) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        start_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
    }
    if (plain_) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileIdentity InputFile::identity() const {
    struct stat info {};
    if (::fstat(Fd(handle_), &info) != 0) throw FileError("Cannot read the log", path_, errno);
    return IdentityOf(info);
}

InputFile::~InputFile() {
    if (owned_) ::close(Fd(handle_));
}

std::uint64_t InputFile::Size() const {
    struct stat info {};
    if (::fstat(Fd(handle_), &info) != 0) throw FileError("Cannot read the log", path_, errno);
    return static_cast<std::uint64_t>(info.st_size);
}

std::size_t InputFile::Read(char* buffer, std::size_t size, std::uint64_t offset) const {
    for (;;) {
        // Positioned reads, so that two readers can share the descriptor.
        const ssize_t n = plain_ ? ::pread(Fd(handle_), buffer, size, static_cast<off_t>(offset))
                                 : ::read(Fd(handle_), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw FileError("Cannot read the log", path_, errno);
    }
}

void* AllocatePages(std::size_t bytes) noexcept {
    // Mapped with a huge page of slack, then trimmed to a huge page boundary
    // at both ends, so that the whole block can be made of huge pages.
    const std::size_t size = RoundUp(bytes, kHugePage);
    if (size < bytes || size + kHugePage < size) return nullptr;
    void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* const start = static_cast<char*>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    char* const block = start + (RoundUp(address, kHugePage) - address);
    if (block > start) ::munmap(start, static_cast<std::size_t>(block - start));
    char* const tail = block + size;
    char* const end = start + size + kHugePage;
    if (end > tail) ::munmap(tail, static_cast<std::size_t>(end - tail));
    ::madvise(block, size, MADV_HUGEPAGE);
    return block;
}

void FreePages(void* block, std::size_t bytes) noexcept {
    if (block != nullptr) ::munmap(block, RoundUp(bytes, kHugePage));
}

void AdviseHugePages(void* block, std::size_t bytes) noexcept {
    auto* const start = static_cast<char*>(block);
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = RoundUp(address, kHugePage);
    const std::uintptr_t last = (address + bytes) & ~(std::uintptr_t{kHugePage} - 1);
    if (last > first) ::madvise(start + (first - address), last - first, MADV_HUGEPAGE);
}

}  // namespace tsry::platform
