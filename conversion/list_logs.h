#pragma once

#include <cstddef>
#include <filesystem>

#include "conversion/progress.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/log_set.h"
#include "conversion/script/byte_sink.h"

// The variables of a set of logs listed, instead of a script.

namespace tsry {

// Reads `logs` as ParseLog does and writes, instead of a script, one row per
// variable name to `outputPath` (replaced as ParseLog replaces a script; "-"
// is standard output), in the order the script would restore them: the
// name, kind, value, three extras and PATH:LINE of the newest record, as
// tab-separated values under a header row (reading/kept_list.h). Nothing of
// the script's rules is checked, so a record that a conversion refuses is
// listed too. A folder leaves out what a conversion leaves out: the script
// it would write (tsry.nss here), the list itself, the archive. With an
// `archive` (see KeptArchive), reads it first, replaces it with the merged
// list, and lists that. Returns the number of names. Throws ConversionError.
std::size_t ListLogs(const LogSet& logs, ProgressSink& progress,
                     const std::filesystem::path& outputPath,
                     const std::filesystem::path& archive = {});

// The list of `records`: the header row, then a row for each record in table
// order, its source as records.places names it (LinePlaces::Source).
void WriteList(const SetRecords& records, ByteSink& sink);

}  // namespace tsry
