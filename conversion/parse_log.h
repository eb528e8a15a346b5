#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/progress.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/log_set.h"
#include "conversion/records/record_table.h"
#include "conversion/script/script_writer.h"

// The conversion run: a log in, the restore script out.

namespace tsry {

inline constexpr std::string_view kDefaultScriptName = "tsry.nss";

// What a successful run wrote.
struct ConversionSummary {
    std::uint64_t steps = 0;         // lines read plus records visited
    std::size_t records = 0;         // variable names, one record each
    std::size_t groups = 0;          // statement groups written
    std::size_t parts = 0;           // functions of a script in parts; 0 for one main
    bool direct = false;             // written straight to a device, a pipe or standard output
    std::vector<std::string> notes;  // what the user should know: a file left out, say
};

// Reads the logs of `logs` one after another as one log (a folder stands for
// the files beneath it, see ExpandLogSet; each file's last line ends with the
// file), keeps the newest record of every name and writes the restore script
// to `outputPath`, as below. Messages about a place in a log name it
// PATH:LINE.
//
// With an `archive` (see KeptArchive), reads it first, as the earliest part
// of the set, and replaces it with the merged list before the script is
// written. When the script is refused (a record it cannot hold), the archive
// is still replaced, and the error says so; the script stays as it was.
ConversionSummary ParseLog(const LogSet& logs, std::optional<std::uint64_t> lineCount,
                           ProgressSink& progress, StatusText& status,
                           const std::filesystem::path& outputPath = kDefaultScriptName,
                           ScriptLayout layout = {}, const std::filesystem::path& archive = {});

// Reads the log at `logPath`, keeps the newest record of every name and writes
// the restore script to `outputPath`, replacing it whole or, on failure, not at
// all (see ReplacementFile; "-" is standard output). Every check that can fail
// runs before the first byte of the script is written. `lineCount` is the log's line count as last
// counted, if ever; it sizes the progress range to 2 * lineCount. The statement groups stand
// as `layout` says: by default, in parts once there are more than the game may run in one go.
// Ends with the status CompletionText and hides the progress bar. Throws ConversionError,
// leaving the progress bar as it was.
ConversionSummary ParseLog(const std::filesystem::path& logPath,
                           std::optional<std::uint64_t> lineCount, ProgressSink& progress,
                           StatusText& status,
                           const std::filesystem::path& outputPath = kDefaultScriptName,
                           ScriptLayout layout = {});

// The conversion itself, from any source of lines to any sink: the whole
// script, flushed to `script`, with the progress value raised as lines are
// read and records written. ParseLog is this between opening the files and
// replacing the script.
ConversionSummary ConvertLog(LineReader& log, ByteSink& script, ProgressSink& progress,
                             ScriptLayout layout = {});

// Replaces the script at `outputPath` with the script of `table`, as ParseLog
// does. Throws RecordError, with the table's line number, for a record the
// script cannot hold, before anything is written; ConversionError otherwise.
ConversionSummary WriteScriptFile(const RecordTable& table, const std::filesystem::path& outputPath,
                                  ScriptLayout layout = {});

// The status text of a successful run that wrote `outputPath`: "Parsing
// complete, <file name> created.", and for a script in parts a second line
// that says how many, such as "In 21 parts, run one after another.", short
// enough for the window's status line.
[[nodiscard]] std::string CompletionText(const std::filesystem::path& outputPath,
                                         bool direct = false, std::size_t parts = 0);

}  // namespace tsry
