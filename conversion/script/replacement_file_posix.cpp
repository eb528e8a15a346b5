#include "conversion/script/replacement_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry {

namespace {

// Links followed before a chain counts as a loop, as the system counts.
constexpr int kMaxLinks = 40;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// The file a missing target stands for: the end of a chain of links that
// points nowhere, or the target itself. Throws for a loop.
std::filesystem::path FollowDanglingLinks(const std::filesystem::path& target,
                                          const std::string& what_) {
    std::filesystem::path at = target;
    for (int link = 0; link <= kMaxLinks; ++link) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
        std::string to(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
        const ssize_t n = ::readlink(at.c_str(), to.data(), to.size());
        if (n < 0) throw FileError("Cannot create the " + what_, target, errno);
        to.resize(static_cast<std::size_t>(n));
        at = at.parent_path() / std::filesystem::path(to);
    }
    throw FileError("Cannot replace the " + what_, target, ELOOP);
}

// The folder of `file`, flushed so that a rename in it survives a crash.
void FlushFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);  // some file systems cannot, and have nothing to flush
    ::close(fd);
}

}  // namespace

ReplacementFile::ReplacementFile(std::filesystem::path target, std::string_view what)
    : target_(std::move(target)), what_(what) {
    if (target_.empty()) throw ConversionError("No output file was given.");
    struct stat info {};
    std::optional<std::intptr_t> open = platform::OutputDescriptor(target_);
    if (target_.native() == kStandardOutput) open = STDOUT_FILENO;
    if (open) {
        // A descriptor the program was given: written as it stands, where it
        // stands (appending if it was opened to append), never replaced.
        if (::fstat(Fd(*open), &info) != 0)
            throw FileError("Cannot write the " + what_, target_, errno);
        handle_ = *open;
        direct_ = true;
        ownsHandle_ = false;
        return;
    }
    bool replacing = false;
    if (::stat(target_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) throw FileError("Cannot replace the " + what_, target_, EISDIR);
        if (!S_ISREG(info.st_mode)) {
            // A device or a pipe: there is nothing to rename over.
            int fd = -1;
            do {
                fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
            } while (fd < 0 && errno == EINTR);
            if (fd < 0) throw FileError("Cannot write the " + what_, target_, errno);
            handle_ = fd;
            direct_ = true;
            return;
        }
        const std::unique_ptr<char, decltype(&std::free)> real(::realpath(target_.c_str(), nullptr),
                                                               &std::free);
        if (real == nullptr) throw FileError("Cannot replace the " + what_, target_, errno);
        final_ = real.get();
        replacing = true;
    } else if (errno == ENOENT) {
        final_ = FollowDanglingLinks(target_, what_);
    } else if (errno == ELOOP) {
        throw FileError("Cannot replace the " + what_, target_, ELOOP);
    } else {
        throw FileError("Cannot create the " + what_, target_, errno);
    }

    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0;; ++attempt) {
        temp_ = detail::TemporaryName(final_, detail::RandomSuffix(random));
        // Created like any new file (0666 less the umask), not only for us.
        const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            handle_ = fd;
            platform::RemoveWhenStopped(temp_);
            break;
        }
        if ((errno != EEXIST && errno != EINTR) || attempt == 100) {
            throw FileError("Cannot create the " + what_, target_, errno);
        }
    }
    if (replacing) {
        // The owner first: changing it may clear the set-id bits of the mode.
        if (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) {
            if (::fchown(Fd(handle_), info.st_uid, info.st_gid) != 0) {
                // Not root: keep the group where it is one of ours.
                (void)::fchown(Fd(handle_), static_cast<uid_t>(-1), info.st_gid);
            }
        }
        // The permissions and the sticky bit; never the set-user-ID and
        // set-group-ID bits, which cp drops too.
        (void)::fchmod(Fd(handle_), info.st_mode & 01777);
    }
}

ReplacementFile::~ReplacementFile() {
    Discard();
    platform::KeepWhenStopped(temp_);
}

void ReplacementFile::Discard() noexcept {
    if (handle_ < 0) return;
    if (ownsHandle_) ::close(Fd(handle_));
    handle_ = -1;
    if (!direct_) ::unlink(temp_.c_str());
}

void ReplacementFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(Fd(handle_), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError("Cannot write the " + what_, target_, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ReplacementFile::Commit() {
    if (direct_) {
        const int fd = Fd(handle_);
        handle_ = -1;
        if (ownsHandle_ && ::close(fd) != 0 && errno != EINTR) {
            throw FileError("Cannot write the " + what_, target_, errno);
        }
        return;
    }
    // The data must be on the disk before the rename makes it the script, or a
    // crash could leave an empty file under the target's name.
    if (::fsync(Fd(handle_)) != 0) throw FileError("Cannot write the " + what_, target_, errno);
    const int fd = Fd(handle_);
    handle_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp_.c_str());
        throw FileError("Cannot write the " + what_, target_, error);
    }
    if (::rename(temp_.c_str(), final_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp_.c_str());
        throw FileError("Cannot replace the " + what_, target_, error);
    }
    platform::KeepWhenStopped(temp_);
    FlushFolder(final_);
}

}  // namespace tsry
