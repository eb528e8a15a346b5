#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "conversion/reading/file_source.h"

// Reading a large log in two halves at once, on two threads, for callers that
// can put the halves' results together as one reader would have.

namespace tsry {

// The two readers of a log read in halves.
class HalfReaders {
  public:
    virtual ~HalfReaders() = default;
    // On the calling thread: the first half, or the whole log when it is not
    // read in halves.
    virtual void ReadFirst(FileSource& source) = 0;
    // On a helper thread: the second half, which starts at a line's start.
    virtual void ReadSecond(FileSource& source) = 0;
    // Asks ReadSecond to stop early (the first half failed); from any thread.
    virtual void StopSecond() noexcept = 0;
    // Called every few milliseconds on the calling thread while ReadSecond is
    // still at work after ReadFirst is done.
    virtual void Waiting() {}
};

// Reads `file` through `readers`: in two halves at once where that pays (a
// plain file large enough, a second core, a helper thread to be had), else
// whole with ReadFirst. Returns whether it read in halves. The error of the
// first half goes before that of the second, as one reader would meet them.
bool ReadInHalves(FileSource& file, HalfReaders& readers);

// Restricts a large `file` to its first half, which ends right after the first
// line end at or past its middle (CR LF taken whole), and returns a reader of
// the second half. Null, and `file` as it was, when the file is smaller than
// detail::MinimumSplitSize() or not a plain file, or when its middle line is
// huge.
[[nodiscard]] std::unique_ptr<FileSource> SplitOffSecondHalf(FileSource& file);

namespace detail {
// Files of at least this many bytes are read in two halves at once. For tests.
std::uint64_t& MinimumSplitSize();
// Whether starting a helper thread fails, as it does under a process limit.
// For tests.
bool& RefuseHelperThreads();
}  // namespace detail

}  // namespace tsry
