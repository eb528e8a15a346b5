#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "conversion/reading/log_set.h"
#include "conversion/records/record_table.h"

// The list of variables: what --list prints and what an archive kept with
// --keep holds, one format written and read by the code here.
//
// A file of lines that each end with LF: the header row kListHeader, then
// one row per variable, in the order the script restores them. A row is
// seven tab-separated fields: name, kind, value, extra1, extra2, extra3 as
// logged, and the source, PATH:LINE of the log line that gave the value.
// Within a field a backslash, tab, CR or LF stands as \\, \t, \r or \n; no
// other backslash may stand. A person can read it, diff it, and import it
// into a spreadsheet or sqlite3 (its header row names the columns).

namespace tsry {

// The header row, without its line end. Its exact text names the format:
// this one is the list of release 1.1.0 on. A later format that changes the
// rows gets a header of its own, and ReadKeptList goes on taking this one.
inline constexpr std::string_view kListHeader = "name\tkind\tvalue\textra1\textra2\textra3\tsource";

// The most bytes the row of `record` logged at `source` can take.
[[nodiscard]] std::size_t ListRowBound(const LogRecord& record, SourceParts source) noexcept;

// Writes the row of `record`, logged at `source`, with its line end, at
// `out`, which has room for ListRowBound bytes. Returns the end of the row.
char* PutListRow(char* out, const LogRecord& record, SourceParts source) noexcept;

// Reads the list at `path` as the earliest part of a set: its records stored
// in `table`, which must be empty, as a log's would be, its lines numbered on
// from `places.lines()`
// (the header is its line 1), and the file added to `places` with the source
// of each row (see LinePlaces::AddKept), so that a rewritten list keeps the
// rows' sources and messages name both. A list that ends without its last
// line end, or with CR LF line ends (as an editor may leave it), reads the
// same; an empty file holds no variables. Returns false, reading nothing,
// where there is no file at `path`. Throws ConversionError: "PATH:LINE: ..."
// for a file that is no such list (another header, a row of other than seven
// fields, a bad escape), `table` left empty again; the system's reason for a
// file that cannot be read.
bool ReadKeptList(const std::filesystem::path& path, RecordTable& table, LinePlaces& places);

}  // namespace tsry
