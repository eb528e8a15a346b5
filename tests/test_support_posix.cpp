// What the tests need of a POSIX system.
#include <sys/wait.h>

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
    return std::strerror(fault == Fault::kIsADirectory ? EISDIR : ENOENT);
}

}  // namespace tsry::test
