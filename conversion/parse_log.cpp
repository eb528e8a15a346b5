#include "conversion/parse_log.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "conversion/kept_archive.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/read_log_set.h"
#include "conversion/records/record_table.h"
#include "conversion/script/replacement_file.h"
#include "conversion/script/script_writer.h"

namespace tsry {

namespace {

// How many records the writing pass writes between two progress reports.
constexpr std::size_t kRecordsPerReport = 4096;
// How far ahead of the record at hand the passes over the table ask for the
// memory of a record.
constexpr std::size_t kPrefetchDistance = 16;

// Every check that can fail on a record, over the whole table, before the
// first byte of the script is written. Returns the number of statement groups
// the script will hold.
std::size_t CheckTable(const RecordTable& table) {
    std::size_t groups = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        table.Prefetch(i + kPrefetchDistance);
        const LogRecord record = table[i];
        CheckRecord(record, table.LineOf(i));
        if (WritesAGroup(record)) ++groups;
    }
    return groups;
}

// The whole script from the table, in the given layout. Every check runs
// before the first byte is written.
ConversionSummary WriteScript(const RecordTable& table, std::uint64_t steps, ScriptWriter& writer,
                              ProgressSink& progress, ScriptLayout layout) {
    const std::size_t groups = CheckTable(table);
    ConversionSummary summary;
    summary.records = table.size();
    const std::size_t perPart = table.empty() ? 0 : layout.RecordsPerPart(groups);
    if (perPart == 0) {
        writer.WriteOpening();
    } else {
        summary.parts = (table.size() + perPart - 1) / perPart;
        writer.WriteHeader(summary.parts);
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        table.Prefetch(i + kPrefetchDistance);
        if (perPart != 0 && i % perPart == 0) writer.WritePartStart(i / perPart + 1);
        if (writer.WriteCheckedRecord(table, i)) ++summary.groups;
        if (perPart != 0 && ((i + 1) % perPart == 0 || i + 1 == table.size())) {
            writer.WritePartEnd(i / perPart + 1, summary.parts);
        }
        if ((i + 1) % kRecordsPerReport == 0) progress.SetValue(static_cast<double>(steps + i + 1));
    }
    summary.steps = steps + table.size();
    if (table.size() % kRecordsPerReport != 0)
        progress.SetValue(static_cast<double>(summary.steps));
    if (perPart == 0) {
        writer.WriteClosing();
    } else {
        writer.WriteSchedule();
    }
    writer.Flush();
    return summary;
}

}  // namespace

std::string CompletionText(const std::filesystem::path& outputPath, bool direct,
                           std::size_t parts) {
    std::string text;
    if (outputPath == std::filesystem::path(kStandardOutput)) {
        text = "Parsing complete, script written to standard output.";
    } else if (direct) {
        text = "Parsing complete, script written to " + PathText(outputPath) + ".";
    } else {
        text = "Parsing complete, " + PathText(outputPath.filename()) + " created.";
    }
    if (parts == 1) text += "\nIn 1 part, run after main.";
    if (parts > 1) text += "\nIn " + std::to_string(parts) + " parts, run one after another.";
    return text;
}

ConversionSummary ConvertLog(LineReader& log, ByteSink& script, ProgressSink& progress,
                             ScriptLayout layout) {
    RecordTable table;
    ScriptWriter writer(script);
    std::uint64_t steps = 0;
    std::string_view block;
    std::vector<PendingRecord> batch;
    while (log.NextBlock(block)) {
        steps += ExtractBlock(block, steps, table, batch);
        progress.SetValue(static_cast<double>(steps));
    }
    return WriteScript(table, steps, writer, progress, layout);
}

ConversionSummary ParseLog(const LogSet& logs, std::optional<std::uint64_t> lineCount,
                           ProgressSink& progress, StatusText& status,
                           const std::filesystem::path& outputPath, ScriptLayout layout,
                           const std::filesystem::path& archive) {
    try {
        // Every log is looked at first: a log that cannot be opened, or that
        // the script or the archive would replace, leaves both untouched.
        std::vector<std::filesystem::path> written{outputPath};
        if (!archive.empty()) written.push_back(archive);
        std::vector<std::string> notes;
        const LogSet set = ExpandLogSetFor(logs, written, &notes);
        RefuseToOverwriteALog(set, outputPath);
        if (!archive.empty()) RefuseToKeepALog(set, archive, outputPath);
        ReplacementFile output(outputPath);

        progress.SetMinimum(0);
        progress.SetMaximum(2.0 * static_cast<double>(lineCount.value_or(0)));
        progress.SetValue(0);
        std::optional<KeptArchive> kept;
        SetRecords records;
        if (!archive.empty()) kept.emplace(archive).Read(records);
        ReadLogSet(set, progress, records);
        // Nothing read is lost, whatever the script makes of it.
        if (kept) kept->Replace(records);
        ScriptWriter writer(output);
        ConversionSummary summary;
        try {
            summary = WriteScript(records.table, records.places.lines(), writer, progress, layout);
        } catch (const RecordError& e) {
            std::string message = records.places.Name(e.line()) + ": " + e.detail();
            if (kept) {
                message += "\nThe script " + QuotedPath(outputPath) +
                           " is left as it was; the archive " + QuotedPath(archive) +
                           " holds every variable read.";
            }
            throw ConversionError(message);
        }
        output.Commit();
        summary.direct = output.direct();
        summary.notes = std::move(notes);

        status.SetText(CompletionText(outputPath, output.direct(), summary.parts));
        progress.Hide();
        return summary;
    } catch (...) {
        RethrowAsConversionError();
    }
}

ConversionSummary WriteScriptFile(const RecordTable& table, const std::filesystem::path& outputPath,
                                  ScriptLayout layout) {
    ReplacementFile output(outputPath);
    ScriptWriter writer(output);
    NoProgress none;
    ConversionSummary summary = WriteScript(table, 0, writer, none, layout);
    output.Commit();
    summary.direct = output.direct();
    return summary;
}

ConversionSummary ParseLog(const std::filesystem::path& logPath,
                           std::optional<std::uint64_t> lineCount, ProgressSink& progress,
                           StatusText& status, const std::filesystem::path& outputPath,
                           ScriptLayout layout) {
    return ParseLog(LogSet{logPath}, lineCount, progress, status, outputPath, layout);
}

}  // namespace tsry
