#include "conversion/parse_log.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/kept_archive.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/log_halves.h"
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

// A table of at least this many records is checked and written on two
// threads.
constexpr std::size_t kRecordsForTwoThreads = 2 * kRecordsPerReport;

// Whether `table` is large enough for two threads and the machine has the
// cores for them.
bool OnTwoThreads(const RecordTable& table) {
    return table.size() >= kRecordsForTwoThreads && std::thread::hardware_concurrency() >= 2;
}

// Throws std::system_error, as starting a thread does when none can be had,
// when a test says so.
void ThrowIfThreadsRefused() {
    if (detail::RefuseHelperThreads()) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
}

// CheckRecord on the records [begin, end) of `table`. Returns the number of
// statement groups they write.
std::size_t CheckRecords(const RecordTable& table, std::size_t begin, std::size_t end) {
    std::size_t groups = 0;
    for (std::size_t i = begin; i < end; ++i) {
        table.Prefetch(i + kPrefetchDistance);
        const LogRecord record = table[i];
        CheckRecord(record, table.LineOf(i));
        if (WritesAGroup(record)) ++groups;
    }
    return groups;
}

// Every check that can fail on a record, over the whole table, before the
// first byte of the script is written: a large table in two halves at once,
// the first failure in table order reported. Returns the number of statement
// groups the script will hold.
std::size_t CheckTable(const RecordTable& table) {
    if (!OnTwoThreads(table)) return CheckRecords(table, 0, table.size());
    const std::size_t half = table.size() / 2;
    std::future<std::size_t> later;
    try {
        ThrowIfThreadsRefused();
        later = std::async(std::launch::async, CheckRecords, std::cref(table), half, table.size());
    } catch (const std::system_error&) {
        // No thread to be had: one after all.
        return CheckRecords(table, 0, table.size());
    }
    std::size_t groups = 0;
    try {
        groups = CheckRecords(table, 0, half);
    } catch (...) {
        later.wait();
        throw;
    }
    return groups + later.get();
}

// How the records of a table stand in parts.
struct Parts {
    std::size_t perPart = 0;  // 0: all in main
    std::size_t count = 0;
};

// The groups of the records [begin, end) of `table`, with the starts and ends
// of the parts among them. Returns the number of groups written.
std::size_t WriteRecords(ScriptWriter& writer, const RecordTable& table, std::size_t begin,
                         std::size_t end, Parts parts) {
    const std::size_t perPart = parts.perPart;
    std::size_t groups = 0;
    for (std::size_t i = begin; i < end; ++i) {
        table.Prefetch(i + kPrefetchDistance);
        if (perPart != 0 && i % perPart == 0) writer.WritePartStart(i / perPart + 1);
        if (writer.WriteCheckedRecord(table, i)) ++groups;
        if (perPart != 0 && ((i + 1) % perPart == 0 || i + 1 == table.size())) {
            writer.WritePartEnd(i / perPart + 1, parts.count);
        }
    }
    return groups;
}

// The groups of a large table written on two threads: the table in runs of
// kRecordsPerReport records, of which a helper writes every other one, each
// into one of two buffers in turn, and the writer puts it in its place after
// writing the run before it. The helper runs at most two runs ahead.
class HelpedWriting {
  public:
    HelpedWriting(const RecordTable& table, Parts parts)
        : table_(table), parts_(parts), helper_([this] { Help(); }) {}
    ~HelpedWriting() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        helper_.join();
    }
    HelpedWriting(const HelpedWriting&) = delete;
    HelpedWriting& operator=(const HelpedWriting&) = delete;

    // Writes run `run` (0-based) into `writer`. Returns the number of groups.
    std::size_t WriteRun(ScriptWriter& writer, std::size_t run) {
        const std::size_t begin = run * kRecordsPerReport;
        const std::size_t end = std::min(begin + kRecordsPerReport, table_.size());
        if (run % 2 == 0) return WriteRecords(writer, table_, begin, end, parts_);
        const std::size_t helped = run / 2;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return written_ > helped; });
            if (error_) std::rethrow_exception(error_);
        }
        const Written& written = buffers_[helped % 2];
        writer.WriteWritten(written.text);
        const std::size_t groups = written.groups;
        {
            const std::lock_guard lock(mutex_);
            taken_ = helped + 1;
        }
        changed_.notify_all();
        return groups;
    }

  private:
    struct Written final : ByteSink {
        void Write(std::string_view bytes) override { text.append(bytes); }
        std::string text;
        std::size_t groups = 0;
    };
    // Hands the writer's bytes to the buffer of the run at hand.
    struct Into final : ByteSink {
        void Write(std::string_view bytes) override { buffer->Write(bytes); }
        Written* buffer = nullptr;
    };

    void Help() {
        Into into;
        try {
            ScriptWriter writer(into);
            for (std::size_t helped = 0;; ++helped) {
                const std::size_t begin = (2 * helped + 1) * kRecordsPerReport;
                if (begin >= table_.size()) return;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || helped < taken_ + 2; });
                    if (stop_) return;
                }
                Written& buffer = buffers_[helped % 2];
                buffer.text.clear();
                into.buffer = &buffer;
                const std::size_t end = std::min(begin + kRecordsPerReport, table_.size());
                buffer.groups = WriteRecords(writer, table_, begin, end, parts_);
                writer.Flush();
                {
                    const std::lock_guard lock(mutex_);
                    written_ = helped + 1;
                }
                changed_.notify_all();
            }
        } catch (...) {
            {
                const std::lock_guard lock(mutex_);
                error_ = std::current_exception();
                written_ = static_cast<std::size_t>(-1);
            }
            changed_.notify_all();
        }
    }

    const RecordTable& table_;
    const Parts parts_;
    Written buffers_[2];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t written_ = 0;  // runs the helper has written
    std::size_t taken_ = 0;    // runs of the helper's that the writer has put
    bool stop_ = false;
    std::exception_ptr error_;
    std::thread helper_;  // last: it starts once the rest is ready
};

// The whole script from the table, in the given layout. Every check runs
// before the first byte is written.
ConversionSummary WriteScript(const RecordTable& table, std::uint64_t steps, ScriptWriter& writer,
                              ProgressSink& progress, ScriptLayout layout) {
    const std::size_t groups = CheckTable(table);
    ConversionSummary summary;
    summary.records = table.size();
    Parts parts;
    parts.perPart = table.empty() ? 0 : layout.RecordsPerPart(groups);
    if (parts.perPart == 0) {
        writer.WriteOpening();
    } else {
        parts.count = (table.size() + parts.perPart - 1) / parts.perPart;
        summary.parts = parts.count;
        writer.WriteHeader(parts.count);
    }
    std::optional<HelpedWriting> helped;
    if (OnTwoThreads(table)) {
        try {
            ThrowIfThreadsRefused();
            helped.emplace(table, parts);
        } catch (const std::system_error&) {
            // No thread to be had: the writer alone writes every run.
        }
    }
    for (std::size_t begin = 0; begin < table.size(); begin += kRecordsPerReport) {
        const std::size_t end = std::min(begin + kRecordsPerReport, table.size());
        summary.groups += helped ? helped->WriteRun(writer, begin / kRecordsPerReport)
                                 : WriteRecords(writer, table, begin, end, parts);
        progress.SetValue(static_cast<double>(steps + end));
    }
    summary.steps = steps + table.size();
    if (parts.perPart == 0) {
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
