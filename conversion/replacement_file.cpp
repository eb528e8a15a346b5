#include "conversion/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "conversion/conversion_error.h"

namespace tsry {

namespace {

std::string RandomSuffix(std::mt19937_64& random) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, ' ');
    for (char& c : suffix) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
    return suffix;
}

}  // namespace

ReplacementFile::ReplacementFile(std::filesystem::path target) : target_(std::move(target)) {
    if (target_.empty()) throw ConversionError("No output file was given.");
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0;; ++attempt) {
        temp_ = target_;
        temp_ += ".tmp." + RandomSuffix(random);
        // Created like any new file (0666 less the umask), not only for us.
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return;
        if ((errno != EEXIST && errno != EINTR) || attempt == 100) {
            throw FileError("Cannot create the script", target_, errno);
        }
    }
}

ReplacementFile::~ReplacementFile() { Discard(); }

void ReplacementFile::Discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(temp_.c_str());
    }
}

void ReplacementFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError("Cannot write the script", target_, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ReplacementFile::Commit() {
    // The data must be on the disk before the rename makes it the script, or a
    // crash could leave an empty file under the target's name.
    if (::fsync(fd_) != 0) throw FileError("Cannot write the script", target_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp_.c_str());
        throw FileError("Cannot write the script", target_, error);
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp_.c_str());
        throw FileError("Cannot replace the script", target_, error);
    }
}

}  // namespace tsry
