#include "conversion/scans/line_scan.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

#include "conversion/scans/line_scan_cpu.h"

namespace tsry {

namespace {

// Thirty-two bytes at a time through the compiler's generic vectors: two SSE2
// registers on any x86-64, one AVX2 register where the processor has it
// (chosen when the program starts), NEON on ARM64.
using Bytes32 = unsigned char __attribute__((vector_size(32)));

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(__SANITIZE_ADDRESS__) && defined(__ELF__)
#define TSRY_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TSRY_VECTOR_CLONES
#endif

// Exact byte matches of `pattern` in `word`, as the high bit of each byte.
constexpr std::uint64_t Matches(std::uint64_t word, std::uint64_t pattern) noexcept {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    const std::uint64_t x = word ^ pattern;
    return ~(((x & kLow7) + kLow7) | x | kLow7);
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
    // The rest, eight bytes at a time.
    for (; size - i >= 8; i += 8) {
        std::uint64_t here;
        std::uint64_t next;
        std::memcpy(&here, p + i, sizeof here);
        std::memcpy(&next, p + i + 1, sizeof next);
        const std::uint64_t ends =
            Matches(here, 0x0a0a0a0a0a0a0a0aULL) |
            (Matches(here, 0x0d0d0d0d0d0d0d0dULL) & ~Matches(next, 0x0a0a0a0a0a0a0a0aULL));
        total += static_cast<unsigned>(std::popcount(ends));
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
    if constexpr (std::endian::native == std::endian::little) {
        const std::uint64_t cr = kOnes * '\r';
        const std::uint64_t lf = kOnes * '\n';
        const std::uint64_t other = kOnes * static_cast<unsigned char>(c);
        for (; stop - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            const std::uint64_t hits =
                ZeroBytes(word ^ cr) | ZeroBytes(word ^ lf) | ZeroBytes(word ^ other);
            if (hits != 0) return p + std::countr_zero(hits) / 8;
        }
    }
    for (; p != stop; ++p) {
        if (IsLineEnd(*p) || *p == c) return p;
    }
    return p;
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

namespace {

int PortableFindInLine(const char* p, const char* end, char c, const char** at,
                       int count) noexcept {
    int found = 0;
    if (count == 0) return 0;
    if constexpr (std::endian::native == std::endian::little) {
        const std::uint64_t pattern = kOnes * static_cast<unsigned char>(c);
        for (; end - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            const std::uint64_t ends =
                Matches(word, 0x0d0d0d0d0d0d0d0dULL) | Matches(word, 0x0a0a0a0a0a0a0a0aULL);
            std::uint64_t hits = Matches(word, pattern);
            if (ends != 0) hits &= (ends & (~ends + 1)) - 1;  // only those before the line end
            for (; hits != 0; hits &= hits - 1) {
                at[found] = p + std::countr_zero(hits) / 8;
                if (++found == count) return found;
            }
            if (ends != 0) return found;
        }
    }
    for (; p != end && !IsLineEnd(*p); ++p) {
        if (*p == c) {
            at[found] = p;
            if (++found == count) return found;
        }
    }
    return found;
}

std::size_t PortableFindLineMarkers(MarkerScan& scan, const char* end, std::string_view marker,
                                    MarkerPlace* found, std::size_t room) noexcept {
    const char* p = scan.at;
    std::uint64_t ends = scan.lineEnds;
    std::size_t n = 0;
    // Past the rest of a line whose marker was found.
    const auto skipLine = [&](const char* from) {
        const char* lineEnd = LineEnd(from, end);
        scan.inMarkedLine = lineEnd == end;
        if (lineEnd == end) return end;
        ++ends;
        return SkipLineEnd(lineEnd, end);
    };
    if (scan.inMarkedLine) p = skipLine(p);
    while (p != end && n != room) {
        const auto size = static_cast<std::size_t>(end - p);
        const auto* hit = static_cast<const char*>(std::memchr(p, marker[0], size));
        const auto* up = reinterpret_cast<const unsigned char*>(p);
        if (hit == nullptr) {
            // CR LF pairs count once, at their CR here as in the vector scans.
            ends += CountLineEndsBefore(up, size - 1) + (IsLineEnd(end[-1]) ? 1 : 0);
            p = end;
            break;
        }
        ends += CountLineEndsBefore(up, static_cast<std::size_t>(hit - p));
        if (static_cast<std::size_t>(end - hit) < marker.size() ||
            std::memcmp(hit, marker.data(), marker.size()) != 0) {
            p = hit + 1;
            continue;
        }
        found[n++] = {hit, ends};
        p = skipLine(hit + 1);
    }
    scan.at = p;
    scan.lineEnds = ends;
    return n;
}

}  // namespace

detail::LineScans detail::PortableLineScans() noexcept {
    return {"portable", &PortableFindLineMarkers, &PortableFindInLine};
}

namespace {

detail::LineScans ChooseLineScans() {
    const std::vector<detail::LineScans> own = detail::ProcessorLineScans();
    return own.empty() ? detail::PortableLineScans() : own.front();
}

// Chosen once, when the program starts.
const detail::LineScans lineScans = ChooseLineScans();

}  // namespace

std::size_t FindLineMarkers(MarkerScan& scan, const char* end, std::string_view marker,
                            MarkerPlace* found, std::size_t room) noexcept {
    return lineScans.findLineMarkers(scan, end, marker, found, room);
}

int FindInLine(const char* p, const char* end, char c, const char** at, int count) noexcept {
    return lineScans.findInLine(p, end, c, at, count);
}

const char* LineScansName() noexcept { return lineScans.name; }

const char* SkipLineEnd(const char* p, const char* end) noexcept {
    if (p == end) return p;
    if (*p == '\r' && p + 1 != end && p[1] == '\n') return p + 2;
    return p + 1;
}

const char* PastLastLineEnd(const char* begin, const char* end) noexcept {
    // Backwards, eight bytes at a time where the bytes are whole words.
    const char* p = end;
    for (; p - begin >= 8; p -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p - 8, sizeof word);
        const std::uint64_t hits =
            Matches(word, 0x0a0a0a0a0a0a0a0aULL) | Matches(word, 0x0d0d0d0d0d0d0d0dULL);
        if (hits != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                return p - 8 + (63 - std::countl_zero(hits)) / 8 + 1;
            } else {
                return p - 8 + std::countl_zero(hits) / 8 + 1;
            }
        }
    }
    for (; p != begin; --p) {
        if (IsLineEnd(p[-1])) return p;
    }
    return begin;
}

}  // namespace tsry
