#pragma once

#include <cstddef>
#include <filesystem>

#include "conversion/progress.h"
#include "conversion/reading/log_set.h"

// The variables of a set of logs listed, instead of a script.

namespace tsry {

// Reads `logs` as ParseLog does and writes, instead of a script, one row per
// variable name to `outputPath` (replaced as ParseLog replaces a script; "-"
// is standard output), in the order the script would restore them: the
// name, kind, value, three extras and PATH:LINE of the newest record, as
// tab-separated values under a header row. Nothing of the script's rules is
// checked, so a record that a conversion refuses is listed too. Returns the
// number of names. Throws ConversionError.
std::size_t ListLogs(const LogSet& logs, ProgressSink& progress,
                     const std::filesystem::path& outputPath);

}  // namespace tsry
