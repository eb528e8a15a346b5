// The system interface on Windows: wide-character calls throughout, the
// system's own messages.
#include <windows.h>

// Newer than the headers of some compilers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

#include <atomic>
#include <optional>
#include <string>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry::platform {

namespace {

HANDLE Handle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

bool IsDirectory(const std::filesystem::path& path) noexcept {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

const bool kMappingHoldsTheFile = true;

namespace {

// The system's own text for `error`, in the user's language; empty where its
// message tables have none (as Wine's lack many).
std::string SystemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return {};
    std::wstring wide(text, length);
    ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' ||
                             wide.back() == L'.')) {
        wide.pop_back();
    }
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                            nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                          bytes, nullptr, nullptr);
    return utf8;
}

// The program's own words for the refusals users meet most, so that a
// message never depends on the system's tables alone.
const char* OwnText(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_READ_ONLY:
            return "The file is read-only";
        case ERROR_DIRECTORY_NOT_SUPPORTED:
        case ERROR_DIRECTORY:
            return "It is a folder, not a file";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return "Another program is using the file";
        case ERROR_FILE_NOT_FOUND:
            return "There is no such file";
        case ERROR_PATH_NOT_FOUND:
            return "There is no such folder";
        case ERROR_ACCESS_DENIED:
            return "Access is denied";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "The disk is full";
        default:
            return nullptr;
    }
}

}  // namespace

std::string ErrorText(int error) {
    const auto code = static_cast<DWORD>(error);
    const std::string system = SystemText(code);
    const char* own = OwnText(code);
    if (own == nullptr) {
        if (!system.empty()) return system + ".";
        return "The system gives no reason (Windows error " + std::to_string(code) + ").";
    }
    std::string text(own);
    if (!system.empty()) text += " (" + system + ")";
    return text + ".";
}

namespace {

std::optional<FileIdentity> IdentityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

BOOL WINAPI OnConsoleStop(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            RemoveFilesOfAStop();
            break;
        default:
            break;
    }
    return FALSE;  // then the system ends the program, as it would have
}

}  // namespace

std::optional<std::intptr_t> OutputDescriptor(const std::filesystem::path& /*path*/) {
    return std::nullopt;  // Windows names no open handle by a path
}

std::optional<FileIdentity> OutputIdentity(const std::filesystem::path& path) {
    if (path == std::filesystem::path(kStandardInput)) {  // "-" as an output: standard output
        HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        if (out == nullptr || out == INVALID_HANDLE_VALUE) return std::nullopt;
        return IdentityOf(out);
    }
    HANDLE file =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<FileIdentity> identity = IdentityOf(file);
    ::CloseHandle(file);
    return identity;
}

std::optional<FileIdentity> PlainFileIdentity(const std::filesystem::path& path) {
    if (path.empty()) throw ConversionError("No log file was given.");
    if (path == std::filesystem::path(kStandardInput)) {
        HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        if (in == nullptr || in == INVALID_HANDLE_VALUE || ::GetFileType(in) != FILE_TYPE_DISK) {
            return std::nullopt;
        }
        return IdentityOf(in);
    }
    HANDLE file =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw FileError("Cannot open the log", path, static_cast<int>(::GetLastError()));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != FALSE;
    const bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (!known) throw FileError("Cannot open the log", path, static_cast<int>(error));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw FileError("Cannot open the log", path, ERROR_DIRECTORY_NOT_SUPPORTED);
    }
    if (!disk) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

void InstallStopHandlers() noexcept { ::SetConsoleCtrlHandler(&OnConsoleStop, TRUE); }

// The console's handler runs on a thread of its own, while the program goes
// on: a file it deletes, held open by the program (shared for deleting), goes
// once the process has ended.
void RemoveFileOfAStop(const std::filesystem::path::value_type* file) noexcept {
    ::DeleteFileW(file);
}

std::optional<FileLook> LookAtFile(const std::filesystem::path& path) noexcept {
    // Opened for nothing but its attributes, shared for everything, and
    // closed at once: the server may empty, rename or delete its log any time.
    HANDLE file =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != FALSE &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                       ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    if (!known) return std::nullopt;
    return FileLook{FileIdentity{info.dwVolumeSerialNumber,
                                 (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow},
                    (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow};
}

namespace {

// A caught stop: the flag, and an event that ends a pause.
std::atomic<bool> stopRequested{false};
HANDLE stopEvent = nullptr;

BOOL WINAPI OnCaughtStop(DWORD event) {
    RequestStop();
    // The console closed, the user logging off or the machine shutting down
    // end the program when this returns: wait here for it to finish its last
    // write (the system allows a few seconds).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        ::Sleep(10000);
    }
    return TRUE;
}

}  // namespace

void RequestStop() noexcept {
    stopRequested.store(true);
    if (stopEvent != nullptr) ::SetEvent(stopEvent);
}

void CatchStops() noexcept {
    if (stopEvent == nullptr) stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stopRequested.store(false);
    if (stopEvent != nullptr) ::ResetEvent(stopEvent);
    ::SetConsoleCtrlHandler(&OnConsoleStop, FALSE);
    ::SetConsoleCtrlHandler(&OnCaughtStop, TRUE);
}

bool StopRequested() noexcept { return stopRequested.load(); }

void PauseUnlessStopped(double seconds) noexcept {
    if (StopRequested()) return;
    const auto milliseconds = static_cast<DWORD>(seconds * 1000.0 + 0.5);
    if (stopEvent == nullptr) {
        ::Sleep(milliseconds);
    } else {
        ::WaitForSingleObject(stopEvent, milliseconds);
    }
}

InputFile::InputFile(const std::filesystem::path& path) : path_(path) {
    if (path.empty()) throw ConversionError("No log file was given.");
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (path == std::filesystem::path(kStandardInput)) {
        handle = ::GetStdHandle(STD_INPUT_HANDLE);
        owned_ = false;
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            throw FileError("Cannot open the log", path, static_cast<int>(ERROR_INVALID_HANDLE));
        }
    } else {
        // Shared for reading, writing and deleting: the game server keeps its
        // log open and writing, and may rotate it while it is read.
        handle = ::CreateFileW(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error =
                IsDirectory(path) ? ERROR_DIRECTORY_NOT_SUPPORTED : ::GetLastError();
            throw FileError("Cannot open the log", path, static_cast<int>(error));
        }
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    plain_ = ::GetFileType(handle) == FILE_TYPE_DISK;
    if (plain_ && !owned_) {
        LARGE_INTEGER at{};
        if (::SetFilePointerEx(handle, LARGE_INTEGER{}, &at, FILE_CURRENT) && at.QuadPart > 0) {
            start_ = static_cast<std::uint64_t>(at.QuadPart);
        }
    }
}

FileIdentity InputFile::identity() const {
    const std::optional<FileIdentity> identity = IdentityOf(Handle(handle_));
    if (!identity) {
        throw FileError("Cannot read the log", path_, static_cast<int>(::GetLastError()));
    }
    return *identity;
}

InputFile::~InputFile() {
    if (owned_) ::CloseHandle(Handle(handle_));
}

std::uint64_t InputFile::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Handle(handle_), &size)) {
        throw FileError("Cannot read the log", path_, static_cast<int>(::GetLastError()));
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t InputFile::Read(char* buffer, std::size_t size, std::uint64_t offset) const {
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
    DWORD got = 0;
    BOOL ok = FALSE;
    if (plain_) {
        // Positioned reads, so that two readers can share the handle.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        ok = ::ReadFile(Handle(handle_), buffer, want, &got, &at);
    } else {
        ok = ::ReadFile(Handle(handle_), buffer, want, &got, nullptr);
    }
    if (ok) return got;
    const DWORD error = ::GetLastError();
    // The end of a file, or of a pipe whose writer has closed it.
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    throw FileError("Cannot read the log", path_, static_cast<int>(error));
}

void* AllocatePages(std::size_t bytes) noexcept {
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* block, std::size_t /*bytes*/) noexcept {
    if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

void AdviseHugePages(void* /*block*/, std::size_t /*bytes*/) noexcept {
    // Large pages need a privilege that ordinary users do not hold.
}

}  // namespace tsry::platform
