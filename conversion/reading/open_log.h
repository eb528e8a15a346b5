#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "conversion/reading/byte_source.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/log_set.h"

// One log opened for reading, whatever it holds: plain text, or text
// compressed with gzip, decompressed while it is read.

namespace tsry {

class GzipSource;

class OpenLog {
  public:
    // Opens `path` ("-": standard input) and looks at its first bytes. Throws
    // ConversionError.
    explicit OpenLog(const std::filesystem::path& path);
    ~OpenLog();
    OpenLog(const OpenLog&) = delete;
    OpenLog& operator=(const OpenLog&) = delete;

    // The file as it is on the disk.
    [[nodiscard]] FileSource& file() noexcept { return *file_; }
    // The log's text: the file itself, or what it decompresses to.
    [[nodiscard]] ByteSource& lines() noexcept;
    // Whether the file is compressed: then it can only be read in order,
    // never in halves.
    [[nodiscard]] bool compressed() const noexcept { return gzip_ != nullptr; }
    // The bytes of the file read so far, for a compressed log.
    [[nodiscard]] std::uint64_t fileBytesRead() const noexcept;

  private:
    class Replay;

    std::unique_ptr<FileSource> file_;
    std::unique_ptr<Replay> replay_;  // a stream's first bytes, then the rest
    std::string head_;                // a compressed stream's first bytes
    std::unique_ptr<GzipSource> gzip_;
};

// Counts the lines of the logs of `logs`, read as ParseLog reads them (see
// ExpandLogSet); a large plain file in two halves at once. Throws
// ConversionError.
[[nodiscard]] std::uint64_t CountFileLines(const LogSet& logs);
[[nodiscard]] std::uint64_t CountFileLines(const std::filesystem::path& log);

}  // namespace tsry
