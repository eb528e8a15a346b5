#include <windows.h>

#include <string>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/file_lock.h"

namespace tsry::platform {

namespace {

HANDLE Handle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

// The first byte locks the whole file: every FileLock asks for that one.
bool LockFirstByte(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    return ::LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

}  // namespace

FileLock::FileLock(const std::filesystem::path& path, std::string_view what) {
    const std::string doing = "Cannot lock " + std::string(what) + " with";
    // Shared every way, so that the lock file stands in nobody's way but the
    // lock's.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw FileError(doing, path, static_cast<int>(::GetLastError()));
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    if (LockFirstByte(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) return;
    waited_ = true;
    if (!LockFirstByte(file, LOCKFILE_EXCLUSIVE_LOCK)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        throw FileError(doing, path, static_cast<int>(error));
    }
}

FileLock::~FileLock() {
    OVERLAPPED at{};
    ::UnlockFileEx(Handle(handle_), 0, 1, 0, &at);
    ::CloseHandle(Handle(handle_));
}

}  // namespace tsry::platform
