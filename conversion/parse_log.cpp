#include "conversion/parse_log.h"

#include <cstring>
#include <string>

#include "conversion/line_reader.h"
#include "conversion/record_table.h"
#include "conversion/replacement_file.h"
#include "conversion/script_writer.h"

namespace tsry {

namespace {

// How many records the writing pass writes between two progress reports.
constexpr std::size_t kRecordsPerReport = 4096;

// The first tag in [p, end), or nullptr.
const char* FindTag(const char* p, const char* end) noexcept {
    const char first = kRecordTag.front();
    const std::size_t rest = kRecordTag.size() - 1;
    while (static_cast<std::size_t>(end - p) >= kRecordTag.size()) {
        const auto* hit = static_cast<const char*>(
            std::memchr(p, first, static_cast<std::size_t>(end - p) - rest));
        if (hit == nullptr) return nullptr;
        if (std::memcmp(hit + 1, kRecordTag.data() + 1, rest) == 0) return hit;
        p = hit + 1;
    }
    return nullptr;
}

// Extracts the records of one block of whole lines; returns how many lines it held.
std::uint64_t ExtractBlock(std::string_view block, std::uint64_t linesBefore, RecordTable& table) {
    const char* cursor = block.data();
    const char* const end = cursor + block.size();
    std::uint64_t lines = linesBefore;
    while (const char* tag = FindTag(cursor, end)) {
        const char* start = LineStart(cursor, tag);
        lines += CountLines(cursor, start);
        const char* lineEnd = LineEnd(tag, end);
        ++lines;
        ExtractRecordAt(std::string_view(start, static_cast<std::size_t>(lineEnd - start)),
                        static_cast<std::size_t>(tag - start), lines, table);
        cursor = SkipLineEnd(lineEnd, end);
    }
    lines += CountLines(cursor, end);
    return lines - linesBefore;
}

}  // namespace

std::string CompletionText(const std::filesystem::path& outputPath) {
    return "Parsing complete, " + outputPath.filename().string() + " created.";
}

std::uint64_t ConvertLog(LineReader& log, ByteSink& script, ProgressSink& progress) {
    RecordTable table;
    ScriptWriter writer(script);
    writer.WriteOpening();

    std::uint64_t steps = 0;
    std::string_view block;
    while (log.NextBlock(block)) {
        steps += ExtractBlock(block, steps, table);
        progress.SetValue(static_cast<double>(steps));
    }

    for (std::size_t i = 0; i < table.size(); ++i) {
        writer.WriteRecord(table, i);
        if ((i + 1) % kRecordsPerReport == 0) progress.SetValue(static_cast<double>(steps + i + 1));
    }
    steps += table.size();
    if (table.size() % kRecordsPerReport != 0) progress.SetValue(static_cast<double>(steps));

    writer.WriteClosing();
    writer.Flush();
    return steps;
}

void ParseLog(const std::filesystem::path& logPath, std::optional<std::uint64_t> lineCount,
              ProgressSink& progress, StatusText& status, const std::filesystem::path& outputPath) {
    // The log first: a log that cannot be opened leaves the script untouched.
    FileSource log(logPath);
    ReplacementFile output(outputPath);

    progress.SetMinimum(0);
    progress.SetMaximum(2.0 * static_cast<double>(lineCount.value_or(0)));
    progress.SetValue(0);
    progress.Show();

    LineReader reader(log);
    ConvertLog(reader, output, progress);
    output.Commit();

    status.SetText(CompletionText(outputPath));
    progress.Hide();
}

}  // namespace tsry
