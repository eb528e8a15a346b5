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

// Sixteen bytes at a time through the compiler's generic vectors: SSE2 on
// x86-64 and NEON on ARM64, both part of the baseline.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

Bytes16 Load16(const unsigned char* p) noexcept {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Bytes16 Splat(unsigned char c) noexcept {
    Bytes16 v = {};
    v += c;
    return v;
}

// Line ends in [p, p + size) plus the line end decided by the byte after the
// range: an LF, or a CR that is not followed by an LF. p[size] must be readable.
std::uint64_t CountLineEndsBefore(const unsigned char* p, std::size_t size) noexcept {
    std::uint64_t total = 0;
    std::size_t i = 0;
    const Bytes16 lf = Splat('\n');
    const Bytes16 cr = Splat('\r');
    const Bytes16 one = Splat(1);
    while (size - i >= 16) {
        // At most 255 rounds before the byte lanes are emptied, so none overflows.
        const std::size_t rounds = std::min<std::size_t>((size - i) / 16, 255);
        Bytes16 lanes = {};
        for (std::size_t r = 0; r < rounds; ++r, i += 16) {
            const Bytes16 here = Load16(p + i);
            const Bytes16 next = Load16(p + i + 1);
            const auto ends = (here == lf) | ((here == cr) & (next != lf));
            lanes += reinterpret_cast<const Bytes16&>(ends) & one;
        }
        for (unsigned lane = 0; lane < 16; ++lane) total += lanes[lane];
    }
    for (; i < size; ++i) {
        total += static_cast<unsigned>(p[i] == '\n' || (p[i] == '\r' && p[i + 1] != '\n'));
    }
    return total;
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

const char* LineStart(const char* floor, const char* p) noexcept {
    while (p != floor && !IsLineEnd(p[-1])) --p;
    return p;
}

const char* LineEnd(const char* p, const char* end) noexcept {
    const auto size = static_cast<std::size_t>(end - p);
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', size));
    const char* limit = lf != nullptr ? lf : end;
    const auto* cr =
        static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(limit - p)));
    return cr != nullptr ? cr : limit;
}

const char* SkipLineEnd(const char* p, const char* end) noexcept {
    if (p == end) return p;
    if (*p == '\r' && p + 1 != end && p[1] == '\n') return p + 2;
    return p + 1;
}

FileSource::FileSource(const std::filesystem::path& path) : path_(path) {
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
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::~FileSource() { ::close(fd_); }

std::size_t FileSource::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw FileError("Cannot read the log", path_, errno);
    }
}

LineReader::LineReader(ByteSource& source, std::size_t blockSize)
    : source_(source),
      // One spare byte past the data lets the counting loop look ahead safely.
      buffer_(new char[std::max<std::size_t>(blockSize, 2) + 1]),
      capacity_(std::max<std::size_t>(blockSize, 2)) {}

bool LineReader::NextBlock(std::string_view& block) {
    for (;;) {
        if (atEnd_) {
            if (begin_ == end_) return false;
            block = std::string_view(buffer_.get() + begin_, end_ - begin_);
            begin_ = scanned_ = end_;
            return true;
        }
        // The last usable line end: any LF, or a CR that is known not to be
        // the first half of a CR LF pair, so not one in the last byte read.
        std::size_t cut = end_;
        while (cut != scanned_) {
            const char c = buffer_[cut - 1];
            if (c == '\n' || (c == '\r' && cut != end_)) break;
            --cut;
        }
        if (cut != scanned_) {
            block = std::string_view(buffer_.get() + begin_, cut - begin_);
            begin_ = scanned_ = cut;
            return true;
        }
        scanned_ = (end_ != begin_ && buffer_[end_ - 1] == '\r') ? end_ - 1 : end_;
        Refill();
    }
}

void LineReader::Refill() {
    if (begin_ != 0) {
        // Keep the unfinished line, move it to the front.
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        scanned_ -= begin_;
        begin_ = 0;
    }
    if (end_ == capacity_) {
        // A line longer than the buffer: make room for it.
        const std::size_t grown = capacity_ * 2;
        std::unique_ptr<char[]> bigger(new char[grown + 1]);
        std::memcpy(bigger.get(), buffer_.get(), end_);
        buffer_ = std::move(bigger);
        capacity_ = grown;
    }
    const std::size_t n = source_.Read(buffer_.get() + end_, capacity_ - end_);
    if (n == 0) atEnd_ = true;
    end_ += n;
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
