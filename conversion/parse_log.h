#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "conversion/reading/line_reader.h"
#include "conversion/reading/log_set.h"
#include "conversion/script/script_writer.h"

// The conversion run: a log in, the restore script out.

namespace tsry {

// The progress bar a run drives. Values are whole numbers of steps: one per
// log line read, then one per record written.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void SetMinimum(double value) = 0;
    virtual void SetMaximum(double value) = 0;
    virtual void SetValue(double value) = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // How much of the log has been read, in bytes, while it is read; `size`
    // is the size of a plain file, or 0 for a stream. For a bar that follows
    // the reading itself, where the line count is not known.
    virtual void SetBytesRead(std::uint64_t /*bytes*/, std::uint64_t /*size*/) {}
};

// The one-line status text a run sets when it succeeds.
class StatusText {
  public:
    virtual ~StatusText() = default;
    virtual void SetText(std::string_view text) = 0;
};

// A ProgressSink and StatusText that ignore everything.
class NoProgress final : public ProgressSink {
  public:
    void SetMinimum(double) override {}
    void SetMaximum(double) override {}
    void SetValue(double) override {}
    void Show() override {}
    void Hide() override {}
};
class NoStatus final : public StatusText {
  public:
    void SetText(std::string_view) override {}
};

inline constexpr std::string_view kDefaultScriptName = "tsry.nss";

// What a successful run wrote.
struct ConversionSummary {
    std::uint64_t steps = 0;  // lines read plus records visited
    std::size_t records = 0;  // variable names, one record each
    std::size_t groups = 0;   // statement groups written
    std::size_t parts = 0;    // functions of a script in parts; 0 for one main
    bool direct = false;      // written straight to a device, a pipe or standard output
};

// Reads the logs of `logs` one after another as one log (a folder stands for
// the files beneath it, see ExpandLogSet; each file's last line ends with the
// file), keeps the newest record of every name and writes the restore script
// to `outputPath`, as below. Messages about a place in a log name it
// PATH:LINE.
ConversionSummary ParseLog(const LogSet& logs, std::optional<std::uint64_t> lineCount,
                           ProgressSink& progress, StatusText& status,
                           const std::filesystem::path& outputPath = kDefaultScriptName,
                           ScriptLayout layout = {});

// Reads the log at `logPath`, keeps the newest record of every name and writes
// the restore script to `outputPath`, replacing it whole or, on failure, not at
// all (see ReplacementFile; "-" is standard output). Every check that can fail
// runs before the first byte of the script is written. `lineCount` is the log's line count as last
// counted, if ever; it sizes the progress range to 2 * lineCount. Ends with the status "Parsing
// complete, <file name> created." and hides the progress bar. Throws ConversionError, leaving the
// progress bar as it was.
ConversionSummary ParseLog(const std::filesystem::path& logPath,
                           std::optional<std::uint64_t> lineCount, ProgressSink& progress,
                           StatusText& status,
                           const std::filesystem::path& outputPath = kDefaultScriptName,
                           ScriptLayout layout = {});

// Reads `logs` as ParseLog does and writes, instead of a script, one row per
// variable name to `outputPath` (replaced as ParseLog replaces a script; "-"
// is standard output), in the order the script would restore them: the
// name, kind, value, three extras and PATH:LINE of the newest record, as
// tab-separated values under a header row. Nothing of the script's rules is
// checked, so a record that a conversion refuses is listed too. Returns the
// number of names. Throws ConversionError.
std::size_t ListLogs(const LogSet& logs, ProgressSink& progress,
                     const std::filesystem::path& outputPath);

// The conversion itself, from any source of lines to any sink: the whole
// script, flushed to `script`, with the progress value raised as lines are
// read and records written. ParseLog is this between opening the files and
// replacing the script.
ConversionSummary ConvertLog(LineReader& log, ByteSink& script, ProgressSink& progress,
                             ScriptLayout layout = {});

// The status text of a successful run that wrote `outputPath`.
[[nodiscard]] std::string CompletionText(const std::filesystem::path& outputPath,
                                         bool direct = false);

}  // namespace tsry
