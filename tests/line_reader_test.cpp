#include "conversion/reading/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "conversion/scans/line_scan_cpu.h"
#include "tests/model.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::ChunkedSource;

// Each helper reads in both ways, copying lines that span pieces and keeping
// them in place, and expects the same from both.
std::vector<std::string> Lines(const std::string& data,
                               const std::vector<std::size_t>& pieces = {}) {
    std::vector<std::string> both[2];
    for (const bool keeping : {false, true}) {
        ChunkedSource source(data, pieces, keeping);
        LineReader reader(source);
        std::vector<std::string>& lines = both[keeping ? 1 : 0];
        reader.ForEachLine([&](std::string_view line, std::uint64_t number) {
            EXPECT_EQ(number, lines.size() + 1);
            lines.emplace_back(line);
        });
    }
    EXPECT_EQ(both[0], both[1]) << "kept in place";
    return both[0];
}

std::uint64_t Count(const std::string& data, const std::vector<std::size_t>& pieces = {}) {
    std::uint64_t both[2];
    for (const bool keeping : {false, true}) {
        ChunkedSource source(data, pieces, keeping);
        LineReader reader(source);
        both[keeping ? 1 : 0] = reader.CountRemainingLines();
    }
    EXPECT_EQ(both[0], both[1]) << "kept in place";
    return both[0];
}

using Strings = std::vector<std::string>;

TEST(LineReader, EndsLinesAtCrLfAndCrLf) {
    EXPECT_EQ(Lines("a\r\nb\r\n"), (Strings{"a", "b"}));
    EXPECT_EQ(Lines("a\nb\n"), (Strings{"a", "b"}));
    EXPECT_EQ(Lines("a\rb\r"), (Strings{"a", "b"}));
    EXPECT_EQ(Lines("a\rb\nc\r\nd"), (Strings{"a", "b", "c", "d"}));
}

TEST(LineReader, TakesTheCrLfPairOnceButLfCrAsTwoEnds) {
    EXPECT_EQ(Lines("a\r\n\r\nb"), (Strings{"a", "", "b"}));
    EXPECT_EQ(Lines("a\n\rb"), (Strings{"a", "", "b"}));
    EXPECT_EQ(Lines("\r\r\n\n"), (Strings{"", "", ""}));
}

TEST(LineReader, CountsAnUnterminatedLastLineAndNoLinesInAnEmptyInput) {
    EXPECT_EQ(Lines(""), Strings{});
    EXPECT_EQ(Lines("last"), Strings{"last"});
    EXPECT_EQ(Lines("x\r\nlast"), (Strings{"x", "last"}));
    EXPECT_EQ(Count(""), 0u);
    EXPECT_EQ(Count("one"), 1u);
    EXPECT_EQ(Count("one\r\ntwo\r\nthree"), 3u);
    EXPECT_EQ(Count("one\ntwo\nthree\n"), 3u);
    EXPECT_EQ(Count("\r\r\r"), 3u);
}

TEST(LineReader, PassesEveryOtherByteThrough) {
    const std::string odd = std::string("a\0b", 3) + "\x80\xff\t\x1b";
    EXPECT_EQ(Lines(odd + "\r\n" + odd), (Strings{odd, odd}));
}

TEST(LineReader, CrLfSplitAcrossBlocks) {
    // Every piece ends right after a CR, so each pair is split across two reads.
    const std::string data = "first\r\nsecond\r\nthird\r\n";
    EXPECT_EQ(Lines(data, {6, 8, 7}), (Strings{"first", "second", "third"}));
    EXPECT_EQ(Count(data, {6, 8, 7}), 3u);
    // A lone CR at the end of a read followed by a plain line.
    EXPECT_EQ(Lines("a\rb\rc", {2, 2, 1}), (Strings{"a", "b", "c"}));
    // A CR at the very end of the input.
    EXPECT_EQ(Lines("a\r", {2}), Strings{"a"});
}

TEST(LineReader, SameLinesWhateverTheReadSizes) {
    std::string data;
    for (int i = 0; i < 300; ++i) {
        data += std::string(static_cast<std::size_t>(i % 17) + 1, 'x');
        data += (i % 3 == 0) ? "\r\n" : (i % 3 == 1) ? "\r" : "\n";
    }
    const Strings expected = Lines(data);
    ASSERT_EQ(expected.size(), 300u);
    for (std::size_t piece : {1u, 2u, 3u, 5u, 16u, 17u, 64u, 4096u}) {
        EXPECT_EQ(Lines(data, {piece}), expected) << piece;
        EXPECT_EQ(Count(data, {piece}), 300u) << piece;
    }
    EXPECT_EQ(Lines(data, {1, 30, 2, 7}), expected);
}

TEST(LineReader, GathersALineThatSpansManyChunks) {
    const std::string longLine(100000, 'L');
    EXPECT_EQ(Lines("a\r\n" + longLine + "\r\nb", {16}), (Strings{"a", longLine, "b"}));
    EXPECT_EQ(Lines(longLine, {7, 1000}), Strings{longLine});
    EXPECT_EQ(Lines(longLine + "\r", {7, 1000}), Strings{longLine});
}

TEST(LineReader, GathersAHugeLineWhereverTheReadsFall) {
    // Megabytes gathered over many reads; the line ends after it must come
    // out the same wherever the reads fall.
    const std::string huge(3'500'000, 'H');
    const Strings expected = {"a", huge, "", "b", "c"};
    for (const std::string end : {"\r\n", "\r", "\n"}) {
        const std::string data = "a\r\n" + huge + end + "\r\nb\rc";
        for (std::size_t piece : {std::size_t{65536}, std::size_t{1'000'003}, huge.size() + 4}) {
            EXPECT_EQ(Lines(data, {piece}), expected) << piece << " " << end.size();
            EXPECT_EQ(Count(data, {piece}), 5u);
        }
        // A read that ends right on the CR of the pair after the huge line.
        EXPECT_EQ(Lines(data, {3, 2'000'000, huge.size() - 2'000'000 + 1, 1}), expected);
    }
    EXPECT_EQ(Lines(huge, {300000}), Strings{huge});
}

TEST(CountLines, CountsLineEndsInLongRangesExactly) {
    // Long enough to run through the vector loop and its 255-round lanes.
    std::string data;
    std::uint64_t expected = 0;
    for (int i = 0; i < 20000; ++i) {
        switch (i % 4) {
            case 0:
                data += "\r\n";
                break;
            case 1:
                data += "\n";
                break;
            case 2:
                data += "ab\r";
                break;
            default:
                data += "xyz";
                continue;
        }
        ++expected;
    }
    data += "tail";
    ++expected;
    EXPECT_EQ(CountLines(data.data(), data.data() + data.size()), expected);
}

// The first marker of each line and the line ends before it, one byte at a
// time: what every version of the marker scan must find.
struct Marked {
    std::vector<std::pair<std::size_t, std::uint64_t>> places;
    std::uint64_t lineEnds = 0;
    bool operator==(const Marked&) const = default;
};

Marked MarkersOneByOne(const std::string& data, std::string_view marker) {
    Marked expected;
    bool marked = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' || (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))) {
            ++expected.lineEnds;
            marked = false;
        }
        if (!marked && std::string_view(data).substr(i, marker.size()) == marker) {
            expected.places.emplace_back(i, expected.lineEnds);
            marked = true;
        }
    }
    return expected;
}

Marked MarkersFoundBy(const detail::LineScans& scans, const std::string& data,
                      std::string_view marker, std::size_t room) {
    Marked found;
    MarkerScan scan{data.data()};
    std::vector<MarkerPlace> places(room);
    std::size_t n = 0;
    do {
        n = scans.findLineMarkers(scan, data.data() + data.size(), marker, places.data(), room);
        for (std::size_t k = 0; k < n; ++k) {
            found.places.emplace_back(static_cast<std::size_t>(places[k].at - data.data()),
                                      places[k].lineEnds);
        }
    } while (n == room);
    EXPECT_EQ(scan.at, data.data() + data.size());
    found.lineEnds = scan.lineEnds;
    return found;
}

// The places of `c` in the line that holds `p`, at most `count`, one byte at
// a time.
std::vector<std::size_t> InLineOneByOne(const std::string& data, std::size_t p, char c, int count) {
    std::vector<std::size_t> places;
    for (; p < data.size() && !IsLineEnd(data[p]) && std::ssize(places) < count; ++p) {
        if (data[p] == c) places.push_back(p);
    }
    return places;
}

TEST(LineScans, EveryVersionFindsWhatOneByteAtATimeFinds) {
    std::vector<detail::LineScans> versions = detail::ProcessorLineScans();
    versions.push_back(detail::PortableLineScans());
    // Pieces that put markers, halves of markers and CR LF pairs on both
    // sides of the 64-byte blocks the vector versions look at.
    const std::string pieces[] = {"<TS_RY>", "<TS_RY", "TS_RY>", "<",    ">",
                                  "\r",      "\n",     "\r\n",   "a",    "bcdefg",
                                  "<T",      "Y>",     "#",      "##a#", std::string(32, 'x')};
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; ++round) {
        std::string data;
        const std::size_t wanted = random() % 400;
        while (data.size() < wanted) data += pieces[random() % std::size(pieces)];
        for (const std::string_view marker :
             {std::string_view("<TS_RY>"), std::string_view("<"), std::string_view("Y><TS_RY")}) {
            const Marked expected = MarkersOneByOne(data, marker);
            for (std::size_t v = 0; v < versions.size(); ++v) {
                for (const std::size_t room : {std::size_t{1}, std::size_t{2}, std::size_t{256}}) {
                    ASSERT_EQ(MarkersFoundBy(versions[v], data, marker, room), expected)
                        << "version " << v << ", room " << room << ", marker " << marker
                        << ", data " << ::testing::PrintToString(data);
                }
            }
        }
        // A line long enough for the vector blocks, then the data above.
        const std::size_t length = random() % 300;
        std::string line;
        for (std::size_t i = 0; i < length; ++i) line += random() % 8 == 0 ? '#' : 'a';
        line += "\r\n" + data;
        for (const auto& [text, from] : {std::pair{data, data.empty() ? 0 : random() % data.size()},
                                         std::pair{line, random() % (length + 1)}}) {
            for (const int count : {0, 1, 2, 6}) {
                const std::vector<std::size_t> expected = InLineOneByOne(text, from, '#', count);
                for (std::size_t v = 0; v < versions.size(); ++v) {
                    // Room for `count` places, then some that must stay untouched.
                    const char* at[6 + 8];
                    std::fill(std::begin(at), std::end(at), nullptr);
                    const int found = versions[v].findInLine(
                        text.data() + from, text.data() + text.size(), '#', at, count);
                    std::vector<std::size_t> places;
                    for (int k = 0; k < std::min(found, 6 + 8); ++k) {
                        places.push_back(static_cast<std::size_t>(at[k] - text.data()));
                    }
                    ASSERT_EQ(places, expected)
                        << "version " << v << ", count " << count << ", from " << from << ", data "
                        << ::testing::PrintToString(text);
                    ASSERT_TRUE(std::all_of(at + count, std::end(at),
                                            [](const char* place) { return place == nullptr; }))
                        << "version " << v << " wrote past " << count << " places";
                }
            }
        }
    }
}

TEST(LineScans, TheFastestVersionTheProcessorHasIsTheOneUsed) {
    std::vector<std::string> offered;
    for (const detail::LineScans& version : detail::ProcessorLineScans()) {
        offered.emplace_back(version.name);
    }
#if defined(__x86_64__)
    // What the processor says it has, fastest first.
    std::vector<std::string> has;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi")) {
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
            has.emplace_back("AVX-512");
        }
        if (__builtin_cpu_supports("avx2")) has.emplace_back("AVX2");
    }
    EXPECT_EQ(offered, has);
#endif
    EXPECT_EQ(LineScansName(), offered.empty() ? "portable" : offered.front());
}

TEST(CountFileLines, ReportsTheFileAndTheReason) {
    test::TempDir dir;
    test::WriteFile(dir / "log.txt", "a\r\nb\nc");
    std::filesystem::create_directory(dir / "empty");
    EXPECT_EQ(CountFileLines(dir / "log.txt"), 3u);

    try {
        (void)CountFileLines(dir / "missing.log");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open the log " + QuotedPath(dir / "missing.log") +
                                             ": " + test::SystemText(test::Fault::kNoSuchFile));
    }
    try {
        (void)CountFileLines(dir / "empty");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The folder " + QuotedPath(dir / "empty") + " holds no logs.");
    }
    try {
        (void)CountFileLines("");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "No log file was given.");
    }
}

}  // namespace
}  // namespace tsry
