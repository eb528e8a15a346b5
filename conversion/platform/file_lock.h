#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

// A lock that programs on one machine take in turn, for a file that several
// of them read and replace (an archive kept by a follower and by one-shot
// runs at once).

namespace tsry::platform {

// An exclusive lock on the file at `path`, created empty where it is
// missing and never removed (removing it would let a third program lock a
// new file while the second holds the old one), held for the life of the
// object. Another FileLock on the same file, in this process or another,
// waits in its constructor until this one is gone. The lock goes with the
// process: a program killed outright holds nothing. flock() on POSIX,
// LockFileEx() on Windows.
class FileLock {
  public:
    // Opens and locks `path`, waiting while another holds it. Throws
    // ConversionError ("Cannot lock <what> ...") where the file cannot be
    // created or locked.
    FileLock(const std::filesystem::path& path, std::string_view what);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Whether another held the lock when this one asked for it: it waited.
    [[nodiscard]] bool waited() const noexcept { return waited_; }

  private:
    std::intptr_t handle_ = -1;
    bool waited_ = false;
};

}  // namespace tsry::platform
