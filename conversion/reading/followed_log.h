#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "conversion/platform/platform.h"

// A log followed by its name while the server writes it, empties it and
// rotates it: its new whole lines handed on as they come.

namespace tsry {

// What a followed log hands on.
class FollowedLines {
  public:
    virtual ~FollowedLines() = default;
    // Whole lines of `log`, each with its line end; the first is line
    // `firstLine` of the file now read under that name.
    virtual void Lines(const std::filesystem::path& log, std::string_view block,
                       std::uint64_t firstLine) = 0;
    // Line `line` of `log` was cut short: the file started anew, or was
    // rotated away, before the line's end came. It is left out.
    virtual void CutShort(const std::filesystem::path& log, std::uint64_t line) = 0;
};

// How far a file has been read, and what the bytes it was read by looked
// like: its first bytes, and the last ones before the position.
struct ReadPosition {
    platform::FileIdentity identity;
    std::uint64_t offset = 0;  // at the start of a line (or just past a CR)
    std::uint64_t lines = 0;   // whole lines before `offset`
    std::string head;          // the file's first bytes, up to kGuardBytes
    std::string guard;         // the bytes just before `offset`, up to kGuardBytes
    bool afterCr = false;      // the last line ended with a CR: an LF next is its end too

    static constexpr std::size_t kGuardBytes = 64;
};

// One log followed by its name. Each Look():
// - when the name now names another file, or none (the log renamed away,
//   deleted or replaced), reads the file held open to its end first, then
//   opens the one under the name, if any, from its start;
// - when the name still names the file held open, checks before reading on
//   that the file is still the one read: no shorter than the position, the
//   same first bytes and the same bytes just before the position. A file
//   emptied and written anew fails that even when it has grown past the old
//   position, and is read again from its start;
// - reads the new whole lines; a last line without its line end waits for it.
// A gzip log is read whole, and again whenever it changes.
class FollowedLog {
  public:
    explicit FollowedLog(std::filesystem::path path);
    ~FollowedLog();
    FollowedLog(const FollowedLog&) = delete;
    FollowedLog& operator=(const FollowedLog&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

    // Reads what is new under the name into `to`. A file opened afresh that
    // is one of `known` (a file rotated away from another name of the set,
    // and read there to its end) goes on from there instead. Returns whether
    // any lines were handed on. Throws ConversionError when a file open
    // cannot be read, or a gzip log is damaged.
    bool Look(FollowedLines& to, std::span<const ReadPosition> known = {});

    // Where the last file read to its end after a rotation stood, once.
    [[nodiscard]] std::optional<ReadPosition> TakeRotated();

  private:
    bool Open(const platform::FileLook& look, std::span<const ReadPosition> known);
    [[nodiscard]] bool StillTheSame(std::uint64_t size) const;
    bool ReadOn(FollowedLines& to, std::uint64_t size, bool toTheEnd);
    bool ReadGzip(FollowedLines& to, const platform::FileLook& look);
    void Close();

    std::filesystem::path path_;
    std::unique_ptr<platform::InputFile> file_;
    ReadPosition at_;
    std::uint64_t waiting_ = 0;  // bytes of an unfinished last line at the last look
    bool gzip_ = false;
    std::uint64_t gzipSize_ = 0;
    std::optional<ReadPosition> rotated_;
};

}  // namespace tsry
