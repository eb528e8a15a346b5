// The system interface on Windows: wide-character calls throughout, the
// system's own messages.
#include <windows.h>

// Newer than the headers of some compilers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

#include <string>

#include "conversion/conversion_error.h"
#include "conversion/platform.h"

namespace tsry::platform {

namespace {

HANDLE Handle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

bool IsDirectory(const std::filesystem::path& path) noexcept {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

const bool kMappingHoldsTheFile = true;

std::string ErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return "Windows error " + std::to_string(error);
    std::wstring wide(text, length);
    ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) {
        wide.pop_back();
    }
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                            nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                          bytes, nullptr, nullptr);
    return utf8;
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
