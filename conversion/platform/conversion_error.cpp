#include "conversion/platform/conversion_error.h"

#include <new>

#include "conversion/platform/platform.h"

namespace tsry {

std::string QuotedPath(const std::filesystem::path& path) { return '"' + PathText(path) + '"'; }

ConversionError FileError(std::string_view what, const std::filesystem::path& path, int error) {
    std::string message(what);
    message += ' ';
    message += QuotedPath(path);
    message += ": ";
    message += platform::ErrorText(error);
    return ConversionError(message);
}

void RethrowAsConversionError() {
    try {
        throw;
    } catch (const ConversionError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ConversionError("There is not enough memory for the records of this log.");
    } catch (const std::exception& e) {
        throw ConversionError(std::string("The conversion failed: ") + e.what() + ".");
    }
}

}  // namespace tsry
