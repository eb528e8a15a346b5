// What the tests need of a POSIX system.
#include <dirent.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tests/test_support.h"

namespace tsry::test {

int Shell(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    const int status = ::pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SystemText(Fault fault) {
    switch (fault) {
        case Fault::kIsADirectory:
            return std::strerror(EISDIR);
        case Fault::kNoPermission:
            return std::strerror(EACCES);
        default:
            return std::strerror(ENOENT);
    }
}

namespace {

// Gives this thread's effective set root's privileges to read and search any
// folder, or takes them away (they stay permitted); false where it may not.
bool ReadAnyFolder(bool may) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        std::uint32_t& effective = data[CAP_TO_INDEX(capability)].effective;
        effective =
            may ? effective | CAP_TO_MASK(capability) : effective & ~CAP_TO_MASK(capability);
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

UnreadableFolder::UnreadableFolder(std::filesystem::path folder, bool listable)
    : folder_(std::move(folder)) {
    ::chmod(folder_.c_str(), listable ? 0444 : 0);
    privileged_ = ::geteuid() == 0 && ReadAnyFolder(false);
    DIR* const listing = ::opendir(folder_.c_str());
    struct stat inside {};
    applies_ = listable ? listing != nullptr && ::stat((folder_ / ".").c_str(), &inside) != 0
                        : listing == nullptr;
    if (listing != nullptr) ::closedir(listing);
}

UnreadableFolder::~UnreadableFolder() {
    if (privileged_) ReadAnyFolder(true);
    ::chmod(folder_.c_str(), 0755);
}

}  // namespace tsry::test
