#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "conversion/scans/line_scan_cpu.h"

// x86-64: the scans in AVX-512 or AVX2, whichever the processor has (asked
// when the program starts). Each 64 bytes become bit masks, one bit per byte,
// of the CRs, the LFs and the marker's first byte; what is done with the masks
// is the same for both.

namespace tsry::detail {

namespace {

// The bits up to and including the lowest set bit of `bits` (not zero).
inline std::uint64_t Through(std::uint64_t bits) noexcept { return bits ^ (bits - 1); }

// The marker as a word to compare eight bytes with, and the bytes that count.
struct MarkerWord {
    explicit MarkerWord(std::string_view marker) noexcept : size(marker.size()) {
        for (std::size_t i = 0; i < size; ++i) {
            word |= std::uint64_t{static_cast<unsigned char>(marker[i])} << (8 * i);
        }
        mask = size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
    }
    [[nodiscard]] bool At(const char* p, const char* end) const noexcept {
        std::uint64_t bytes = 0;
        if (end - p >= 8) {
            std::memcpy(&bytes, p, sizeof bytes);
        } else if (static_cast<std::size_t>(end - p) >= size) {
            std::memcpy(&bytes, p, size);
        } else {
            return false;
        }
        return ((bytes ^ word) & mask) == 0;
    }

    std::size_t size;
    std::uint64_t word = 0;
    std::uint64_t mask;
};

// Where a scan stands while it runs: kept apart from the caller's MarkerScan,
// in registers.
struct Progress {
    std::uint64_t ends;
    bool marked;
    std::size_t n = 0;
};

// Every CR, and every LF that does not follow one, of a block whose CRs and
// LFs are `crs` and `lfs`; `afterCr` is 1 when the byte before the block was a
// CR, and becomes so for the next block.
[[gnu::always_inline]] inline std::uint64_t LineEndsOf(std::uint64_t lfs, std::uint64_t crs,
                                                       std::uint64_t& afterCr) noexcept {
    const std::uint64_t lineEnds = crs | (lfs & ~((crs << 1) | afterCr));
    afterCr = crs >> 63;
    return lineEnds;
}

// The places `open` of the marker's first byte in the block at `p`, whose
// line ends are `lineEnds`; true when `found` is full, the scan then standing
// right after the last marker found.
[[gnu::always_inline]] inline bool TakeMarkers(const char* p, const char* end,
                                               std::uint64_t lineEnds, std::uint64_t open,
                                               const MarkerWord& marker, MarkerPlace* found,
                                               std::size_t room, Progress& at,
                                               MarkerScan& scan) noexcept {
    if (at.marked) {
        // Nothing more of the marked line counts.
        if (lineEnds == 0) return false;
        open &= ~Through(lineEnds);
        at.marked = false;
    }
    while (open != 0) {
        const int bit = __builtin_ctzll(open);
        if (!marker.At(p + bit, end)) {
            open &= open - 1;
            continue;
        }
        const std::uint64_t below = (std::uint64_t{1} << bit) - 1;
        const std::uint64_t before =
            at.ends + static_cast<unsigned>(__builtin_popcountll(lineEnds & below));
        found[at.n++] = {p + bit, before};
        if (at.n == room) {
            scan = {p + bit + 1, before, true};
            return true;
        }
        const std::uint64_t later = lineEnds & ~below;
        if (later == 0) {
            at.marked = true;
            return false;
        }
        open &= ~Through(later);
    }
    return false;
}

// The bytes from `p` to `end`, fewer than 64, one at a time; returns how many
// markers the scan found.
std::size_t ScanRest(const char* p, const char* end, std::uint64_t afterCr,
                     const MarkerWord& marker, MarkerPlace* found, std::size_t room, Progress& at,
                     MarkerScan& scan) noexcept {
    const auto first = static_cast<char>(marker.word & 0xff);
    for (; p != end; ++p) {
        const char c = *p;
        if (c == '\r' || (c == '\n' && afterCr == 0)) {
            ++at.ends;
            at.marked = false;
        }
        afterCr = c == '\r' ? 1 : 0;
        if (c == first && !at.marked && marker.At(p, end)) {
            found[at.n++] = {p, at.ends};
            at.marked = true;
            if (at.n == room) {
                scan = {p + 1, at.ends, true};
                return at.n;
            }
        }
    }
    scan = {end, at.ends, at.marked};
    return at.n;
}

// The scan of whole blocks, then of the rest. `masks(p, pair, lfs, crs, open)`
// sets the masks of the block at `p`, in the instructions of the version that
// calls it: `open` holds the places of the marker's first byte, and when
// `pair` is true only those where its last byte follows where it should, which
// leaves few places that are not the marker. Blocks for which that would read
// past `end` are looked at for the first byte alone.
template <class Masks>
[[gnu::always_inline]] inline std::size_t ScanBlocks(MarkerScan& scan, const char* end,
                                                     std::string_view marker, MarkerPlace* found,
                                                     std::size_t room, Masks masks) noexcept {
    const MarkerWord word(marker);
    Progress at{scan.lineEnds, scan.inMarkedLine};
    std::uint64_t afterCr = 0;  // a scan never starts right after a CR
    const char* p = scan.at;
    // True when `found` is full.
    const auto block = [&](std::uint64_t lfs, std::uint64_t crs, std::uint64_t open)
        __attribute__((always_inline)) {
        const std::uint64_t lineEnds = LineEndsOf(lfs, crs, afterCr);
        if (open != 0) {
            if (TakeMarkers(p, end, lineEnds, open, word, found, room, at, scan)) {
                return true;
            }
        } else {
            at.marked = at.marked && lineEnds == 0;
        }
        at.ends += static_cast<unsigned>(__builtin_popcountll(lineEnds));
        return false;
    };
    std::uint64_t lfs;
    std::uint64_t crs;
    std::uint64_t open;
    for (; static_cast<std::size_t>(end - p) >= 64 + marker.size() - 1; p += 64) {
        masks(p, true, lfs, crs, open);
        if (block(lfs, crs, open)) return at.n;
    }
    for (; end - p >= 64; p += 64) {
        masks(p, false, lfs, crs, open);
        if (block(lfs, crs, open)) return at.n;
    }
    return ScanRest(p, end, afterCr, word, found, room, at, scan);
}

#define TSRY_AVX2 __attribute__((target("avx2,popcnt,bmi")))
#define TSRY_AVX512 __attribute__((target("avx512f,avx512bw,popcnt,bmi")))

// Loads 32 bytes.
TSRY_AVX2 inline __m256i Load32(const char* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The 64 bytes of `low` and `high` that compared equal, as bits.
TSRY_AVX2 inline std::uint64_t Bits64(__m256i low, __m256i high) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           (std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32);
}

TSRY_AVX2 std::size_t FindLineMarkersAvx2(MarkerScan& scan, const char* end,
                                          std::string_view marker, MarkerPlace* found,
                                          std::size_t room) noexcept {
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i first = _mm256_set1_epi8(marker.front());
    const __m256i last = _mm256_set1_epi8(marker.back());
    const std::size_t lastAt = marker.size() - 1;
    return ScanBlocks(
        scan, end, marker, found, room,
        [&](const char* p, bool pair, std::uint64_t& lfs, std::uint64_t& crs,
            std::uint64_t& open) TSRY_AVX2 {
            const __m256i low = Load32(p);
            const __m256i high = Load32(p + 32);
            lfs = Bits64(_mm256_cmpeq_epi8(low, lf), _mm256_cmpeq_epi8(high, lf));
            crs = Bits64(_mm256_cmpeq_epi8(low, cr), _mm256_cmpeq_epi8(high, cr));
            __m256i lowOpen = _mm256_cmpeq_epi8(low, first);
            __m256i highOpen = _mm256_cmpeq_epi8(high, first);
            if (pair) {
                lowOpen = _mm256_and_si256(lowOpen, _mm256_cmpeq_epi8(Load32(p + lastAt), last));
                highOpen =
                    _mm256_and_si256(highOpen, _mm256_cmpeq_epi8(Load32(p + 32 + lastAt), last));
            }
            open = Bits64(lowOpen, highOpen);
        });
}

TSRY_AVX512 std::size_t FindLineMarkersAvx512(MarkerScan& scan, const char* end,
                                              std::string_view marker, MarkerPlace* found,
                                              std::size_t room) noexcept {
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8('\r');
    const __m512i first = _mm512_set1_epi8(marker.front());
    const __m512i last = _mm512_set1_epi8(marker.back());
    const std::size_t lastAt = marker.size() - 1;
    return ScanBlocks(scan, end, marker, found, room,
                      [&](const char* p, bool pair, std::uint64_t& lfs, std::uint64_t& crs,
                          std::uint64_t& open) TSRY_AVX512 {
                          const __m512i bytes = _mm512_loadu_si512(p);
                          lfs = _mm512_cmpeq_epi8_mask(bytes, lf);
                          crs = _mm512_cmpeq_epi8_mask(bytes, cr);
                          open = _mm512_cmpeq_epi8_mask(bytes, first);
                          if (pair)
                              open &= _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + lastAt), last);
                      });
}

// The first `count` places of `c` before the line's end, into `at`, from the
// masks of the block at `p`; true when the line's end or the last place
// wanted is found.
[[gnu::always_inline]] inline bool TakeInLine(const char* p, std::uint64_t hits, std::uint64_t ends,
                                              const char** at, int count, int& found) noexcept {
    if (ends != 0) hits &= (ends & (~ends + 1)) - 1;
    for (; hits != 0; hits &= hits - 1) {
        at[found] = p + __builtin_ctzll(hits);
        if (++found == count) return true;
    }
    return ends != 0;
}

TSRY_AVX2 int FindInLineAvx2(const char* p, const char* end, char c, const char** at,
                             int count) noexcept {
    int found = 0;
    if (count == 0) return 0;
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i wanted = _mm256_set1_epi8(c);
    for (; end - p >= 64; p += 64) {
        const __m256i low = Load32(p);
        const __m256i high = Load32(p + 32);
        const std::uint64_t ends =
            Bits64(_mm256_or_si256(_mm256_cmpeq_epi8(low, lf), _mm256_cmpeq_epi8(low, cr)),
                   _mm256_or_si256(_mm256_cmpeq_epi8(high, lf), _mm256_cmpeq_epi8(high, cr)));
        const std::uint64_t hits =
            Bits64(_mm256_cmpeq_epi8(low, wanted), _mm256_cmpeq_epi8(high, wanted));
        if (TakeInLine(p, hits, ends, at, count, found)) return found;
    }
    return found + PortableLineScans().findInLine(p, end, c, at + found, count - found);
}

TSRY_AVX512 int FindInLineAvx512(const char* p, const char* end, char c, const char** at,
                                 int count) noexcept {
    int found = 0;
    if (count == 0) return 0;
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8('\r');
    const __m512i wanted = _mm512_set1_epi8(c);
    for (; p < end; p += 64) {
        // The last bytes in a load that reads nothing past `end`.
        const auto left = static_cast<std::size_t>(end - p);
        const std::uint64_t valid = left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
        const __m512i bytes = _mm512_maskz_loadu_epi8(valid, p);
        const std::uint64_t ends =
            (_mm512_cmpeq_epi8_mask(bytes, lf) | _mm512_cmpeq_epi8_mask(bytes, cr)) & valid;
        const std::uint64_t hits = _mm512_cmpeq_epi8_mask(bytes, wanted) & valid;
        if (TakeInLine(p, hits, ends, at, count, found)) return found;
    }
    return found;
}

#undef TSRY_AVX2
#undef TSRY_AVX512

}  // namespace

std::vector<LineScans> ProcessorLineScans() {
    __builtin_cpu_init();
    std::vector<LineScans> versions;
    if (!__builtin_cpu_supports("popcnt") || !__builtin_cpu_supports("bmi")) return versions;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
        versions.push_back({"AVX-512", &FindLineMarkersAvx512, &FindInLineAvx512});
    }
    if (__builtin_cpu_supports("avx2"))
        versions.push_back({"AVX2", &FindLineMarkersAvx2, &FindInLineAvx2});
    return versions;
}

}  // namespace tsry::detail
