#include "conversion/parse_log.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "conversion/file_source.h"
#include "conversion/line_reader.h"
#include "conversion/log_halves.h"
#include "conversion/platform.h"
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

// What one reader of a part of the log found.
struct Extraction {
    RecordTable table;
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    // A record line of this part cut short: its line number in the part and
    // the fields it has.
    std::optional<std::pair<std::uint64_t, int>> malformed;
};

// Reads `source` to its end into `part`, calling afterBlock() after each block
// of lines, until it returns false.
template <class AfterBlock>
void ReadPart(FileSource& source, Extraction& part, AfterBlock&& afterBlock) {
    LineReader reader(source, LineDetail::kRecordsOnly);
    std::vector<PendingRecord> batch;
    std::string_view block;
    try {
        while (reader.NextBlock(block)) {
            part.lines += ExtractBlock(block, part.lines, part.table, batch);
            part.bytes += block.size();
            if (!afterBlock()) return;
        }
    } catch (const MalformedRecord&) {
        // A record cut short by a log cut short is the log's fault.
        source.ThrowIfCutShort();
        throw;
    }
}

// The extraction pass over the whole log, in two halves at once where that
// pays: the second on a helper thread that does nothing but read and cut its
// own records. The halves are then merged as one reader would have stored
// them: the first half's table, then the second's records in their order,
// numbered after the first half's lines. Errors are those of the first bad
// line in log order.
class LogExtraction final : public HalfReaders {
  public:
    explicit LogExtraction(ProgressSink& progress) : progress_(progress) {}

    void ReadFirst(FileSource& source) override {
        total_ = source.plainFileSize();
        ReadPart(source, first, [this] {
            Report(first.lines, first.bytes);
            return true;
        });
    }
    void ReadSecond(FileSource& source) override {
        try {
            ReadPart(source, second_, [this] {
                secondLines_.store(second_.lines, std::memory_order_relaxed);
                secondBytes_.store(second_.bytes, std::memory_order_relaxed);
                return !stop_.load(std::memory_order_relaxed);
            });
        } catch (const MalformedRecord& e) {
            // Numbered from the log's start once the first half is counted.
            second_.malformed.emplace(e.line(), e.fieldsFound());
        }
    }
    void StopSecond() noexcept override { stop_ = true; }
    void Waiting() override { Report(first.lines, first.bytes); }

    // Puts the second half, if any, after the first.
    void Merge() {
        if (second_.malformed) {
            throw MalformedRecord(first.lines + second_.malformed->first,
                                  second_.malformed->second);
        }
        // In batches, so that the look-ups of many names overlap.
        std::vector<PendingRecord> batch;
        for (std::size_t i = 0; i < second_.table.size();) {
            batch.clear();
            for (; i < second_.table.size() && batch.size() < 256; ++i) {
                batch.push_back({second_.table[i], first.lines + second_.table.LineOf(i), 0});
            }
            first.table.StoreAll(batch);
        }
        first.lines += second_.lines;
        first.bytes += second_.bytes;
        Report(first.lines, first.bytes);
    }

    Extraction first;

  private:
    // Progress of both halves; the second's share is 0 until it starts.
    void Report(std::uint64_t lines, std::uint64_t bytes) {
        progress_.SetValue(static_cast<double>(lines + secondLines_.load()));
        progress_.SetBytesRead(bytes + secondBytes_.load(), total_);
    }

    ProgressSink& progress_;
    std::uint64_t total_ = 0;
    Extraction second_;
    std::atomic<std::uint64_t> secondLines_{0};
    std::atomic<std::uint64_t> secondBytes_{0};
    std::atomic<bool> stop_{false};
};

// Every check that can fail on a record, over the whole table, before the
// first byte of the script is written.
void CheckTable(const RecordTable& table) {
    for (std::size_t i = 0; i < table.size(); ++i) CheckRecord(table[i], table.LineOf(i));
}

// The whole script from the table, in the given layout. Every check runs
// before the first byte is written.
ConversionSummary WriteScript(const RecordTable& table, std::uint64_t steps, ScriptWriter& writer,
                              ProgressSink& progress, ScriptLayout layout) {
    CheckTable(table);
    ConversionSummary summary;
    summary.records = table.size();
    const std::size_t perPart = table.empty() ? 0 : layout.recordsPerPart;
    if (perPart == 0) {
        writer.WriteOpening();
    } else {
        writer.WriteHeader();
        summary.parts = (table.size() + perPart - 1) / perPart;
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (perPart != 0 && i % perPart == 0) writer.WritePartStart(i / perPart + 1);
        if (writer.WriteRecord(table, i)) ++summary.groups;
        if (perPart != 0 && ((i + 1) % perPart == 0 || i + 1 == table.size())) {
            writer.WritePartEnd();
        }
        if ((i + 1) % kRecordsPerReport == 0) progress.SetValue(static_cast<double>(steps + i + 1));
    }
    summary.steps = steps + table.size();
    if (table.size() % kRecordsPerReport != 0)
        progress.SetValue(static_cast<double>(summary.steps));
    if (perPart == 0) {
        writer.WriteClosing();
    } else {
        writer.WriteSchedule(summary.parts);
    }
    writer.Flush();
    return summary;
}

// Refuses, before anything is read or written, an output that is the log
// itself under any name (a link, a hard link, another spelling, standard
// output sent into it): the script would take the place of its only source.
void RefuseToOverwriteTheLog(const FileSource& log, const std::filesystem::path& output) {
    if (!log.file().plain()) return;
    const std::optional<platform::FileIdentity> written = platform::OutputIdentity(output);
    if (!written || *written != log.file().identity()) return;
    const bool stream = output == std::filesystem::path(kStandardOutput) ||
                        platform::OutputDescriptor(output).has_value();
    throw ConversionError("the script " + QuotedPath(output) +
                          (stream ? " would be written into the log it is made from"
                                  : " would replace the log it is made from"));
}

}  // namespace

std::string CompletionText(const std::filesystem::path& outputPath, bool direct) {
    if (outputPath == std::filesystem::path(kStandardOutput)) {
        return "Parsing complete, script written to standard output.";
    }
    if (direct) return "Parsing complete, script written to " + PathText(outputPath) + ".";
    return "Parsing complete, " + PathText(outputPath.filename()) + " created.";
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

ConversionSummary ParseLog(const std::filesystem::path& logPath,
                           std::optional<std::uint64_t> lineCount, ProgressSink& progress,
                           StatusText& status, const std::filesystem::path& outputPath,
                           ScriptLayout layout) {
    try {
        // The log first: a log that cannot be opened leaves the script untouched.
        FileSource log(logPath);
        RefuseToOverwriteTheLog(log, outputPath);
        ReplacementFile output(outputPath);

        progress.SetMinimum(0);
        progress.SetMaximum(2.0 * static_cast<double>(lineCount.value_or(0)));
        progress.SetValue(0);
        progress.SetBytesRead(0, log.plainFileSize());
        progress.Show();

        ScriptWriter writer(output);
        LogExtraction extraction(progress);
        if (ReadInHalves(log, extraction)) extraction.Merge();
        ConversionSummary summary =
            WriteScript(extraction.first.table, extraction.first.lines, writer, progress, layout);
        output.Commit();
        summary.direct = output.direct();

        status.SetText(CompletionText(outputPath, output.direct()));
        progress.Hide();
        return summary;
    } catch (...) {
        RethrowAsConversionError();
    }
}

}  // namespace tsry
