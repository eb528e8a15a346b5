#include "conversion/conversion_error.h"

#include <cstring>

namespace tsry {

std::string QuotedPath(const std::filesystem::path& path) {
    std::string text;
    text.reserve(path.native().size() + 2);
    text += '"';
    text += path.native();
    text += '"';
    return text;
}

ConversionError FileError(std::string_view what, const std::filesystem::path& path, int error) {
    std::string message(what);
    message += ' ';
    message += QuotedPath(path);
    message += ": ";
    message += std::strerror(error);
    return ConversionError(message);
}

}  // namespace tsry
