#pragma once

#include <cstdint>

// What a line of a log is, and the scans that find where lines end.
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

// The first `count` places of `c` in the line that holds `p`, into `at`, and
// how many there are (at most `count`) in `found`; returns the line's
// terminator, or `end` when the line runs to the end of the range. One pass
// over the line as far as the last place wanted, the rest of it looked at
// only for its end.
const char* FindAllInLine(const char* p, const char* end, char c, const char** at, int count,
                          int& found) noexcept;

// Past the terminator that starts at `p` (as returned by LineEnd).
[[nodiscard]] const char* SkipLineEnd(const char* p, const char* end) noexcept;

// One past the last CR or LF in [begin, end), or `begin` when there is none.
[[nodiscard]] const char* PastLastLineEnd(const char* begin, const char* end) noexcept;

}  // namespace tsry
