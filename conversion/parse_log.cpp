#include "conversion/parse_log.h"

#include <cstring>
#include <string>
#include <vector>

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
    static_assert(kRecordTag.size() == 7);
    while (end - p >= 7) {
        const auto* hit = static_cast<const char*>(
            std::memchr(p, kRecordTag[0], static_cast<std::size_t>(end - p) - 6));
        if (hit == nullptr) return nullptr;
        if (hit[1] == kRecordTag[1] && hit[2] == kRecordTag[2] && hit[3] == kRecordTag[3] &&
            hit[4] == kRecordTag[4] && hit[5] == kRecordTag[5] && hit[6] == kRecordTag[6]) {
            return hit;
        }
        p = hit + 1;
    }
    return nullptr;
}

// Cuts the records of one block of whole lines into `batch` and stores them;
// returns how many lines the block held.
std::uint64_t ExtractBlock(std::string_view block, std::uint64_t linesBefore, RecordTable& table,
                           std::vector<PendingRecord>& batch) {
    const char* cursor = block.data();
    const char* const end = cursor + block.size();
    std::uint64_t lines = linesBefore;  // lines that start before the cursor
    batch.clear();
    while (const char* tag = FindTag(cursor, end)) {
        // The lines that start before the tag, the tagged line among them
        // unless the tag is its first character.
        lines += CountLines(cursor, tag);
        if (tag == cursor || IsLineEnd(tag[-1])) ++lines;
        PendingRecord& pending = batch.emplace_back();
        pending.line = lines;
        cursor = SkipLineEnd(CutRecord(tag, end, lines, pending.record), end);
    }
    lines += CountLines(cursor, end);
    table.StoreAll(batch);
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
    std::vector<PendingRecord> batch;
    while (log.NextBlock(block)) {
        steps += ExtractBlock(block, steps, table, batch);
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
