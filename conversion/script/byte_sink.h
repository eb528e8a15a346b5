#pragma once

#include <string_view>

namespace tsry {

// Where the bytes of a script or a list go: a file replaced whole, a stream,
// a string in a test.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Writes all of `bytes` or throws ConversionError.
    virtual void Write(std::string_view bytes) = 0;
};

}  // namespace tsry
