#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/reading/line_reader.h"

#define TSRY_FUZZ_CHECK(condition)                                                              \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

namespace tsry::fuzz {

// Splits fuzz bytes into read sizes and the data itself: the first byte says
// how many sizes follow (up to 7, in its low three bits) and whether the
// source keeps lines in place as a mapped file does (bit 3); each size is one
// byte (1 to 256); the rest is the data. So the fuzzer controls where every
// read of the input ends, and which way a line that spans reads is put whole.
struct Input {
    std::vector<std::size_t> pieces;
    bool keeping = false;
    std::string data;
};

inline Input SplitInput(const std::uint8_t* bytes, std::size_t size) {
    Input input;
    std::size_t pos = 0;
    const std::size_t count = size > 0 ? bytes[0] % 8 : 0;
    input.keeping = size > 0 && (bytes[0] & 8) != 0;
    pos = size > 0 ? 1 : 0;
    for (std::size_t i = 0; i < count && pos < size; ++i, ++pos) {
        input.pieces.push_back(static_cast<std::size_t>(bytes[pos]) + 1);
    }
    if (input.pieces.empty()) input.pieces.push_back(4096);
    input.data.assign(reinterpret_cast<const char*>(bytes) + pos, size - pos);
    return input;
}

// Serves the data in the given pieces, each in its own allocation so that the
// sanitizer sees any read past a piece.
class PieceSource final : public ByteSource {
  public:
    explicit PieceSource(const Input& input) : input_(input) {}
    std::string_view NextChunk() override { return NextChunkKeeping(0); }
    [[nodiscard]] bool CanKeep() const noexcept override { return input_.keeping; }
    std::string_view NextChunkKeeping(std::size_t keep) override {
        const std::size_t n = Next();
        TSRY_FUZZ_CHECK(keep <= offset_);
        chunk_.assign(input_.data, offset_ - keep, keep + n);
        chunk_.shrink_to_fit();
        offset_ += n;
        return chunk_;
    }

  private:
    std::size_t Next() {
        const std::size_t n = std::min(input_.data.size() - offset_, input_.pieces[next_]);
        next_ = (next_ + 1) % input_.pieces.size();
        return n;
    }
    const Input& input_;
    std::string chunk_;
    std::size_t offset_ = 0;
    std::size_t next_ = 0;
};

}  // namespace tsry::fuzz
