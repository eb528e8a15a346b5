#include "conversion/reading/open_log.h"

#include <atomic>
#include <string>

#include "conversion/platform/conversion_error.h"
#include "conversion/reading/gzip_source.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/log_halves.h"

namespace tsry {

// What a stream handed out while its first bytes were looked at, handed out
// again, then the rest of it.
class OpenLog::Replay final : public ByteSource {
  public:
    Replay(ByteSource& stream, std::string head) : stream_(stream), head_(std::move(head)) {}

    std::string_view NextChunk() override {
        if (!replayed_) {
            replayed_ = true;
            if (!head_.empty()) return head_;
        }
        return stream_.NextChunk();
    }
    void Finish() override { stream_.Finish(); }

  private:
    ByteSource& stream_;
    std::string head_;
    bool replayed_ = false;
};

OpenLog::OpenLog(const std::filesystem::path& path) : file_(std::make_unique<FileSource>(path)) {
    if (file_->file().plain()) {
        char head[2] = {};
        const std::size_t n = file_->file().Read(head, sizeof head, file_->start());
        if (StartsLikeGzip({head, n})) gzip_ = std::make_unique<GzipSource>(*file_, path);
        return;
    }
    // A stream is read once: its first bytes, looked at, are handed on.
    std::string head;
    while (head.size() < 2) {
        const std::string_view chunk = file_->NextChunk();
        if (chunk.empty()) break;
        head.append(chunk);
    }
    if (StartsLikeGzip(head)) {
        head_ = std::move(head);
        gzip_ = std::make_unique<GzipSource>(*file_, path, head_);
    } else {
        replay_ = std::make_unique<Replay>(*file_, std::move(head));
    }
}

OpenLog::~OpenLog() = default;

ByteSource& OpenLog::lines() noexcept {
    if (gzip_) return *gzip_;
    if (replay_) return *replay_;
    return *file_;
}

std::uint64_t OpenLog::fileBytesRead() const noexcept {
    return gzip_ ? gzip_->compressedBytesRead() : 0;
}

namespace {

// The line counts of the halves of a log, or of the whole of it.
class Counters final : public HalfReaders {
  public:
    explicit Counters(OpenLog& log) : log_(log) {}
    void ReadFirst(FileSource& /*source*/) override { first = Count(log_.lines()); }
    void ReadSecond(FileSource& source) override { second = Count(source); }
    void StopSecond() noexcept override { stop_ = true; }

    std::uint64_t first = 0;
    std::uint64_t second = 0;

  private:
    std::uint64_t Count(ByteSource& source) {
        LineReader reader(source, LineDetail::kRecordsOnly);
        std::uint64_t lines = 0;
        std::string_view block;
        while (!stop_.load(std::memory_order_relaxed) && reader.NextBlock(block)) {
            lines += CountLines(block.data(), block.data() + block.size());
        }
        return lines;
    }

    OpenLog& log_;
    std::atomic<bool> stop_{false};
};

}  // namespace

std::uint64_t CountFileLines(const LogSet& logs) {
    try {
        std::uint64_t total = 0;
        for (const std::filesystem::path& path : ExpandLogSet(logs)) {
            OpenLog log(path);
            Counters counters(log);
            if (log.compressed()) {
                counters.ReadFirst(log.file());
            } else {
                ReadInHalves(log.file(), counters);
            }
            total += counters.first + counters.second;
        }
        return total;
    } catch (...) {
        RethrowAsConversionError();
    }
}

std::uint64_t CountFileLines(const std::filesystem::path& log) {
    return CountFileLines(LogSet{log});
}

}  // namespace tsry
