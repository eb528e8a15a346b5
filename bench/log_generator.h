#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

// Server logs made up for tests and benchmarks, the same bytes for the same
// options: timestamped server chatter with a share of tagged records of every
// kind over a fixed set of variable names.

namespace tsry::bench {

struct LogShape {
    std::uint64_t bytes = 1 << 20;  // stop after the line that passes this size
    std::uint64_t names = 20000;    // distinct variable names
    double taggedShare = 0.05;      // share of lines that are records
    std::string lineEnd = "\r\n";   // "\r\n", "\n" or "\r"
    std::uint64_t seed = 1;
    // Also writes the awkward cases: empty fields, quotes and backslashes,
    // unknown kinds, tags at the start of a line, two tags, long lines, a last
    // line without its end.
    bool tricky = false;
    // Records of FLT and LOC alone, their numbers random floats written as the
    // game writes floats: nine decimals, padded with spaces to 18 characters.
    bool floats = false;
    // Records of FLT and LOC alone whose numbers need the slowest literals:
    // the four numbers of a location near the top of the float range,
    // written with nine decimals as the game writes floats, and FLT values
    // that need 9 to 20 digits after the point. None of them reads as
    // logged.
    bool slowFloats = false;
    // With `slowFloats`: the same records, names and lines, but every number
    // a plain half ("1.5"), which reads as logged. The log is as long as the
    // one without `halves` would be, in lines: it stops where that one would.
    bool halves = false;
};

// Writes one line of about `bytes` bytes holding one record: half of it server
// text before the tag, the rest after the record's last "#" or, with
// `hugeValue`, in the record's Value.
void GenerateLongLine(std::uint64_t bytes, bool hugeValue, std::ostream& out);

// Writes a log of `shape` to `out`; returns the number of lines written.
std::uint64_t GenerateLog(const LogShape& shape, std::ostream& out);

// Parses "512M", "1G", "300K" or a plain number of bytes; 0 when malformed.
std::uint64_t ParseSize(std::string_view text);

}  // namespace tsry::bench
