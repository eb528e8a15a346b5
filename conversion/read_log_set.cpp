#include "conversion/read_log_set.h"

#include <atomic>
#include <optional>
#include <utility>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"
#include "conversion/script/replacement_file.h"

namespace tsry {

std::uint64_t ExtractBlock(std::string_view block, std::uint64_t linesBefore, RecordTable& table,
                           std::vector<PendingRecord>& batch) {
    static_assert(kRecordTag.size() <= 8, "the marker scans take markers of up to 8 bytes");
    const char* const end = block.data() + block.size();
    MarkerScan scan{block.data()};
    constexpr std::size_t kRoom = 256;
    MarkerPlace tags[kRoom];
    batch.clear();
    std::size_t found = 0;
    do {
        found = FindLineMarkers(scan, end, kRecordTag, tags, kRoom);
        for (std::size_t k = 0; k < found; ++k) {
            PendingRecord& pending = batch.emplace_back();
            pending.line = linesBefore + tags[k].lineEnds + 1;
            CutRecord(tags[k].at, end, pending.line, pending.record);
        }
    } while (found == kRoom);
    table.StoreAll(batch);
    // A last line without its line end counts too.
    return scan.lineEnds + (block.empty() || IsLineEnd(block.back()) ? 0 : 1);
}

namespace {

// What one reader of a part of a log found.
struct Extraction {
    explicit Extraction(RecordTable& into) : table(into) {}
    RecordTable& table;
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    // A record line of this part cut short: its line number in the part and
    // the fields it has.
    std::optional<std::pair<std::uint64_t, int>> malformed;
};

// Reads `source` (the lines of `file`) to its end into `part`, its lines
// numbered from `lineBase` + 1 on, calling afterBlock() after each block of
// lines, until it returns false.
template <class AfterBlock>
void ReadPart(ByteSource& source, FileSource& file, std::uint64_t lineBase, Extraction& part,
              AfterBlock&& afterBlock) {
    LineReader reader(source, LineDetail::kRecordsOnly);
    std::vector<PendingRecord> batch;
    std::string_view block;
    try {
        while (reader.NextBlock(block)) {
            part.lines += ExtractBlock(block, lineBase + part.lines, part.table, batch);
            part.bytes += block.size();
            if (!afterBlock()) return;
        }
    } catch (const MalformedRecord&) {
        // A record cut short by a log cut short is the log's fault.
        file.ThrowIfCutShort();
        throw;
    }
}

// The progress of the reading of a set: lines and bytes of the logs read
// before the one being read, and of that one so far.
class SetProgress {
  public:
    SetProgress(ProgressSink& sink, std::uint64_t totalBytes)
        : sink_(sink), totalBytes_(totalBytes) {}

    void Report(std::uint64_t lines, std::uint64_t bytes) {
        sink_.SetValue(static_cast<double>(linesBefore_ + lines));
        sink_.SetBytesRead(bytesBefore_ + bytes, totalBytes_);
    }
    // The log being read is done, with so many lines and bytes.
    void Done(std::uint64_t lines, std::uint64_t bytes) {
        linesBefore_ += lines;
        bytesBefore_ += bytes;
    }

  private:
    ProgressSink& sink_;
    std::uint64_t totalBytes_;
    std::uint64_t linesBefore_ = 0;
    std::uint64_t bytesBefore_ = 0;
};

// The extraction pass over one log of a set, into the set's table, in two
// halves at once where that pays: the second on a helper thread that does
// nothing but read and cut its own records into a table of its own. The
// halves are then merged as one reader would have stored them: the first
// half's records, then the second's in their order, numbered after the first
// half's lines. Errors are those of the first bad line in log order.
class LogExtraction final : public HalfReaders {
  public:
    // `secondTable` holds the second half's records: emptied here, and kept
    // from one log of a set to the next with its memory.
    LogExtraction(OpenLog& log, RecordTable& table, RecordTable& secondTable,
                  std::uint64_t lineBase, SetProgress& progress)
        : log_(log), lineBase_(lineBase), progress_(progress), first(table), second_(secondTable) {
        second_.table.Clear();
    }

    void ReadFirst(FileSource& source) override {
        ReadPart(log_.lines(), source, lineBase_, first, [this] {
            Report();
            return true;
        });
    }
    void ReadSecond(FileSource& source) override {
        try {
            ReadPart(source, source, 0, second_, [this] {
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
    void Waiting() override { Report(); }

    // Puts the second half, if any, after the first.
    void Merge() {
        const std::uint64_t before = lineBase_ + first.lines;
        if (second_.malformed) {
            throw MalformedRecord(before + second_.malformed->first, second_.malformed->second);
        }
        first.table.StoreAllOf(second_.table, before);
        first.lines += second_.lines;
        first.bytes += second_.bytes;
        Report();
    }

    // The bytes of the log's file read, for progress.
    [[nodiscard]] std::uint64_t fileBytes() const {
        return log_.compressed() ? log_.fileBytesRead() : first.bytes + secondBytes_.load();
    }

  private:
    // Progress of both halves; the second's share is 0 until it starts.
    void Report() { progress_.Report(first.lines + secondLines_.load(), fileBytes()); }

    OpenLog& log_;
    std::uint64_t lineBase_;
    SetProgress& progress_;

  public:
    Extraction first;

  private:
    Extraction second_;
    std::atomic<std::uint64_t> secondLines_{0};
    std::atomic<std::uint64_t> secondBytes_{0};
    std::atomic<bool> stop_{false};
};

// The sizes of the plain files among `logs`, for progress; 0 when any log is
// a stream, whose size is not known.
std::uint64_t PlainSizes(const LogSet& logs) {
    std::uint64_t total = 0;
    for (const std::filesystem::path& log : logs) {
        std::error_code error;
        if (log == std::filesystem::path(platform::kStandardInput) ||
            !std::filesystem::is_regular_file(log, error)) {
            return 0;
        }
        total += std::filesystem::file_size(log, error);
    }
    return total;
}

}  // namespace

void ReadLogSet(const LogSet& logs, ProgressSink& sink, SetRecords& records) {
    const std::uint64_t totalBytes = PlainSizes(logs);
    sink.SetBytesRead(0, totalBytes);
    sink.Show();
    SetProgress progress(sink, totalBytes);
    RecordTable& table = records.table;
    RecordTable secondHalves;
    LinePlaces& places = records.places;
    try {
        for (const std::filesystem::path& path : logs) {
            places.Reading(path);
            OpenLog log(path);
            LogExtraction extraction(log, table, secondHalves, places.lines(), progress);
            if (log.compressed()) {
                extraction.ReadFirst(log.file());
            } else if (ReadInHalves(log.file(), extraction)) {
                extraction.Merge();
            }
            places.Add(path, extraction.first.lines);
            progress.Done(extraction.first.lines, extraction.fileBytes());
        }
    } catch (const RecordError& e) {
        throw ConversionError(places.Name(e.line()) + ": " + e.detail());
    }
}

LogSet ExpandLogSetFor(const LogSet& given, std::span<const std::filesystem::path> written,
                       std::vector<std::string>* notes) {
    struct Written {
        std::filesystem::path path;
        bool link;  // a symbolic link, to the file it replaces
        std::optional<platform::FileIdentity> identity;
        std::filesystem::path::string_type name;
        TemporaryFilesOf temporary;
        std::filesystem::path lock;
    };
    std::vector<Written> files;
    for (const std::filesystem::path& path : written) {
        std::filesystem::path lock = ReplacedFile(path);
        if (!lock.empty()) lock += ".lock";
        std::error_code error;
        files.push_back({path, std::filesystem::is_symlink(path, error),
                         platform::OutputIdentity(path), path.filename().native(),
                         TemporaryFilesOf(path), std::move(lock)});
    }
    return ExpandLogSet(given, [&](const std::filesystem::path& file) {
        for (const Written& out : files) {
            if (out.identity && platform::PlainFileIdentity(file) == out.identity) {
                // The file itself, or a link to it; what a link written
                // points to, under another name, is a log it would replace.
                std::error_code error;
                if (file.filename().native() == out.name ||
                    std::filesystem::is_symlink(file, error)) {
                    return true;
                }
                if (out.link) return false;
                if (notes != nullptr) {
                    notes->push_back(QuotedPath(file) +
                                     " is left out: it is another name (a hard "
                                     "link) of " +
                                     QuotedPath(out.path) +
                                     ", which this run "
                                     "writes");
                }
                return true;
            }
            if (out.temporary.Holds(file)) return true;
            if (!out.lock.empty() && file.filename() == out.lock.filename()) {
                std::error_code error;
                if (std::filesystem::equivalent(file, out.lock, error)) return true;
            }
        }
        return false;
    });
}

LogSet ExpandLogSetFor(const LogSet& given, const std::filesystem::path& output) {
    return ExpandLogSetFor(given, std::span(&output, 1));
}

void RefuseToOverwriteALog(const LogSet& logs, const std::filesystem::path& output,
                           std::string_view what) {
    const std::optional<platform::FileIdentity> written = platform::OutputIdentity(output);
    for (const std::filesystem::path& log : logs) {
        const std::optional<platform::FileIdentity> read = platform::PlainFileIdentity(log);
        if (!written || read != written) continue;
        const bool stream = output == std::filesystem::path(kStandardOutput) ||
                            platform::OutputDescriptor(output).has_value();
        const std::string message = "the " + std::string(what) + " " + QuotedPath(output) +
                                    (stream ? " would be written into the log it is made from"
                                            : " would replace the log it is made from");
        throw ConversionError(message);
    }
}

}  // namespace tsry
