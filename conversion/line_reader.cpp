#include "conversion/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
        for (unsigned lane = 0; lane < 32; ++lane) total += lanes[lane];
    }
    for (; i < size; ++i) {
        total += static_cast<unsigned>(p[i] == '\n' || (p[i] == '\r' && p[i + 1] != '\n'));
    }
    return total;
}

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

// The body of FindCountingLineEnds: one pass that both counts line ends and
// looks for `c`, 32 bytes at a time, leaving the rare chunk that holds `c` to
// a byte loop.
TSRY_VECTOR_CLONES
const char* FindCountingLineEndsIn(const unsigned char* p, const unsigned char* end,
                                   unsigned char c, std::uint64_t& lineEnds) noexcept {
    Bytes32 lf = {};
    lf += '\n';
    Bytes32 cr = {};
    cr += '\r';
    Bytes32 wanted = {};
    wanted += c;
    Bytes32 one = {};
    one += 1;
    using Words32 = unsigned long long __attribute__((vector_size(32)));
    // The vector loop reads one byte past each 32, so it stops 33 short of the end.
    while (end - p > 32) {
        Bytes32 lanes = {};
        int rounds = 0;
        bool found = false;
        for (; end - p > 32 && rounds < 255; ++rounds, p += 32) {
            Bytes32 here;
            Bytes32 next;
            std::memcpy(&here, p, sizeof here);
            std::memcpy(&next, p + 1, sizeof next);
            const auto hit = here == wanted;
            const Words32 hitWords = reinterpret_cast<const Words32&>(hit);
            if ((hitWords[0] | hitWords[1] | hitWords[2] | hitWords[3]) != 0) {
                found = true;
                break;
            }
            const auto ends = (here == lf) | ((here == cr) & (next != lf));
            lanes += reinterpret_cast<const Bytes32&>(ends) & one;
        }
        lineEnds += SumLanes(lanes);
        if (found) break;
    }
    for (; p != end; ++p) {
        if (*p == c) return reinterpret_cast<const char*>(p);
        // The last byte of a run of whole lines is a line end if CR or LF.
        lineEnds +=
            static_cast<unsigned>(*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n')));
    }
    return reinterpret_cast<const char*>(end);
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

const char* FindCountingLineEnds(const char* p, const char* end, char c,
                                 std::uint64_t& lineEnds) noexcept {
    return FindCountingLineEndsIn(reinterpret_cast<const unsigned char*>(p),
                                  reinterpret_cast<const unsigned char*>(end),
                                  static_cast<unsigned char>(c), lineEnds);
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
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    buffer_.reset(new char[chunkSize_]);
}

FileSource::FileSource(const FileSource& other, std::uint64_t begin, std::uint64_t end)
    : path_(other.path_),
      fd_(other.fd_),
      ownsFd_(false),
      chunkSize_(other.chunkSize_),
      plainSize_(other.plainSize_),
      offset_(begin),
      limit_(end),
      buffer_(new char[chunkSize_]) {}

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

std::string_view FileSource::NextChunk() {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize_, limit_ - offset_));
    if (want == 0) return {};
    for (;;) {
        // Positioned reads, so that two readers can share the descriptor.
        const ssize_t n = ::pread(fd_, buffer_.get(), want, static_cast<off_t>(offset_));
        if (n >= 0) {
            offset_ += static_cast<std::uint64_t>(n);
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

bool LineReader::NextBlock(std::string_view& block) {
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
                block = carry_;
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
                    carry_ += '\n';
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
            block = carry_;
            carried_ = true;
            return true;
        }
        // The chunk up to its last usable line end: any LF, or a CR known not
        // to be the first half of a CR LF pair, so not one in its last byte.
        const char* cut = PastLastLineEnd(begin, end[-1] == '\r' ? end - 1 : end);
        if (cut == begin) {
            carry_.assign(begin, end);
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

std::uint64_t CountFileLines(const std::filesystem::path& path) {
    FileSource file(path);
    LineReader reader(file);
    return reader.CountRemainingLines();
}

}  // namespace tsry
