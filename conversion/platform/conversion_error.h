#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tsry {

// The one error a conversion or a line count can end with. Its message is the
// whole story for the user: what went wrong, and where (a path, a line number,
// the system's reason).
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "<what> \"<path>\": <reason>", the reason the system gives for its error code
// `error` (errno, or a Windows error code).
[[nodiscard]] ConversionError FileError(std::string_view what, const std::filesystem::path& path,
                                        int error);

// Inside a catch block: rethrows the exception in flight as a ConversionError
// (no memory, no thread to be had), so that no other kind leaves a run.
[[noreturn]] void RethrowAsConversionError();

// A path as the user typed or chose it, quoted for a message.
[[nodiscard]] std::string QuotedPath(const std::filesystem::path& path);

}  // namespace tsry
