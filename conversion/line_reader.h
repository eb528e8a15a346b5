#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
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

// The first `c` at or after `p`, adding to `lineEnds` the line ends before it;
// `end` (with all line ends counted) when there is none. [p, end) must be a run
// of whole lines and `c` must not be CR or LF.
[[nodiscard]] const char* FindCountingLineEnds(const char* p, const char* end, char c,
                                               std::uint64_t& lineEnds) noexcept;

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
};

// A file opened for reading. Opening a missing file, a directory or an empty
// path throws ConversionError with the path and the reason.
class FileSource final : public ByteSource {
  public:
    static constexpr std::size_t kDefaultChunkSize = std::size_t{256} * 1024;

    explicit FileSource(const std::filesystem::path& path,
                        std::size_t chunkSize = kDefaultChunkSize);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::string_view NextChunk() override;

    // Reads only the bytes from `begin` up to `end` (or to the end of the
    // file, however far it grows) from now on.
    void Restrict(std::uint64_t begin, std::uint64_t end);
    // A second reader of the same open file, restricted in the same way.
    [[nodiscard]] std::unique_ptr<FileSource> Share(std::uint64_t begin, std::uint64_t end) const;

    [[nodiscard]] int descriptor() const noexcept { return fd_; }
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    // The file's size when it was opened, or 0 for anything but a plain file.
    [[nodiscard]] std::uint64_t plainFileSize() const noexcept { return plainSize_; }

    static constexpr std::uint64_t kToTheEnd = ~std::uint64_t{0};

  private:
    FileSource(const FileSource& other, std::uint64_t begin, std::uint64_t end);

    std::filesystem::path path_;
    int fd_ = -1;
    bool ownsFd_ = true;
    std::size_t chunkSize_;
    std::uint64_t plainSize_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t limit_ = kToTheEnd;
    std::unique_ptr<char[]> buffer_;
};

// Hands out the input as runs of whole lines, so that callers can scan a run
// without caring where one chunk ended. Runs point into the source's chunks
// where they can; a line that spans chunks is gathered on its own.
class LineReader {
  public:
    explicit LineReader(ByteSource& source) : source_(source) {}

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
    ByteSource& source_;
    std::string_view rest_;  // what is left of the current chunk
    std::string carry_;      // the start of a line that spans chunks
    bool carried_ = false;   // carry_ was handed out and is to be emptied
    bool atEnd_ = false;
};

// Counts the lines of a file.
[[nodiscard]] std::uint64_t CountFileLines(const std::filesystem::path& path);

}  // namespace tsry
