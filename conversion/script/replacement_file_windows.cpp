// Replacing the script on Windows: a temporary file beside the target, flushed,
// then ReplaceFileW, which keeps the replaced file's attributes and access
// control list (MoveFileExW for a new file). Links and junctions on the way
// are followed to the file they finally name.
#include <windows.h>

// Newer than the headers of some compilers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

#include <random>
#include <string>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/script/replacement_file.h"

namespace tsry {

namespace {

HANDLE Handle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

[[noreturn]] void Fail(std::string_view what, const std::filesystem::path& target, DWORD error) {
    throw FileError(what, target, static_cast<int>(error));
}

// The file that `path` finally names, links and junctions followed.
std::filesystem::path FinalPath(HANDLE file, const std::filesystem::path& fallback) {
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), 0);
        if (length == 0) return fallback;
        if (length < final.size()) {
            final.resize(length);
            return final;
        }
        final.resize(length);
    }
}

// Fails as ReplaceFileW would, and leaving nothing behind, when another
// program holds `file` open without sharing it for deleting (the game's
// toolset may have the script open).
void CheckNotHeld(const std::filesystem::path& file, const std::filesystem::path& target,
                  const std::string& what_) {
    HANDLE handle =
        ::CreateFileW(file.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        Fail("Cannot replace the " + what_, target, ::GetLastError());
    ::CloseHandle(handle);
}

}  // namespace

ReplacementFile::ReplacementFile(std::filesystem::path target, std::string_view what)
    : target_(std::move(target)), what_(what) {
    if (target_.empty()) throw ConversionError("No output file was given.");
    if (target_ == std::filesystem::path(kStandardOutput)) {
        handle_ = reinterpret_cast<std::intptr_t>(::GetStdHandle(STD_OUTPUT_HANDLE));
        direct_ = true;
        ownsHandle_ = false;
        return;
    }
    final_ = target_;
    const DWORD attributes = ::GetFileAttributesW(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            Fail("Cannot replace the " + what_, target_, ERROR_DIRECTORY_NOT_SUPPORTED);
        }
        // Opened for its name and kind only, whoever else holds it.
        HANDLE existing = ::CreateFileW(
            target_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (existing == INVALID_HANDLE_VALUE) {
            Fail("Cannot replace the " + what_, target_, ::GetLastError());
        }
        const bool disk = ::GetFileType(existing) == FILE_TYPE_DISK;
        if (disk) final_ = FinalPath(existing, target_);
        ::CloseHandle(existing);
        if (!disk) {
            // A device (CON, a pipe): there is nothing to replace.
            HANDLE device =
                ::CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
            if (device == INVALID_HANDLE_VALUE) {
                Fail("Cannot write the " + what_, target_, ::GetLastError());
            }
            handle_ = reinterpret_cast<std::intptr_t>(device);
            direct_ = true;
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            Fail("Cannot replace the " + what_, target_, ERROR_FILE_READ_ONLY);
        }
        CheckNotHeld(final_, target_, what_);
        replacing_ = true;
    } else if (const DWORD error = ::GetLastError();
               error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        Fail("Cannot create the " + what_, target_, error);
    }

    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0;; ++attempt) {
        temp_ = detail::TemporaryName(final_, detail::RandomSuffix(random));
        // Shared for deleting alone, so that a stopped program can remove it.
        HANDLE file = ::CreateFileW(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            platform::RemoveWhenStopped(temp_);
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS || attempt == 100) {
            Fail("Cannot create the " + what_, target_, error);
        }
    }
}

ReplacementFile::~ReplacementFile() {
    Discard();
    platform::KeepWhenStopped(temp_);
}

void ReplacementFile::Discard() noexcept {
    if (handle_ == -1) return;
    if (ownsHandle_) ::CloseHandle(Handle(handle_));
    handle_ = -1;
    if (!direct_) ::DeleteFileW(temp_.c_str());
}

void ReplacementFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(Handle(handle_), bytes.data(), want, &written, nullptr)) {
            Fail("Cannot write the " + what_, target_, ::GetLastError());
        }
        bytes.remove_prefix(written);
    }
}

void ReplacementFile::Commit() {
    if (direct_) {
        HANDLE handle = Handle(handle_);
        handle_ = -1;
        if (ownsHandle_) ::CloseHandle(handle);
        return;
    }
    // The data must be on the disk before it becomes the script, or a crash
    // could leave an empty file under the target's name.
    if (!::FlushFileBuffers(Handle(handle_))) {
        Fail("Cannot write the " + what_, target_, ::GetLastError());
    }
    ::CloseHandle(Handle(handle_));
    handle_ = -1;
    if (replacing_) {
        try {
            CheckNotHeld(final_, target_, what_);
        } catch (...) {
            ::DeleteFileW(temp_.c_str());
            throw;
        }
    }
    const BOOL replaced = replacing_
                              ? ::ReplaceFileW(final_.c_str(), temp_.c_str(), nullptr,
                                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                              : ::MoveFileExW(temp_.c_str(), final_.c_str(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temp_.c_str());
        Fail("Cannot replace the " + what_, target_, error);
    }
    platform::KeepWhenStopped(temp_);
}

}  // namespace tsry
