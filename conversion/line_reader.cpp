#include "conversion/line_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <new>
#include <optional>

#include "conversion/conversion_error.h"

namespace tsry {

namespace {

// Thirty-two bytes at a time through the compiler's generic vectors: two SSE2
// registers on any x86-64, one AVX2 register where the processor has it
// (chosen when the program starts), NEON on ARM64.
using Bytes32 = unsigned char __attribute__((vector_size(32)));

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(__SANITIZE_ADDRESS__)
#define TSRY_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TSRY_VECTOR_CLONES
#endif

// Sums the 32 byte lanes.
std::uint64_t SumLanes(const Bytes32& lanes) noexcept {
    std::uint64_t words[4];
    std::memcpy(words, &lanes, sizeof words);
    std::uint64_t total = 0;
    for (std::uint64_t w : words) {
        const std::uint64_t pairs =
            (w & 0x00ff00ff00ff00ffULL) + ((w >> 8) & 0x00ff00ff00ff00ffULL);
        total += (pairs * 0x0001000100010001ULL) >> 48;
    }
    return total;
}

// Line ends in [p, p + size) plus the line end decided by the byte after the
// range: an LF, or a CR that is not followed by an LF. p[size] must be readable.
TSRY_VECTOR_CLONES
std::uint64_t CountLineEndsBefore(const unsigned char* p, std::size_t size) noexcept {
    std::uint64_t total = 0;
    std::size_t i = 0;
    Bytes32 lf = {};
    lf += '\n';
    Bytes32 cr = {};
    cr += '\r';
    Bytes32 one = {};
    one += 1;
    while (size - i >= 32) {
        // At most 255 rounds before the byte lanes are emptied, so none overflows.
        const std::size_t rounds = std::min<std::size_t>((size - i) / 32, 255);
        Bytes32 lanes = {};
        for (std::size_t r = 0; r < rounds; ++r, i += 32) {
            Bytes32 here;
            Bytes32 next;
            std::memcpy(&here, p + i, sizeof here);
            std::memcpy(&next, p + i + 1, sizeof next);
            const auto ends = (here == lf) | ((here == cr) & (next != lf));
            lanes += reinterpret_cast<const Bytes32&>(ends) & one;
        }
        total += SumLanes(lanes);
    }
    // The rest, eight bytes at a time: exact byte matches as high bits.
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    auto matches = [](std::uint64_t word, std::uint64_t pattern) {
        const std::uint64_t x = word ^ pattern;
        return ~(((x & kLow7) + kLow7) | x | kLow7);
    };
    for (; size - i >= 8; i += 8) {
        std::uint64_t here;
        std::uint64_t next;
        std::memcpy(&here, p + i, sizeof here);
        std::memcpy(&next, p + i + 1, sizeof next);
        const std::uint64_t ends =
            matches(here, 0x0a0a0a0a0a0a0a0aULL) |
            (matches(here, 0x0d0d0d0d0d0d0d0dULL) & ~matches(next, 0x0a0a0a0a0a0a0a0aULL));
        total += static_cast<unsigned>(__builtin_popcountll(ends));
    }
    for (; i < size; ++i) {
        total += static_cast<unsigned>(p[i] == '\n' || (p[i] == '\r' && p[i + 1] != '\n'));
    }
    return total;
}

// Short scans by hand: most lines and fields are a few dozen bytes, less than
// what a library call costs to set up.
constexpr std::size_t kShortScan = 64;

// Eight bytes at a time in a plain integer: a byte of the word that equals one
// of the searched bytes shows as its high bit. Only the lowest such bit is
// exact, which is the one wanted here.
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

constexpr std::uint64_t ZeroBytes(std::uint64_t word) noexcept {
    return (word - kOnes) & ~word & kHighs;
}

// The first byte of [p, p + kShortScan) that is CR, LF or `c` (pass '\r' for
// line ends alone), or p + kShortScan (or end, if nearer) when there is none.
const char* ShortScan(const char* p, const char* end, char c) noexcept {
    const char* stop = static_cast<std::size_t>(end - p) > kShortScan ? p + kShortScan : end;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const std::uint64_t cr = kOnes * '\r';
    const std::uint64_t lf = kOnes * '\n';
    const std::uint64_t other = kOnes * static_cast<unsigned char>(c);
    for (; stop - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t hits =
            ZeroBytes(word ^ cr) | ZeroBytes(word ^ lf) | ZeroBytes(word ^ other);
        if (hits != 0) return p + __builtin_ctzll(hits) / 8;
    }
#endif
    for (; p != stop; ++p) {
        if (IsLineEnd(*p) || *p == c) return p;
    }
    return p;
}

// One past the last CR or LF in [begin, end), or begin when there is none.
const char* PastLastLineEnd(const char* begin, const char* end) noexcept {
    const auto size = static_cast<std::size_t>(end - begin);
    const auto* lf = static_cast<const char*>(::memrchr(begin, '\n', size));
    const char* floor = lf != nullptr ? lf + 1 : begin;
    const auto* cr =
        static_cast<const char*>(::memrchr(floor, '\r', static_cast<std::size_t>(end - floor)));
    return cr != nullptr ? cr + 1 : floor;
}

// Where the second half of a large file starts (see SplitOffSecondHalf).
std::optional<std::uint64_t> SecondHalfStart(const FileSource& file) {
    const std::uint64_t size = file.plainFileSize();
    if (size < detail::MinimumSplitSize() || size < 2) return std::nullopt;
    char buffer[4096];
    std::uint64_t pos = size / 2 - 1;
    while (pos < size / 2 + (std::uint64_t{1} << 20)) {
        const ssize_t n =
            ::pread(file.descriptor(), buffer, sizeof buffer, static_cast<off_t>(pos));
        if (n <= 0) return std::nullopt;
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint64_t at = pos + static_cast<std::uint64_t>(i);
            if (buffer[i] == '\n') return at + 1;
            if (buffer[i] == '\r') {
                char next = 0;
                const bool pair = i + 1 < n ? buffer[i + 1] == '\n'
                                            : ::pread(file.descriptor(), &next, 1,
                                                      static_cast<off_t>(at + 1)) == 1 &&
                                                  next == '\n';
                return at + (pair ? 2 : 1);
            }
        }
        pos += static_cast<std::uint64_t>(n);
    }
    return std::nullopt;
}

}  // namespace

std::uint64_t CountLines(const char* begin, const char* end) noexcept {
    if (begin == end) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto size = static_cast<std::size_t>(end - begin);
    // All but the last byte look at their successor; the last byte is a line
    // end of its own if it is CR or LF, or else the start or middle of an
    // unterminated last line, which counts as well.
    return CountLineEndsBefore(p, size - 1) + 1;
}

const char* LineEnd(const char* p, const char* end) noexcept {
    const char* stop = static_cast<std::size_t>(end - p) > kShortScan ? p + kShortScan : end;
    p = ShortScan(p, end, '\r');
    if (p != stop || p == end) return p;
    const auto size = static_cast<std::size_t>(end - p);
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', size));
    const char* limit = lf != nullptr ? lf : end;
    const auto* cr =
        static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(limit - p)));
    return cr != nullptr ? cr : limit;
}

const char* FindInLine(const char* p, const char* end, char c) noexcept {
    const char* stop = static_cast<std::size_t>(end - p) > kShortScan ? p + kShortScan : end;
    p = ShortScan(p, end, c);
    if (p != stop || p == end) return p;
    // A long line: find its end first, then search up to it.
    const char* lineEnd = LineEnd(p, end);
    const void* hit = std::memchr(p, c, static_cast<std::size_t>(lineEnd - p));
    return hit != nullptr ? static_cast<const char*>(hit) : lineEnd;
}

const char* SkipLineEnd(const char* p, const char* end) noexcept {
    if (p == end) return p;
    if (*p == '\r' && p + 1 != end && p[1] == '\n') return p + 2;
    return p + 1;
}

FileSource::FileSource(const std::filesystem::path& path, std::size_t chunkSize)
    : path_(path), chunkSize_(std::max<std::size_t>(chunkSize, 1)) {
    if (path.empty()) throw ConversionError("No log file was given.");
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw FileError("Cannot open the log", path, errno);
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        throw FileError("Cannot open the log", path, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd_);
        throw FileError("Cannot open the log", path, EISDIR);
    }
    if (S_ISREG(info.st_mode)) {
        plainSize_ = static_cast<std::uint64_t>(info.st_size);
        knownSize_ = plainSize_;
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        mapped_ = MapFirstWindow(0);
    }
    if (!mapped_) buffer_.reset(new char[chunkSize_]);
}

bool FileSource::MapFirstWindow(std::uint64_t begin) {
    const std::size_t windowSize = detail::MappedWindowSize();
    if (windowSize == 0 || begin >= knownSize_) return false;
    const std::uint64_t start = begin & ~std::uint64_t{MappedWindow::PageSize() - 1};
    return window_.Map(
        fd_, start,
        static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, knownSize_ - start)));
}

FileSource::FileSource(const FileSource& other, std::uint64_t begin, std::uint64_t end)
    : path_(other.path_),
      fd_(other.fd_),
      ownsFd_(false),
      chunkSize_(other.chunkSize_),
      plainSize_(other.plainSize_),
      offset_(begin),
      limit_(end),
      knownSize_(other.knownSize_) {
    mapped_ = other.mapped_ && MapFirstWindow(begin);
    if (!mapped_) buffer_.reset(new char[chunkSize_]);
}

FileSource::~FileSource() {
    if (ownsFd_) ::close(fd_);
}

void FileSource::Restrict(std::uint64_t begin, std::uint64_t end) {
    offset_ = begin;
    limit_ = end;
}

std::unique_ptr<FileSource> FileSource::Share(std::uint64_t begin, std::uint64_t end) const {
    return std::unique_ptr<FileSource>(new FileSource(*this, begin, end));
}

[[noreturn]] void FileSource::ThrowCutShort() const {
    throw ConversionError("The log " + QuotedPath(path_) +
                          " was cut short by another program while it was being read.");
}

void FileSource::LookAgain() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throw FileError("Cannot read the log", path_, errno);
    if (!S_ISREG(info.st_mode)) return;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size < knownSize_) ThrowCutShort();
    knownSize_ = size;
}

void FileSource::ThrowIfCutShort() {
    if (mapped_ && window_.lost()) ThrowCutShort();
    LookAgain();
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
        if (!window_.Map(fd_, start, static_cast<std::size_t>(end - start))) {
            throw FileError("Cannot read the log", path_, errno);
        }
    }
    offset_ = to;
    return {window_.data() + (from - window_.offset()), static_cast<std::size_t>(to - from)};
}

void FileSource::Advance(std::size_t read) {
    offset_ += read;
    knownSize_ = std::max(knownSize_, offset_);
    // The end of a plain file: the end of the log, unless it was cut short.
    if (read == 0 && plainSize_ > 0) LookAgain();
}

std::string_view FileSource::NextChunk() {
    if (mapped_) return NextChunkKeeping(0);
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize_, limit_ - offset_));
    if (want == 0) return {};
    for (;;) {
        // Positioned reads, so that two readers can share the descriptor.
        const ssize_t n = ::pread(fd_, buffer_.get(), want, static_cast<off_t>(offset_));
        if (n >= 0) {
            Advance(static_cast<std::size_t>(n));
            return {buffer_.get(), static_cast<std::size_t>(n)};
        }
        if (errno == ESPIPE) {
            // A pipe or a terminal: read on from where it is.
            const ssize_t m = ::read(fd_, buffer_.get(), want);
            if (m >= 0) return {buffer_.get(), static_cast<std::size_t>(m)};
        }
        if (errno != EINTR) throw FileError("Cannot read the log", path_, errno);
    }
}

GatherBuffer::~GatherBuffer() { std::free(data_); }

void GatherBuffer::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    capacity = std::max({capacity, capacity_ * 2, std::size_t{4096}});
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (capacity_ >= 4 * kHuge) {
        // Fewer page faults for a huge line, where the system allows it.
        const auto start = reinterpret_cast<std::uintptr_t>(data_);
        const std::uintptr_t first = ((start + kHuge - 1) & ~(kHuge - 1)) - start;
        const std::uintptr_t last = ((start + capacity_) & ~(kHuge - 1)) - start;
        if (last > first) ::madvise(data_ + first, last - first, MADV_HUGEPAGE);
    }
}

void GatherBuffer::append(const char* begin, const char* end) {
    const auto n = static_cast<std::size_t>(end - begin);
    reserve(size_ + n);
    std::memcpy(data_ + size_, begin, n);
    size_ += n;
}

void GatherBuffer::clear() noexcept {
    size_ = 0;
    if (capacity_ > (std::size_t{16} << 20)) {
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
    }
}

bool LineReader::NextBlockInPlace(std::string_view& block) {
    for (;;) {
        if (!rest_.empty()) {
            if (atEnd_) {
                // The last line, without its terminator or ending with a CR.
                block = rest_;
                rest_ = {};
                return true;
            }
            // As far as the last usable line end: any LF, or a CR known not
            // to be the first half of a CR LF pair, so not one in the last
            // byte. Bytes already looked at hold none.
            const char* const begin = rest_.data();
            const char* const usable = begin + rest_.size() - (rest_.back() == '\r' ? 1 : 0);
            const char* const cut = PastLastLineEnd(begin + scanned_, usable);
            if (cut != begin + scanned_) {
                block = std::string_view(begin, static_cast<std::size_t>(cut - begin));
                rest_.remove_prefix(block.size());
                scanned_ = 0;
                return true;
            }
            scanned_ = static_cast<std::size_t>(usable - begin);
        } else if (atEnd_) {
            return false;
        }
        // The unfinished line stays in front of the next piece.
        const std::size_t keep = rest_.size();
        rest_ = source_.NextChunkKeeping(keep);
        if (rest_.size() <= keep) atEnd_ = true;
    }
}

bool LineReader::NextBlock(std::string_view& block) {
    if (inPlace_) return NextBlockInPlace(block);
    if (carried_) {
        carry_.clear();
        carried_ = false;
    }
    for (;;) {
        if (rest_.empty()) {
            if (!atEnd_) rest_ = source_.NextChunk();
            if (rest_.empty()) {
                atEnd_ = true;
                if (carry_.empty()) return false;
                // The last line, without its terminator or ending with a CR.
                block = carry_.view();
                carried_ = true;
                return true;
            }
        }
        const char* const begin = rest_.data();
        const char* const end = begin + rest_.size();
        if (!carry_.empty()) {
            // Finish the line that began in an earlier chunk.
            if (carry_.back() == '\r') {
                if (*begin == '\n') {
                    carry_.append(begin, begin + 1);
                    rest_.remove_prefix(1);
                }
            } else {
                const char* lineEnd = LineEnd(begin, end);
                if (lineEnd == end || (*lineEnd == '\r' && lineEnd + 1 == end)) {
                    // Still no line end known to be whole: gather and read on.
                    carry_.append(begin, end);
                    rest_ = {};
                    continue;
                }
                const char* next = SkipLineEnd(lineEnd, end);
                carry_.append(begin, next);
                rest_.remove_prefix(static_cast<std::size_t>(next - begin));
            }
            block = carry_.view();
            carried_ = true;
            return true;
        }
        // The chunk up to its last usable line end: any LF, or a CR known not
        // to be the first half of a CR LF pair, so not one in its last byte.
        const char* cut = PastLastLineEnd(begin, end[-1] == '\r' ? end - 1 : end);
        if (cut == begin) {
            carry_.append(begin, end);
            rest_ = {};
            continue;
        }
        block = std::string_view(begin, static_cast<std::size_t>(cut - begin));
        rest_.remove_prefix(block.size());
        return true;
    }
}

std::uint64_t LineReader::CountRemainingLines() {
    std::uint64_t lines = 0;
    std::string_view block;
    while (NextBlock(block)) lines += CountLines(block.data(), block.data() + block.size());
    return lines;
}

std::size_t& detail::MappedWindowSize() {
    static std::size_t size = std::size_t{8} << 20;
    return size;
}

std::uint64_t& detail::MinimumSplitSize() {
    static std::uint64_t size = std::uint64_t{32} << 20;
    return size;
}

std::unique_ptr<FileSource> SplitOffSecondHalf(FileSource& file) {
    const std::optional<std::uint64_t> split = SecondHalfStart(file);
    if (!split) return nullptr;
    std::unique_ptr<FileSource> second = file.Share(*split, FileSource::kToTheEnd);
    file.Restrict(0, *split);
    return second;
}

std::uint64_t CountFileLines(const std::filesystem::path& path) {
    FileSource file(path);
    const std::unique_ptr<FileSource> second = SplitOffSecondHalf(file);
    if (!second) {
        LineReader reader(file);
        return reader.CountRemainingLines();
    }
    std::future<std::uint64_t> secondLines = std::async(std::launch::async, [&second] {
        LineReader reader(*second);
        return reader.CountRemainingLines();
    });
    LineReader reader(file);
    std::uint64_t lines = 0;
    try {
        lines = reader.CountRemainingLines();
    } catch (...) {
        secondLines.wait();
        throw;
    }
    return lines + secondLines.get();
}

}  // namespace tsry
