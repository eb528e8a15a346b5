#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "conversion/reading/byte_source.h"
#include "conversion/scans/line_scan.h"

// Reading a log as runs of whole lines, from any ByteSource.

namespace tsry {

// The bytes of a line that spans chunks: grows without copying (realloc moves
// the pages of a large block) and asks for huge pages when it is large.
class GatherBuffer {
  public:
    GatherBuffer() = default;
    ~GatherBuffer();
    GatherBuffer(const GatherBuffer&) = delete;
    GatherBuffer& operator=(const GatherBuffer&) = delete;

    [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] char back() const noexcept { return data_[size_ - 1]; }
    [[nodiscard]] std::string_view view() const noexcept { return {data_, size_}; }

    void append(const char* begin, const char* end);
    // Drops the first `n` bytes.
    void erase_front(std::size_t n) noexcept;
    // Keeps the first `n` bytes.
    void truncate(std::size_t n) noexcept { size_ = n < size_ ? n : size_; }
    // Empties the buffer, giving back the memory of a huge line.
    void clear() noexcept;

  private:
    void reserve(std::size_t capacity);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// What a LineReader hands out of a line.
enum class LineDetail {
    kWhole,        // every byte
    kRecordsOnly,  // what matters for a record line, and the line ends
};

// Hands out the input as runs of whole lines, so that callers can scan a run
// without caring where one chunk ended. Runs point into the source's chunks
// where they can; a line that spans chunks is gathered on its own.
//
// With LineDetail::kRecordsOnly, a long line that has to be gathered is
// gathered in part only: from the first record tag to the sixth "#" after it
// (all of the line's record), or a few bytes if it has no tag. The line then
// reads the same to the record extraction and the line count, and costs no
// more memory than its record.
class LineReader {
  public:
    explicit LineReader(ByteSource& source, LineDetail detail = LineDetail::kWhole)
        : source_(source),
          inPlace_(source.CanKeep()),
          recordsOnly_(detail == LineDetail::kRecordsOnly) {}

    // The next run of whole lines, each with its terminator; only the last
    // line of the input may lack one. The view stays valid until the next
    // call. Returns false at the end of the input, once the source has
    // checked that nothing of it was lost while it was read.
    bool NextBlock(std::string_view& block);

    // Reads the rest of the input and returns how many lines it holds.
    std::uint64_t CountRemainingLines();

    // Calls onLine(line, number) for every line of the rest of the input,
    // numbered from 1 at the first line read.
    template <class OnLine>
    void ForEachLine(OnLine&& onLine) {
        std::uint64_t number = 0;
        std::string_view block;
        while (NextBlock(block)) {
            const char* cursor = block.data();
            const char* const end = cursor + block.size();
            while (cursor != end) {
                const char* lineEnd = LineEnd(cursor, end);
                onLine(std::string_view(cursor, static_cast<std::size_t>(lineEnd - cursor)),
                       ++number);
                cursor = SkipLineEnd(lineEnd, end);
            }
        }
    }

  private:
    // NextBlock for sources that CanKeep().
    bool NextBlockInPlace(std::string_view& block);
    // The end of the input: tells the source, and returns false.
    bool Finished();
    // Gathers [begin, end) of the line in carry_, as much of it as matters.
    void Gather(const char* begin, const char* end);
    // Drops what does not matter of a long line in carry_.
    void Condense();
    void ClearCarry() noexcept;

    ByteSource& source_;
    bool inPlace_;
    std::size_t scanned_ = 0;  // bytes at the start of rest_ known to hold no line end
    std::string_view rest_;    // what is left of the current chunk
    GatherBuffer carry_;       // the start of a line that spans chunks
    bool carried_ = false;     // carry_ was handed out and is to be emptied
    bool atEnd_ = false;
    bool finished_ = false;  // the source was told that the input was used up
    // A line gathered in part (kRecordsOnly).
    bool recordsOnly_;
    bool tagSeen_ = false;    // carry_ starts with the tag
    int fieldEnds_ = 0;       // "#"s found after it
    std::size_t looked_ = 0;  // carry_ searched up to here
    bool skipping_ = false;   // the record is whole: only the line end is left to find
};

namespace detail {
// Lines gathered longer than this are condensed (kRecordsOnly). For tests.
std::size_t& CondenseFrom();
}  // namespace detail

}  // namespace tsry
