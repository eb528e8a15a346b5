#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
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
// first (see SortOldestFirst). Each path found beneath a folder starts with
// the folder's path as given. Throws ConversionError for a folder that cannot
// be read, named by its own path at whatever depth, for a folder that holds
// no log, and for "-" given more than once.
[[nodiscard]] LogSet ExpandLogSet(const LogSet& given, const LeaveOut& leaveOut = {});

// Puts `logs` in the order of their last modification, oldest first, as a
// history is read. Equal times, or times that cannot be read, go by path:
// their UTF-8 text compared byte by byte (on POSIX, the system's bytes).
void SortOldestFirst(LogSet& logs);

// Where each line of a set stands: the set numbers its lines from 1 on
// across its files, one after another; messages name the file and its own
// line instead.
class LinePlaces {
  public:
    // The next file, of `lines` lines.
    void Add(const std::filesystem::path& log, std::uint64_t lines);
    // "PATH:LINE" of line `line` of the set (PATH as given, "-" for standard
    // input), for a line of a file added, or of the file after the last one
    // added (being read now).
    [[nodiscard]] std::string Name(std::uint64_t line) const;
    // The path that follows, being read now.
    void Reading(const std::filesystem::path& log) { reading_ = log; }
    [[nodiscard]] std::uint64_t lines() const noexcept { return total_; }

  private:
    struct File {
        std::filesystem::path path;
        std::uint64_t first;  // its first line's number in the set
    };
    std::vector<File> files_;
    std::filesystem::path reading_;
    std::uint64_t total_ = 0;
};

}  // namespace tsry
