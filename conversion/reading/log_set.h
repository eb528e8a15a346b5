#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The logs of a server's history, read one after another as one log.

namespace tsry {

// Logs in the order they are read; "-" is standard input.
using LogSet = std::vector<std::filesystem::path>;

// Whether a file found beneath a folder is left out of the set (a run's own
// output, say).
using LeaveOut = std::function<bool(const std::filesystem::path& file)>;

// The logs that `given` stands for, in the order given: a file as it is, and
// a folder as every regular file beneath it (through a link too), subfolders
// included (not through a link), leaving out names that begin with "." (files
// and folders) and the files `leaveOut` names, ordered oldest modification
// first (see SortOldestFirst); a file reached through a link beneath a folder
// only where the set holds it under no other name (one link of several: the
// first). Each path found beneath a folder starts with
// the folder's path as given. Throws ConversionError for a folder that cannot
// be read, named by its own path at whatever depth, for a folder that holds
// no log, and for "-" given more than once.
[[nodiscard]] LogSet ExpandLogSet(const LogSet& given, const LeaveOut& leaveOut = {});

// Puts `logs` in the order of their last modification, oldest first, as a
// history is read. Equal times, or times that cannot be read, go by path:
// their UTF-8 text compared byte by byte (on POSIX, the system's bytes).
void SortOldestFirst(LogSet& logs);

// The sources of the rows of a kept list (see kept_list.h), by its line: the
// PATH:LINE where each row's value was logged, as the row gives it.
class KeptOrigins {
  public:
    // The source of the next line (empty for one that holds no row).
    void Add(std::string_view source) {
        text_ += source;
        ends_.push_back(text_.size());
    }
    // The source of line `line` (from 1).
    [[nodiscard]] std::string_view operator[](std::uint64_t line) const {
        const std::size_t first = line > 1 ? ends_[line - 2] : 0;
        return std::string_view(text_).substr(first, ends_[line - 1] - first);
    }

  private:
    std::string text_;
    std::vector<std::size_t> ends_;
};

// Where a value was logged, as a list names it, in two parts: `text`, then,
// where `line` is not 0, ":" and that number (a log's PATH and LINE, kept
// apart so that a list is written without building each row's source).
struct SourceParts {
    std::string_view text;
    std::uint64_t line = 0;
};

// Where each line of a set stands: the set numbers its lines from 1 on
// across its files, one after another; messages name the file and its own
// line instead.
class LinePlaces {
  public:
    // The next file, of `lines` lines.
    void Add(const std::filesystem::path& log, std::uint64_t lines);
    // The next file, a kept list of `lines` lines, whose rows were logged
    // where `origins` says.
    void AddKept(const std::filesystem::path& list, std::uint64_t lines, KeptOrigins origins);
    // "PATH:LINE" of line `line` of the set (PATH as given, "-" for standard
    // input), for a line of a file added, or of the file after the last one
    // added (being read now). For a row of a kept list, both places:
    // "LIST:LINE (logged at SOURCE)".
    [[nodiscard]] std::string Name(std::uint64_t line) const;
    // Where the value of line `line` was logged, as a list names it: the
    // source a kept list's row gives, or else Name(line).
    [[nodiscard]] std::string Source(std::uint64_t line) const;
    // The same in parts, valid while this object is.
    [[nodiscard]] SourceParts SourceOf(std::uint64_t line) const;
    // The path that follows, being read now.
    void Reading(const std::filesystem::path& log);
    [[nodiscard]] std::uint64_t lines() const noexcept { return total_; }

  private:
    struct File {
        std::filesystem::path path;
        std::string text;     // the path's text, for messages and sources
        std::uint64_t first;  // its first line's number in the set
        std::size_t kept;     // its origins in kept_, for a kept list; else kNotKept
    };
    static constexpr std::size_t kNotKept = ~std::size_t{0};
    // The file that holds line `line`, or null for the one being read.
    [[nodiscard]] const File* FileOf(std::uint64_t line) const;

    std::vector<File> files_;
    std::vector<KeptOrigins> kept_;
    std::filesystem::path reading_;
    std::string readingText_;
    std::uint64_t total_ = 0;
};

}  // namespace tsry
