#pragma once

#include <cstddef>
#include <string_view>

namespace tsry {

// Where a LineReader gets its bytes from: the input in pieces of any size.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The next piece of the input, valid until the next call; empty only at
    // the end. Throws ConversionError when the input cannot be read.
    virtual std::string_view NextChunk() = 0;

    // Whether the source holds the input in memory (a mapped file), so that
    // it can hand out the next piece with the end of the previous one in
    // front of it, and a line that spans pieces is seen whole, uncopied.
    [[nodiscard]] virtual bool CanKeep() const noexcept { return false; }
    // For sources that CanKeep(): the last `keep` bytes of the previous piece
    // (at whatever address) followed by the next bytes of the input. No more
    // than `keep` bytes means the end of the input.
    virtual std::string_view NextChunkKeeping(std::size_t /*keep*/) { return NextChunk(); }

    // Called once the reader has used every piece, the last one included:
    // throws ConversionError if the input lost bytes while it was read.
    virtual void Finish() {}
};

}  // namespace tsry
