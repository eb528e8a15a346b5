// Every way of reading a log (mapped, copied, and the one measured) gives the
// same lines and the same script, and notices a log cut short while it is
// read, whether read whole or in two halves.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/log_generator.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"
#include "tests/model.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::ReadFile;
using test::ScopedSetting;
using test::WriteFile;

// Lines of every length around the read sizes, some far longer, with all
// three line ends, a CR LF pair across every read boundary nearby.
std::string AwkwardLines() {
    std::string data;
    for (int i = 0; i < 3000; ++i) {
        const std::size_t length =
            i % 97 == 0 ? 9000 + static_cast<std::size_t>(i) : static_cast<std::size_t>(i % 23);
        data += std::string(length, static_cast<char>('a' + i % 26));
        data += (i % 3 == 0) ? "\r\n" : (i % 3 == 1) ? "\r" : "\n";
    }
    return data + std::string(20000, 'z');
}

class Reading : public ::testing::TestWithParam<ReadingWay> {
  protected:
    Reading() { detail::ForgetMeasuredWay(); }
    ~Reading() override {
        detail::AfterEachChunk() = nullptr;
        detail::ForgetMeasuredWay();
    }

    std::string Convert(std::optional<std::uint64_t> count = {}) {
        NoProgress progress;
        NoStatus status;
        ParseLog(dir_ / "server.log", count, progress, status, dir_ / "tsry.nss");
        return ReadFile(dir_ / "tsry.nss");
    }
    std::string Failure() {
        try {
            Convert();
        } catch (const ConversionError& e) {
            return e.what();
        }
        return "no error";
    }
    std::string CutShortMessage() const {
        return "The log " + QuotedPath(dir_ / "server.log") +
               " was cut short by another program while it was being read.";
    }
    // Truncates the log to `size` bytes once a read has passed `after`, once;
    // before that, appends `grow` to it after the first read.
    void TruncateAfter(std::uint64_t after, std::uint64_t size, std::string grow = {}) {
        detail::AfterEachChunk() = [path = dir_ / "server.log", after, size, grow,
                                    done = false](std::uint64_t at) mutable {
            if (!grow.empty()) {
                std::ofstream(path, std::ios::binary | std::ios::app) << grow;
                grow.clear();
            }
            std::error_code error;
            if (!done && at >= after) std::filesystem::resize_file(path, size, error);
            done = done || at >= after;
        };
    }
    // Where a mapped file cannot be cut short, there is nothing to notice.
    bool CannotBeCutShort() const {
        return platform::kMappingHoldsTheFile && GetParam() == ReadingWay::kMapped;
    }

    test::TempDir dir_;
    // Small reads and windows, so that lines span them everywhere; files of
    // any size measured.
    ScopedSetting<ReadingWay> way_{detail::ForcedReadingWay(), GetParam()};
    ScopedSetting<std::size_t> window_{detail::MappedWindowSize(), 3 * MappedWindow::PageSize()};
    ScopedSetting<std::size_t> chunk_{detail::CopiedChunkSize(), 4099};
    ScopedSetting<std::uint64_t> measure_{detail::MeasureFromSize(), 0};
};

TEST_P(Reading, GivesTheLinesOfTheModel) {
    for (const std::string& tail : {std::string(), std::string("\r")}) {
        const std::string data = AwkwardLines() + tail;
        WriteFile(dir_ / "server.log", data);
        FileSource file(dir_ / "server.log");
        if (GetParam() != ReadingWay::kAuto) {
            EXPECT_EQ(file.way(), GetParam());
        }
        LineReader reader(file);
        std::vector<std::string> lines;
        reader.ForEachLine([&](std::string_view line, std::uint64_t) { lines.emplace_back(line); });
        EXPECT_TRUE(lines == model::ModelLines(data));
        for (const std::uint64_t split : {std::uint64_t{1}, ~std::uint64_t{0}}) {
            ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), split);
            EXPECT_EQ(CountFileLines(dir_ / "server.log"), lines.size());
        }
    }
    if (GetParam() == ReadingWay::kAuto && !platform::kMappingHoldsTheFile) {
        EXPECT_NE(ChosenReadingWay(), ReadingWay::kAuto);  // measured
    }
}

TEST_P(Reading, ConvertsLikeTheModelWholeOrInHalves) {
    for (const char* end : {"\r\n", "\n", "\r"}) {
        bench::LogShape shape;
        shape.bytes = 300000;
        shape.names = 700;
        shape.lineEnd = end;
        shape.tricky = true;
        std::ostringstream out;
        bench::GenerateLog(shape, out);
        const std::string log = out.str() + "x<TS_RY>INT#last#1#0#0#0#";  // no line end
        WriteFile(dir_ / "server.log", log);
        const std::string expected = model::Model(log).script;
        for (const std::uint64_t split : {std::uint64_t{1}, ~std::uint64_t{0}}) {
            ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), split);
            EXPECT_TRUE(Convert() == expected) << std::string_view(end).size() << " " << split;
        }
        // No second thread to be had: one reader, the same script.
        ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), 1);
        ScopedSetting<bool> refused(detail::RefuseHelperThreads(), true);
        EXPECT_TRUE(Convert() == expected);
        EXPECT_EQ(CountFileLines(dir_ / "server.log"), model::ModelLines(log).size());
    }
}

TEST_P(Reading, NoticesALogCutShortWhileItIsRead) {
    if (CannotBeCutShort()) GTEST_SKIP() << "a mapped file cannot be cut short here";
    std::string log;
    for (int i = 0; i < 20000; ++i) log += "[t] <TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\r\n";
    const auto size = static_cast<std::uint64_t>(log.size());
    const std::string last = "[t] <TS_RY>STR#last#" + std::string(100000, 'v') + "#0#0#0#";
    // A tag that ends where the first copied read does (at 4099).
    const std::string tagAtABoundary = std::string(4089, 'c') + "\r\nx<TS_RY>INT#cut#1#0#0#0#\r\n";
    std::string grown;
    for (int i = 0; i < 200; ++i) grown += "[t] <TS_RY>INT#g" + std::to_string(i) + "#1#0#0#0#\r\n";
    const std::uint64_t none = ~std::uint64_t{0};
    const struct {
        const char* name;
        std::uint64_t after;   // truncated once a read passes this offset
        std::uint64_t to;      // to this size
        std::uint64_t split;   // halves from this size
        std::string lastLine;  // appended to the log
        std::string head;      // put before it
        std::string grow;      // appended once the first read is done
    } cases[] = {
        {"early, one reader", 1, 1000, none, "", "", ""},
        {"early, in halves", 1, 1000, 1, "", "", ""},
        {"near the middle, in halves", size / 2 + 100, size / 2 - 10, 1, "", "", ""},
        // The final line, without a line end, lost once it has been read.
        {"the final line", size + last.size(), size, none, last, "", ""},
        {"right after a tag", 4099, 4099, none, "", tagAtABoundary, ""},
        // Grown, read into what grew, then cut back to above the first size.
        {"grown, then cut", size + 1000, size + 1, none, "", "", grown},
    };
    for (const auto& c : cases) {
        WriteFile(dir_ / "server.log", c.head + log + c.lastLine);
        WriteFile(dir_ / "tsry.nss", "old\r\n");
        ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), c.split);
        TruncateAfter(c.after, c.to, c.grow);
        EXPECT_EQ(Failure(), CutShortMessage()) << c.name;
        EXPECT_EQ(ReadFile(dir_ / "tsry.nss"), "old\r\n") << c.name;
        EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"server.log", "tsry.nss"}));
    }
}

TEST_P(Reading, NoticesAFirstHalfCutShortAfterTheSecondIsDone) {
    if (CannotBeCutShort()) GTEST_SKIP() << "a mapped file cannot be cut short here";
    // The first half's reader alone, the second having finished: the file
    // loses the end of the first half's last page.
    const std::string data = AwkwardLines();
    WriteFile(dir_ / "server.log", data);
    ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), 1);
    FileSource first(dir_ / "server.log");
    const std::unique_ptr<FileSource> second = SplitOffSecondHalf(first);
    ASSERT_NE(second, nullptr);
    LineReader reader(first);
    std::string_view block;
    ASSERT_TRUE(reader.NextBlock(block));
    // Just before the split, so that no whole page of the first half is gone
    // (reading it would fault): only the last bytes read as zeros.
    std::size_t split = data.find_first_of("\r\n", data.size() / 2 - 1);
    split += data.compare(split, 2, "\r\n") == 0 ? 2u : 1u;
    std::filesystem::resize_file(dir_ / "server.log", split - 1);
    try {
        while (reader.NextBlock(block)) {
        }
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), CutShortMessage());
    }
}

TEST_P(Reading, ReadsAGrowingLogAsFarAsItHasGrown) {
    std::string log;
    for (int i = 0; i < 3000; ++i) log += "[t] <TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\r\n";
    WriteFile(dir_ / "server.log", log);
    // The server writes a line whenever the converter has read a piece.
    const std::filesystem::path path = dir_ / "server.log";
    int written = 0;
    detail::AfterEachChunk() = [&](std::uint64_t) {
        if (written == 200) return;
        const std::string line =
            "[t] <TS_RY>INT#grown" + std::to_string(written++) + "#2#0#0#0#\r\n";
        std::ofstream(path, std::ios::binary | std::ios::app) << line;
        log += line;
    };
    const std::string script = Convert();
    detail::AfterEachChunk() = nullptr;
    EXPECT_EQ(written, 200);
    EXPECT_TRUE(script == model::Model(log).script);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, Reading,
                         ::testing::Values(ReadingWay::kMapped, ReadingWay::kCopied,
                                           ReadingWay::kAuto),
                         [](const auto& way) { return std::string(ReadingWayName(way.param)); });

}  // namespace
}  // namespace tsry
