#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

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

// The start of the line that holds `p`, looking back no further than `floor`,
// which must itself be the start of a line.
[[nodiscard]] const char* LineStart(const char* floor, const char* p) noexcept;

// The terminator of the line that holds `p`: the first CR or LF at or after it,
// or `end` when the line runs to the end of the range.
[[nodiscard]] const char* LineEnd(const char* p, const char* end) noexcept;

// Past the terminator that starts at `p` (as returned by LineEnd).
[[nodiscard]] const char* SkipLineEnd(const char* p, const char* end) noexcept;

// Where a LineReader gets its bytes from.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Copies up to `size` bytes into `buffer` and returns how many; 0 only at
    // the end of the input. Throws ConversionError when the input cannot be read.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

// A file opened for reading. Opening a missing file, a directory or an empty
// path throws ConversionError with the path and the reason.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(const std::filesystem::path& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t Read(char* buffer, std::size_t size) override;

  private:
    std::filesystem::path path_;
    int fd_ = -1;
};

// Reads a source in large blocks and hands them out as runs of whole lines, so
// that callers can scan a block without caring where one read ended. A line
// longer than a block makes the buffer grow to hold it.
class LineReader {
  public:
    static constexpr std::size_t kDefaultBlockSize = std::size_t{256} * 1024;

    explicit LineReader(ByteSource& source, std::size_t blockSize = kDefaultBlockSize);

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
    void Refill();

    ByteSource& source_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_;
    std::size_t begin_ = 0;    // first byte not yet handed out
    std::size_t end_ = 0;      // end of the bytes read so far
    std::size_t scanned_ = 0;  // [begin_, scanned_) holds no usable line end
    bool atEnd_ = false;
};

// Counts the lines of a file.
[[nodiscard]] std::uint64_t CountFileLines(const std::filesystem::path& path);

}  // namespace tsry
