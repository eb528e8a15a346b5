// What the tests need of Windows.
#include <windows.h>

// Newer than the headers of some compilers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

#include "conversion/platform/platform.h"
#include "tests/test_support.h"

namespace tsry::test {

int Shell(const std::string& /*command*/, std::string* /*output*/) { return -1; }

std::string SystemText(Fault fault) {
    switch (fault) {
        case Fault::kNoSuchFile:
            return platform::ErrorText(ERROR_FILE_NOT_FOUND);
        case Fault::kNoSuchFolder:
            return platform::ErrorText(ERROR_PATH_NOT_FOUND);
        case Fault::kNoPermission:
            return platform::ErrorText(ERROR_ACCESS_DENIED);
        case Fault::kIsADirectory:
            break;
    }
    return platform::ErrorText(ERROR_DIRECTORY_NOT_SUPPORTED);
}

// Wine's programs run with the rights of the user who runs Wine, which are
// root's here.
UnreadableFolder::UnreadableFolder(std::filesystem::path folder, bool /*listable*/)
    : folder_(std::move(folder)) {}

UnreadableFolder::~UnreadableFolder() = default;

}  // namespace tsry::test
