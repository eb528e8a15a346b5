#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

// A scan for the first place of a marker in each line, and where it stands:
// the next byte to look at, the line ends in the bytes looked at (a CR, or an
// LF that does not follow a CR), and whether that byte is in a line whose
// marker was found already. A scan starts at the start of a line.
struct MarkerScan {
    const char* at = nullptr;
    std::uint64_t lineEnds = 0;
    bool inMarkedLine = false;
};

// A marker found: where it starts, and the line ends before it.
struct MarkerPlace {
    const char* at;
    std::uint64_t lineEnds;
};

// Scans from `scan.at` on towards `end` for the first `marker` (1 to 8 bytes,
// the first not CR or LF) of each line, into `found`, and returns how many it
// found: `room` (at least 1) when `found` is full, and the scan goes on from
// `scan` at the next call; fewer when it reached `end`, at which point
// `scan.lineEnds` counts every line end of the range. One pass over the bytes
// finds the line ends and the marker's first byte together; only the places
// of that byte are looked at any further.
std::size_t FindLineMarkers(MarkerScan& scan, const char* end, std::string_view marker,
                            MarkerPlace* found, std::size_t room) noexcept;

// The first `count` places of `c` in the line that holds `p`, into `at`;
// returns how many there are (at most `count`). Looks no further than the
// last place wanted or the line's end.
int FindInLine(const char* p, const char* end, char c, const char** at, int count) noexcept;

// The instructions the scans above run on this processor: "AVX-512",
// "AVX2" or "portable".
[[nodiscard]] const char* LineScansName() noexcept;

// Past the terminator that starts at `p` (as returned by LineEnd).
[[nodiscard]] const char* SkipLineEnd(const char* p, const char* end) noexcept;

// One past the last CR or LF in [begin, end), or `begin` when there is none.
[[nodiscard]] const char* PastLastLineEnd(const char* begin, const char* end) noexcept;

}  // namespace tsry
