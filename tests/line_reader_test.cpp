#include "conversion/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conversion/conversion_error.h"
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
