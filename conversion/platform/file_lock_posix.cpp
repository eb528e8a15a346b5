#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/file_lock.h"

namespace tsry::platform {

FileLock::FileLock(const std::filesystem::path& path, std::string_view what) {
    const std::string doing = "Cannot lock " + std::string(what) + " with";
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw FileError(doing, path, errno);
    handle_ = fd;
    // A lock of the open file itself (not of the process, as fcntl's are), so
    // that two in one process wait for each other too.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return;
    waited_ = true;
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError(doing, path, error);
    }
}

FileLock::~FileLock() {
    // Closing the file lets the lock go.
    ::close(static_cast<int>(handle_));
}

}  // namespace tsry::platform
