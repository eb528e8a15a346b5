#include "conversion/reading/file_source.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "conversion/platform/conversion_error.h"
#include "conversion/scans/line_scan.h"

namespace tsry {

namespace {

// Each way reads two slices of at most this size from the start of the file.
constexpr std::size_t kMeasuredSlice = std::size_t{2} << 20;

std::atomic<ReadingWay> measuredWay{ReadingWay::kAuto};

ReadingWay WayFromEnvironment() {
    const char* value = std::getenv("TSRY_READ");
    if (value == nullptr) return ReadingWay::kAuto;
    if (std::strcmp(value, "mapped") == 0) return ReadingWay::kMapped;
    if (std::strcmp(value, "copied") == 0) return ReadingWay::kCopied;
    return ReadingWay::kAuto;
}

// Times the line count of slices of the file read both ways, alternately, the
// best of two of each; mapping must win clearly, since a mapped window also
// holds more memory.
ReadingWay MeasureWays(const platform::InputFile& file, std::uint64_t size) {
    using Clock = std::chrono::steady_clock;
    const std::size_t page = MappedWindow::PageSize();
    const std::size_t slice =
        static_cast<std::size_t>(std::min<std::uint64_t>(kMeasuredSlice, size / 4)) / page * page;
    if (slice == 0) return ReadingWay::kCopied;
    const std::unique_ptr<char[]> buffer(new char[FileSource::kDefaultChunkSize]);
    Clock::duration copied = Clock::duration::max();
    Clock::duration mapped = Clock::duration::max();
    std::uint64_t lines = 0;
    std::uint64_t at = 0;
    for (int round = 0; round < 2; ++round) {
        Clock::time_point start = Clock::now();
        for (std::size_t done = 0; done < slice;) {
            const std::size_t n = file.Read(
                buffer.get(), std::min(FileSource::kDefaultChunkSize, slice - done), at + done);
            if (n == 0) return ReadingWay::kCopied;
            lines += CountLines(buffer.get(), buffer.get() + n);
            done += n;
        }
        copied = std::min(copied, Clock::now() - start);
        at += slice;

        start = Clock::now();
        {
            MappedWindow window;
            if (!window.Map(file.handle(), at, slice)) return ReadingWay::kCopied;
            lines += CountLines(window.data(), window.data() + slice);
            if (window.lost()) return ReadingWay::kCopied;
        }
        mapped = std::min(mapped, Clock::now() - start);
        at += slice;
    }
    static std::atomic<std::uint64_t> keep;  // so that the counts are not optimised away
    keep.store(lines, std::memory_order_relaxed);
    return mapped * 5 < copied * 4 ? ReadingWay::kMapped : ReadingWay::kCopied;
}

// The way to read a plain file of `size` bytes.
ReadingWay WayFor(const platform::InputFile& file, std::uint64_t size) {
    if (const ReadingWay forced = detail::ForcedReadingWay(); forced != ReadingWay::kAuto) {
        return forced;
    }
    if (platform::kMappingHoldsTheFile) return ReadingWay::kCopied;
    if (const ReadingWay way = measuredWay.load(); way != ReadingWay::kAuto) return way;
    // A small file is read in copies without measuring: either way takes a
    // few milliseconds.
    if (size < detail::MeasureFromSize()) return ReadingWay::kCopied;
    const ReadingWay way = MeasureWays(file, size);
    measuredWay.store(way);
    return way;
}

}  // namespace

const char* ReadingWayName(ReadingWay way) noexcept {
    switch (way) {
        case ReadingWay::kMapped:
            return "mapped";
        case ReadingWay::kCopied:
            return "copied";
        case ReadingWay::kAuto:
            break;
    }
    return "auto";
}

ReadingWay ChosenReadingWay() noexcept {
    const ReadingWay forced = detail::ForcedReadingWay();
    return forced != ReadingWay::kAuto ? forced : measuredWay.load();
}

ReadingWay& detail::ForcedReadingWay() {
    static ReadingWay way = WayFromEnvironment();
    return way;
}

void detail::ForgetMeasuredWay() noexcept { measuredWay.store(ReadingWay::kAuto); }

std::size_t& detail::MappedWindowSize() {
    static std::size_t size = std::size_t{8} << 20;
    return size;
}

std::size_t& detail::CopiedChunkSize() {
    static std::size_t size = FileSource::kDefaultChunkSize;
    return size;
}

std::uint64_t& detail::MeasureFromSize() {
    static std::uint64_t size = std::uint64_t{32} << 20;
    return size;
}

std::function<void(std::uint64_t)>& detail::AfterEachChunk() {
    static std::function<void(std::uint64_t)> hook;
    return hook;
}

FileSource::FileSource(const std::filesystem::path& path, std::size_t chunkSize)
    : file_(std::make_shared<const platform::InputFile>(path)),
      chunkSize_(std::max<std::size_t>(chunkSize != 0 ? chunkSize : detail::CopiedChunkSize(), 1)) {
    if (file_->plain()) {
        plainSize_ = file_->Size();
        knownSize_ = plainSize_;
        offset_ = file_->start();
        mapped_ = WayFor(*file_, plainSize_) == ReadingWay::kMapped && MapFirstWindow(offset_);
    }
    if (!mapped_) buffer_.reset(new char[chunkSize_]);
}

FileSource::FileSource(const FileSource& other, std::uint64_t begin, std::uint64_t end)
    : file_(other.file_),
      chunkSize_(other.chunkSize_),
      plainSize_(other.plainSize_),
      offset_(begin),
      limit_(end),
      knownSize_(other.knownSize_) {
    mapped_ = other.mapped_ && MapFirstWindow(begin);
    if (!mapped_) buffer_.reset(new char[chunkSize_]);
}

FileSource::~FileSource() = default;

bool FileSource::MapFirstWindow(std::uint64_t begin) {
    const std::size_t windowSize = detail::MappedWindowSize();
    if (windowSize == 0 || begin >= knownSize_) return false;
    const std::uint64_t start = begin & ~std::uint64_t{MappedWindow::PageSize() - 1};
    return window_.Map(
        file_->handle(), start,
        static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, knownSize_ - start)));
}

void FileSource::Restrict(std::uint64_t begin, std::uint64_t end) {
    offset_ = begin;
    limit_ = end;
}

std::unique_ptr<FileSource> FileSource::Share(std::uint64_t begin, std::uint64_t end) const {
    return std::unique_ptr<FileSource>(new FileSource(*this, begin, end));
}

[[noreturn]] void FileSource::ThrowCutShort() const {
    throw ConversionError("The log " + QuotedPath(file_->path()) +
                          " was cut short by another program while it was being read.");
}

void FileSource::LookAgain() {
    const std::uint64_t size = file_->Size();
    if (size < knownSize_) ThrowCutShort();
    knownSize_ = size;
}

void FileSource::ThrowIfCutShort() {
    if (mapped_ && window_.lost()) ThrowCutShort();
    if (file_->plain()) LookAgain();
}

std::string_view FileSource::Handed(std::string_view chunk) const {
    if (const auto& hook = detail::AfterEachChunk()) hook(offset_);
    return chunk;
}

std::uint64_t FileSource::MappableEnd(std::uint64_t wanted) {
    const std::uint64_t end = std::min(wanted, limit_);
    if (end <= knownSize_) return end;
    LookAgain();  // it may have grown since
    return std::min(end, knownSize_);
}

std::string_view FileSource::NextChunkKeeping(std::size_t keep) {
    if (!mapped_) return NextChunk();
    if (window_.lost()) ThrowCutShort();
    const std::size_t windowSize = std::max(detail::MappedWindowSize(), MappedWindow::PageSize());
    const std::uint64_t from = offset_ - keep;
    // A quarter of a window at a time, or as much again as is kept: a long
    // line is then mapped in a number of steps that grows with its length's
    // logarithm only.
    const std::uint64_t to = MappableEnd(offset_ + std::max<std::uint64_t>(windowSize / 4, keep));
    if (to <= offset_) {
        if (keep == 0) return {};
        return {window_.data() + (from - window_.offset()), keep};
    }
    if (from < window_.offset() || to > window_.offset() + window_.size()) {
        const std::uint64_t start = from & ~std::uint64_t{MappedWindow::PageSize() - 1};
        const std::uint64_t end = std::max(to, std::min({start + windowSize, limit_, knownSize_}));
        if (!window_.Map(file_->handle(), start, static_cast<std::size_t>(end - start))) {
            throw FileError("Cannot read the log", file_->path(), window_.error());
        }
    }
    offset_ = to;
    return Handed(
        {window_.data() + (from - window_.offset()), static_cast<std::size_t>(to - from)});
}

std::string_view FileSource::NextChunk() {
    if (mapped_) return NextChunkKeeping(0);
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize_, limit_ - offset_));
    if (want == 0) return {};
    const std::size_t n = file_->Read(buffer_.get(), want, offset_);
    offset_ += n;
    knownSize_ = std::max(knownSize_, offset_);
    return Handed({buffer_.get(), n});
}

}  // namespace tsry
