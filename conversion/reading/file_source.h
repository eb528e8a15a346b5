#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "conversion/platform/mapped_window.h"
#include "conversion/platform/platform.h"
#include "conversion/reading/byte_source.h"

// Reading a log file, a pipe or standard input.

namespace tsry {

// How a plain file is read: copied into a buffer by the system, or through a
// window mapped over it. Which is faster depends on the machine (on some,
// touching a mapped page costs several times what copying it does; on others
// the copy costs as much as all the rest), so it is measured.
enum class ReadingWay { kAuto, kMapped, kCopied };

[[nodiscard]] const char* ReadingWayName(ReadingWay way) noexcept;

// The way plain files are read in this process: the one forced with the
// environment variable TSRY_READ (mapped, copied or auto), or else the faster
// of the two as measured on the first large file read, kept from then on.
// kAuto until that first measurement.
[[nodiscard]] ReadingWay ChosenReadingWay() noexcept;

// A log opened for reading ("-" is standard input). Opening a missing file, a
// directory or an empty path throws ConversionError with the path and the
// reason. A plain file is read in the way chosen above; a window mapped over
// it moves along (and grows for a line longer than itself). Anything else, or
// a file the system will not map, is read in copies. A file cut short while it
// is read is an error; a file that grows is read as far as it has grown.
class FileSource final : public ByteSource {
  public:
    static constexpr std::size_t kDefaultChunkSize = std::size_t{256} * 1024;
    static constexpr std::uint64_t kToTheEnd = ~std::uint64_t{0};

    // `chunkSize` 0: detail::CopiedChunkSize().
    explicit FileSource(const std::filesystem::path& path, std::size_t chunkSize = 0);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::string_view NextChunk() override;
    [[nodiscard]] bool CanKeep() const noexcept override { return mapped_; }
    std::string_view NextChunkKeeping(std::size_t keep) override;
    void Finish() override { ThrowIfCutShort(); }

    // Reads only the bytes from `begin` up to `end` (or to the end of the
    // file, however far it grows) from now on.
    void Restrict(std::uint64_t begin, std::uint64_t end);
    // A second reader of the same open file, restricted in the same way.
    [[nodiscard]] std::unique_ptr<FileSource> Share(std::uint64_t begin, std::uint64_t end) const;

    // Throws ConversionError if the file has lost bytes since they were read
    // (another program cut it short).
    void ThrowIfCutShort();

    [[nodiscard]] const platform::InputFile& file() const noexcept { return *file_; }
    // Where the log starts in its file (see platform::InputFile::start()).
    [[nodiscard]] std::uint64_t start() const noexcept { return file_->start(); }
    // The bytes of the log, from its start, when the file was opened; 0 for
    // anything but a plain file.
    [[nodiscard]] std::uint64_t plainFileSize() const noexcept {
        return plainSize_ > start() ? plainSize_ - start() : 0;
    }
    [[nodiscard]] ReadingWay way() const noexcept {
        return mapped_ ? ReadingWay::kMapped : ReadingWay::kCopied;
    }

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
    std::string_view Handed(std::string_view chunk) const;  // through AfterEachChunk

    std::shared_ptr<const platform::InputFile> file_;
    std::size_t chunkSize_;
    std::uint64_t plainSize_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t limit_ = kToTheEnd;
    std::unique_ptr<char[]> buffer_;
    bool mapped_ = false;
    std::uint64_t knownSize_ = 0;  // the largest size the file was seen to have
    MappedWindow window_;
};

namespace detail {
// The way forced for tests; kAuto measures. Starts as TSRY_READ says.
ReadingWay& ForcedReadingWay();
// Forgets the way measured, so that the next large file is measured again.
void ForgetMeasuredWay() noexcept;
// The size of the window mapped over a file (a multiple of the page size).
std::size_t& MappedWindowSize();
// The size of the pieces a file is read in when it is copied.
std::size_t& CopiedChunkSize();
// Files of at least this size are measured to choose the way of reading.
std::uint64_t& MeasureFromSize();
// Called with the file offset reached after every chunk a FileSource hands
// out, when set. For tests that change the file at a chosen moment.
std::function<void(std::uint64_t)>& AfterEachChunk();
}  // namespace detail

}  // namespace tsry
