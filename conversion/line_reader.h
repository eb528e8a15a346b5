#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "conversion/mapped_window.h"

// What a line of a log is, and how logs are read.
//
// A line ends at CR, at LF, or at CR LF (the pair once); the terminator is not
// part of the line. A last line without terminator counts, and an empty input
// has no lines. Everything else in the program that needs to know where a line
// ends asks this header.

namespace tsry {

[[nodiscard]] constexpr bool IsLineEnd(char c) noexcept { return c == '\r' || c == '\n'; }

// Number of lines that start in [begin, end). `begin` must be at the start of a
// line and the range must not end between the CR and the LF of a pair.
[[nodiscard]] std::uint64_t CountLines(const char* begin, const char* end) noexcept;

// The terminator of the line that holds `p`: the first CR or LF at or after it,
// or `end` when the line runs to the end of the range.
[[nodiscard]] const char* LineEnd(const char* p, const char* end) noexcept;

// The first `c` at or after `p` in the same line; else the line's terminator,
// or `end` when the line runs to the end of the range.
[[nodiscard]] const char* FindInLine(const char* p, const char* end, char c) noexcept;

// Past the terminator that starts at `p` (as returned by LineEnd).
[[nodiscard]] const char* SkipLineEnd(const char* p, const char* end) noexcept;

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
};

// A file opened for reading. Opening a missing file, a directory or an empty
// path throws ConversionError with the path and the reason. A plain file is
// read through a window mapped over it, which moves along (and grows for a
// line longer than itself); anything else, or a file the system will not map,
// is read in copies. A file cut short while it is read is an error.
class FileSource final : public ByteSource {
  public:
    static constexpr std::size_t kDefaultChunkSize = std::size_t{256} * 1024;

    explicit FileSource(const std::filesystem::path& path,
                        std::size_t chunkSize = kDefaultChunkSize);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::string_view NextChunk() override;
    [[nodiscard]] bool CanKeep() const noexcept override { return mapped_; }
    std::string_view NextChunkKeeping(std::size_t keep) override;

    // Reads only the bytes from `begin` up to `end` (or to the end of the
    // file, however far it grows) from now on.
    void Restrict(std::uint64_t begin, std::uint64_t end);
    // A second reader of the same open file, restricted in the same way.
    [[nodiscard]] std::unique_ptr<FileSource> Share(std::uint64_t begin, std::uint64_t end) const;

    // Throws ConversionError if the file has lost bytes since they were read
    // (another program cut it short): for telling the cause of an error
    // that may come from that.
    void ThrowIfCutShort();

    [[nodiscard]] int descriptor() const noexcept { return fd_; }
    // The file's size when it was opened, or 0 for anything but a plain file.
    [[nodiscard]] std::uint64_t plainFileSize() const noexcept { return plainSize_; }

    static constexpr std::uint64_t kToTheEnd = ~std::uint64_t{0};

  private:
    FileSource(const FileSource& other, std::uint64_t begin, std::uint64_t end);
    // The end of the next mapped read that wants to reach `wanted`: no further
    // than the file's end, looked up again when the file may have grown.
    std::uint64_t MappableEnd(std::uint64_t wanted);
    // Maps the window that holds `begin`; false when the file is not mapped.
    bool MapFirstWindow(std::uint64_t begin);
    [[noreturn]] void ThrowCutShort() const;
    // Looks at the size of a plain file again: it may have grown, but must
    // not have shrunk.
    void LookAgain();
    // Past `read` more bytes of a read in copies.
    void Advance(std::size_t read);

    std::filesystem::path path_;
    int fd_ = -1;
    bool ownsFd_ = true;
    std::size_t chunkSize_;
    std::uint64_t plainSize_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t limit_ = kToTheEnd;
    std::unique_ptr<char[]> buffer_;
    bool mapped_ = false;
    std::uint64_t knownSize_ = 0;  // the largest size the file was seen to have
    MappedWindow window_;
};

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
    // Empties the buffer, giving back the memory of a huge line.
    void clear() noexcept;

  private:
    void reserve(std::size_t capacity);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Hands out the input as runs of whole lines, so that callers can scan a run
// without caring where one chunk ended. Runs point into the source's chunks
// where they can; a line that spans chunks is gathered on its own.
class LineReader {
  public:
    explicit LineReader(ByteSource& source) : source_(source), inPlace_(source.CanKeep()) {}

    // The next run of whole lines, each with its terminator; only the last
    // line of the input may lack one. The view stays valid until the next
    // call. Returns false at the end of the input.
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

    ByteSource& source_;
    bool inPlace_;
    std::size_t scanned_ = 0;  // bytes at the start of rest_ known to hold no line end
    std::string_view rest_;    // what is left of the current chunk
    GatherBuffer carry_;       // the start of a line that spans chunks
    bool carried_ = false;     // carry_ was handed out and is to be emptied
    bool atEnd_ = false;
};

namespace detail {
// Files of at least this many bytes are read in two halves at once. For tests.
std::uint64_t& MinimumSplitSize();
// The size of the window mapped over a file (a multiple of the page size), or
// 0 to read files in copies. For tests.
std::size_t& MappedWindowSize();
}  // namespace detail

// Restricts a large `file` to its first half, which ends right after the first
// line end at or past its middle (CR LF taken whole), and returns a reader of
// the second half. Null, and `file` as it was, when the file is smaller than
// detail::MinimumSplitSize() or not a plain file, or when its middle line is
// huge.
[[nodiscard]] std::unique_ptr<FileSource> SplitOffSecondHalf(FileSource& file);

// Counts the lines of a file; a large one in two halves at once.
[[nodiscard]] std::uint64_t CountFileLines(const std::filesystem::path& path);

}  // namespace tsry
