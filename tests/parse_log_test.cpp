#include "conversion/parse_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "bench/log_generator.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/log_halves.h"
#include "conversion/script/script_writer.h"
#include "tests/model.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::CrLf;
using test::ReadFile;
using test::WriteFile;
using Strings = std::vector<std::string>;

class ParseLogTest : public ::testing::Test {
  protected:
    std::string Convert(const std::string& log, std::optional<std::uint64_t> count = {}) {
        WriteFile(dir_ / "server.log", log);
        ParseLog(dir_ / "server.log", count, progress_, status_);
        return ReadFile(dir_ / "tsry.nss");
    }

    // The message of the conversion's error.
    std::string Failure(const std::filesystem::path& log,
                        const std::filesystem::path& output = kDefaultScriptName) {
        try {
            ParseLog(log, std::nullopt, progress_, status_, output);
        } catch (const ConversionError& e) {
            return e.what();
        }
        return "no error";
    }

    test::TempDir dir_;
    test::InFolder inDir_{dir_.path()};
    test::RecordingProgress progress_;
    test::RecordingStatus status_;
};

std::string Script(const Strings& statements) {
    return test::ScriptOpening() + CrLf(statements) + test::ScriptClosing();
}

const Strings kExampleLog = {
    "[t] <TS_RY>INT#gold#150#0#0#x#",
    "[t] <TS_RY>STR#title#Sir#0#0#x#",
    "[t] <TS_RY>INT#gold#200#1#2#y#",
    "[t] <TS_RY>LOC#home#area01*10.0*20.5*0.0*90.0*#0#0#z#",
};
const Strings kExampleStatements = {
    "    SetTSRYInt(\"gold\", 200, 1, 2, y);",
    "    SetTSRYString(\"title\", \"Sir\", 0, 0, x);",
    "    oTYArea=GetObjectByTag(\"area01\");",
    "    vTYVector=Vector(10.0, 20.5, 0.0);",
    "    lTYLoc=Location(oTYArea, vTYVector, 90.0);",
    "    SetTSRYLocationC(\"home\", lTYLoc, 0, 0, z);",
};

std::string Join(const Strings& lines, std::string_view end, bool last = true) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (last || i + 1 != lines.size()) text += end;
    }
    return text;
}

TEST_F(ParseLogTest, ConvertsTheSampleLogToTheExpectedScript) {
    const std::filesystem::path examples = TSRY_EXAMPLES_DIR;
    ParseLog(examples / "sample.log", std::nullopt, progress_, status_);
    EXPECT_EQ(ReadFile("tsry.nss"), ReadFile(examples / "sample.expected.nss"));
    EXPECT_EQ(status_.texts, Strings{"Parsing complete, tsry.nss created."});
}

TEST_F(ParseLogTest, ReadsCrLfAndCrAndLfLogsAlike) {
    for (const char* end : {"\r\n", "\r", "\n"}) {
        EXPECT_EQ(Convert(Join(kExampleLog, end)), Script(kExampleStatements)) << end;
        EXPECT_EQ(Convert(Join(kExampleLog, end, false)), Script(kExampleStatements)) << end;
    }
}

TEST_F(ParseLogTest, WritesOnlyTheBlocksForALogWithoutRecords) {
    EXPECT_EQ(Convert(""), Script({}));
    EXPECT_EQ(Convert("[t] server started\r\n[t] <ts_ry>INT#a#1#0#0#0#\r\n"), Script({}));
    EXPECT_EQ(status_.texts.back(), "Parsing complete, tsry.nss created.");
}

TEST_F(ParseLogTest, GivesTheSameBytesOnEveryRun) {
    const std::string first = Convert(Join(kExampleLog, "\r\n"));
    EXPECT_EQ(Convert(Join(kExampleLog, "\r\n")), first);
}

TEST_F(ParseLogTest, DrivesTheProgressBarInOrder) {
    // 6 lines, 3 records: range 0..2*count, L steps after reading, L + n at the end.
    Convert(
        "a\r\nx<TS_RY>INT#a#1#0#0#0#\r\nb\r\nx<TS_RY>INT#b#1#0#0#0#\r\n"
        "x<TS_RY>INT#a#2#0#0#0#\r\nx<TS_RY>FLT#c#1#0#0#0#",
        6);
    ASSERT_GE(progress_.calls.size(), 5u);
    EXPECT_EQ(Strings(progress_.calls.begin(), progress_.calls.begin() + 4),
              (Strings{"min 0", "max 12", "value 0", "show"}));
    EXPECT_EQ(progress_.calls.back(), "hide");
    EXPECT_EQ(progress_.values.back(), 9);
    EXPECT_NE(std::find(progress_.values.begin(), progress_.values.end(), 6.0),
              progress_.values.end());
}

TEST_F(ParseLogTest, StartsWithAnEmptyRangeWhenNeverCounted) {
    Convert("a\r\n");
    EXPECT_EQ(progress_.calls[1], "max 0");
}

TEST_F(ParseLogTest, ConvertsLogsFarPastSixteenBitCounts) {
    // More than 32767 lines plus records, and more than 50000 records.
    std::string log;
    for (int i = 0; i < 60000; ++i) log += "x<TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\r\n";
    const std::string script = Convert(log);
    std::size_t groups = 0;
    for (std::size_t at = script.find("SetTSRYInt("); at != std::string::npos;
         at = script.find("SetTSRYInt(", at + 1)) {
        ++groups;
    }
    EXPECT_EQ(groups, 60000u);
    EXPECT_EQ(progress_.values.back(), 120000);
}

TEST_F(ParseLogTest, ConvertsAnAbsurdlyLongLine) {
    const std::string value(3'000'000, 'v');
    EXPECT_TRUE(Convert(std::string(100000, '-') + "<TS_RY>STR#big#" + value + "#0#0#0#" +
                        std::string(100000, '-')) ==
                Script({"    SetTSRYString(\"big\", " + model::Quoted(value) + ", 0, 0, 0);"}));
}

TEST_F(ParseLogTest, NamesTheOutputFileInTheStatus) {
    WriteFile("server.log", "x<TS_RY>INT#a#1#0#0#0#");
    ParseLog("server.log", std::nullopt, progress_, status_, dir_ / "restore.nss");
    EXPECT_EQ(status_.texts, Strings{"Parsing complete, restore.nss created."});
    EXPECT_EQ(ReadFile("restore.nss"), Script({"    SetTSRYInt(\"a\", 1, 0, 0, 0);"}));
}

TEST_F(ParseLogTest, RefusesToReplaceTheLogItIsMadeFrom) {
    // The only copy of the log would be lost: nothing is read or written.
    WriteFile("tsry.nss", Join(kExampleLog, "\r\n"));
    try {
        ParseLog("tsry.nss", std::nullopt, progress_, status_);
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the script \"tsry.nss\" would replace the log it is made from");
    }
    EXPECT_EQ(ReadFile("tsry.nss"), Join(kExampleLog, "\r\n"));
    EXPECT_EQ(dir_.Entries(), Strings{"tsry.nss"});
    EXPECT_TRUE(progress_.calls.empty());
}

// A large log is read in two halves at once; the script must be the same as
// one reader's, wherever the middle falls.
class TwoHalves : public ParseLogTest {
  protected:
    void SetUp() override {
        saved_ = detail::MinimumSplitSize();
        detail::MinimumSplitSize() = 1;
    }
    void TearDown() override { detail::MinimumSplitSize() = saved_; }
    static std::string OneReader(const std::string& log) {
        class StringSink final : public ByteSink {
          public:
            void Write(std::string_view bytes) override { text.append(bytes); }
            std::string text;
        } sink;
        test::ChunkedSource source(log, {});
        LineReader reader(source);
        NoProgress progress;
        ConvertLog(reader, sink, progress);
        return sink.text;
    }

  private:
    std::uint64_t saved_ = 0;
};

TEST_F(TwoHalves, GiveTheScriptOfOneReader) {
    std::string previous;
    for (const char* end : {"\r\n", "\n", "\r"}) {
        bench::LogShape shape;
        shape.bytes = 3 << 20;
        shape.names = 500;
        shape.lineEnd = end;
        shape.tricky = true;
        shape.seed = previous.size();
        std::ostringstream out;
        bench::GenerateLog(shape, out);
        const std::string log = out.str();
        EXPECT_TRUE(Convert(log) == OneReader(log)) << "line end " << std::string_view(end).size();
        if (previous.empty()) {
            previous = log;
            continue;
        }
        // After another log, in a set: each of the two read in halves.
        WriteFile(dir_ / "earlier.log", previous);
        ParseLog(LogSet{dir_ / "earlier.log", dir_ / "server.log"}, std::nullopt, progress_,
                 status_);
        EXPECT_TRUE(ReadFile(dir_ / "tsry.nss") == OneReader(previous + "\n" + log))
            << "line end " << std::string_view(end).size();
    }
}

TEST_F(TwoHalves, OfLogsOfASetKeepNoRecordOfAnEarlierLog) {
    // The second halves of a set share one table, emptied between logs with
    // its memory kept: a record of a later log must get room of its own,
    // and a value with a block of its own must be given back once.
    const auto chatter = [](std::size_t bytes) {
        std::string text;
        while (text.size() < bytes) text += "[t] the server says something\r\n";
        return text;
    };
    const auto record = [](const std::string& name, std::size_t valueSize) {
        return "[t] <TS_RY>STR#" + name + "#" + std::string(valueSize, 'v') + "#0#0#0#\r\n";
    };
    std::string small;
    for (int i = 0; i < 20; ++i) small += record("n" + std::to_string(i), 10);
    const struct {
        const char* name;
        std::string first;
        std::string second;
    } cases[] = {
        // The first log's second half leaves one small block of text; the
        // second log's second half needs more than that block in one piece.
        {"a record of 16 to 64 KiB", chatter(200000) + small,
         chatter(200000) + record("big", 40000) + small},
        {"a value of more than 64 KiB", chatter(300000) + small + record("huge", 100000),
         chatter(300000) + small + record("huge", 90000)},
    };
    for (const auto& c : cases) {
        WriteFile("first.log", c.first);
        WriteFile("second.log", c.second);
        ParseLog(LogSet{"first.log", "second.log"}, std::nullopt, progress_, status_);
        EXPECT_TRUE(ReadFile("tsry.nss") == OneReader(c.first + c.second)) << c.name;
    }
}

TEST_F(TwoHalves, SplitAtEveryPlaceNearTheMiddle) {
    // Small logs whose middle falls inside a CR LF pair, on a lone CR, inside
    // a record, and so on; the same name on both sides.
    const std::string pieces[] = {
        "x<TS_RY>INT#a#1#0#0#0#", "\r\n", "\r", "\n", "x<TS_RY>INT#b#2#0#0#0#", "chatter",
        "x<TS_RY>STR#a#3#0#0#0#"};
    for (int shape = 0; shape < 200; ++shape) {
        std::string log;
        for (int i = 0, s = shape; i < 8; ++i, s = s * 7 + 3) log += pieces[s % 7];
        EXPECT_EQ(Convert(log), OneReader(log)) << shape;
        test::ChunkedSource source(log, {});
        LineReader reader(source);
        EXPECT_EQ(CountFileLines("server.log"), reader.CountRemainingLines()) << shape;
    }
}

TEST_F(TwoHalves, NumberABadLineInTheSecondHalfFromTheStart) {
    std::string good;
    for (int i = 0; i < 1000; ++i) good += "x<TS_RY>INT#n" + std::to_string(i) + "#1#0#0#0#\r\n";
    const struct {
        std::string log;
        std::string message;  // its start
    } cases[] = {
        {good + "x<TS_RY>INT#broken\r\n", "server.log:1001: the record after"},
        // Checked once the halves are merged, by the line of the newest value.
        {good + "x<TS_RY>INT#late#1)#0#0#0#\r\n",
         "server.log:1001: the Value of INT record \"late\""},
        {good + "x<TS_RY>INT#n3#1)#0#0#0#\r\n", "server.log:1001: the Value of INT record \"n3\""},
        {good + "x<TS_RY>LOC#home#a*1#0#0#0#\r\n", "server.log:1001: the location of variable"},
        // The first half's bad line is the one reported when both have one.
        {"x<TS_RY>INT#early\r\n" + good + "x<TS_RY>INT#broken\r\n",
         "server.log:1: the record after"},
    };
    for (const auto& c : cases) {
        WriteFile("server.log", c.log);
        const std::string message = Failure("server.log");
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << message;
    }
}

// A large table is checked and written on two threads: the script must be
// the one that one thread writes, record after record, in every layout.
TEST_F(ParseLogTest, WritesALargeTableOnTwoThreadsAsOneWould) {
    bench::LogShape shape;
    shape.bytes = 3 << 20;
    shape.names = 30000;
    shape.taggedShare = 0.6;
    shape.tricky = true;
    std::ostringstream out;
    bench::GenerateLog(shape, out);
    const std::string log = out.str();
    RecordTable table;
    std::vector<PendingRecord> batch;
    ExtractBlock(log, 0, table, batch);
    // Runs of 4096 records: the helper writes two, into each of its buffers.
    ASSERT_GT(table.size(), 3u * 4096);
    class StringSink final : public ByteSink {
      public:
        void Write(std::string_view bytes) override { text.append(bytes); }
        std::string text;
    };
    for (const std::size_t perPart : {0u, 1u, 3000u, 4096u, 8191u, 100000u}) {
        StringSink sink;
        ScriptWriter writer(sink);
        const std::size_t parts = perPart == 0 ? 0 : (table.size() + perPart - 1) / perPart;
        perPart == 0 ? writer.WriteOpening() : writer.WriteHeader(parts);
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (perPart != 0 && i % perPart == 0) writer.WritePartStart(i / perPart + 1);
            writer.WriteRecord(table, i);
            if (perPart != 0 && ((i + 1) % perPart == 0 || i + 1 == table.size())) {
                writer.WritePartEnd(i / perPart + 1, parts);
            }
        }
        perPart == 0 ? writer.WriteClosing() : writer.WriteSchedule();
        writer.Flush();
        for (const bool refused : {false, true}) {
            // No second thread to be had: the same script from one.
            test::ScopedSetting<bool> noThread(detail::RefuseHelperThreads(), refused);
            WriteScriptFile(table, "tsry.nss", ScriptLayout{.recordsPerPart = perPart});
            EXPECT_TRUE(ReadFile("tsry.nss") == sink.text) << perPart << " " << refused;
        }
    }
}

TEST_F(ParseLogTest, ReportsTheFirstBadRecordOfALargeTable) {
    // The table is checked in two halves at once; the first failure in table
    // order is the one reported.
    const auto logWith = [](std::initializer_list<std::pair<int, const char*>> bad) {
        std::string log;
        for (int line = 1; line <= 20000; ++line) {
            std::string record = std::to_string(line);
            record += "#1";
            for (const auto& [at, name] : bad) {
                if (at == line) record = std::string(name) += "#1)";
            }
            log += "x<TS_RY>INT#";
            log += record;
            log += "#0#0#0#\r\n";
        }
        return log;
    };
    WriteFile("both.log", logWith({{100, "early"}, {19000, "late"}}));
    EXPECT_EQ(Failure("both.log"),
              "both.log:100: the Value of INT record \"early\" is not a plain value: \"1)\"");
    WriteFile("late.log", logWith({{19000, "late"}}));
    EXPECT_EQ(Failure("late.log"),
              "late.log:19000: the Value of INT record \"late\" is not a plain value: \"1)\"");
}

// Every failure leaves an earlier script exactly as it was and no temporary file.
class ParseLogFailure : public ParseLogTest {
  protected:
    void SetUp() override { WriteFile("tsry.nss", kOldScript); }
    void ExpectNothingChanged() {
        EXPECT_EQ(ReadFile("tsry.nss"), kOldScript);
        for (const auto& name : dir_.Entries()) {
            EXPECT_EQ(name.find(".tmp."), std::string::npos) << "left behind: " << name;
        }
        EXPECT_TRUE(status_.texts.empty());
    }
    static constexpr std::string_view kOldScript = "the previous good script\r\n";
};

TEST_F(ParseLogFailure, MissingLog) {
    EXPECT_EQ(Failure("nowhere.log"),
              "Cannot open the log \"nowhere.log\": " + test::SystemText(test::Fault::kNoSuchFile));
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, LogIsAFolderWithNoLogs) {
    std::filesystem::create_directories("logs/.old");
    WriteFile("logs/.hidden.log", "x<TS_RY>INT#gold#1#0#0#0#\r\n");
    WriteFile("logs/.old/server.log", "x<TS_RY>INT#gold#1#0#0#0#\r\n");
    EXPECT_EQ(Failure("logs"), "The folder \"logs\" holds no logs.");
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, NoLogGiven) {
    EXPECT_EQ(Failure(""), "No log file was given.");
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, MalformedRecordLine) {
    WriteFile("server.log", "a\r\nb\nx<TS_RY>INT#gold#1#0#0#0#\rx<TS_RY>STR#t#\r\n");
    EXPECT_EQ(Failure("server.log"),
              "server.log:4: the record after <TS_RY> is cut short: only 2 of its 6 fields (Kind, "
              "Name) end with \"#\"; missing: Value, Extra1, Extra2, Extra3. A record line must "
              "read Kind#Name#Value#Extra1#Extra2#Extra3# after the tag.");
    ExpectNothingChanged();
    // A long field is looked for within its own line, not in the next one.
    WriteFile("server.log",
              "x<TS_RY>INT#" + std::string(100, 'v') + "\r\nx<TS_RY>INT#b#1#0#0#0#\r\n");
    EXPECT_EQ(Failure("server.log").substr(0, 68),
              "server.log:1: the record after <TS_RY> is cut short: only 1 of its 6");
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, MalformedLocationAfterTheWholeExtraction) {
    // The message names the line that gave the location its value.
    WriteFile("server.log",
              "x<TS_RY>LOC#home#a*1*2*3*4*#0#0#0#\r\nx<TS_RY>LOC#home#a*1*2*#0#0#0#\r\n");
    EXPECT_EQ(Failure("server.log"),
              "server.log:2: the location of variable \"home\" is cut short: only 3 of its 5 parts "
              "(AreaTag, PosX, PosY) end with \"*\"; missing: PosZ, Facing. A location must read "
              "AreaTag*PosX*PosY*PosZ*Facing*.");
    ExpectNothingChanged();
    // Locations are only split once every line has been read, so a cut-short
    // record line after a bad location is what gets reported.
    WriteFile("server.log", "x<TS_RY>LOC#home#a*1*2#0#0#0#\r\nx<TS_RY>INT#\r\n");
    EXPECT_EQ(Failure("server.log").substr(0, 14), "server.log:2: ");
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, ScriptCodeInAFieldWrittenAsItStands) {
    // Only the newest value of a name is looked at, and the line that gave it
    // is the one named.
    WriteFile("server.log",
              "x<TS_RY>INT#a#1); Evil(#0#0#0#\r\nx<TS_RY>INT#a#2#0#0#0#\r\n"
              "x<TS_RY>INT#b#1#0#0#0); Evil(#\r\n");
    EXPECT_EQ(Failure("server.log"),
              "server.log:3: the Extra3 of INT record \"b\" is not a plain value: \"0); Evil(\"");
    ExpectNothingChanged();
    // A float field holds a number or a name: an empty one compiles nowhere.
    WriteFile("floats.log", "x<TS_RY>FLT#f#1.5#0#0#0#\r\nx<TS_RY>LOC#h#t*1*2**4*#0#0#0#\r\n");
    EXPECT_EQ(Failure("floats.log"),
              "floats.log:2: the PosZ of LOC record \"h\" is not a number (digits with a point, "
              "or a name): \"\"");
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, OutputIsADirectory) {
    WriteFile("server.log", "x<TS_RY>INT#gold#1#0#0#0#\r\n");
    std::filesystem::create_directory("out.nss");
    EXPECT_EQ(Failure("server.log", "out.nss"), "Cannot replace the script \"out.nss\": " +
                                                    test::SystemText(test::Fault::kIsADirectory));
    ExpectNothingChanged();
}

TEST_F(ParseLogFailure, OutputDirectoryMissing) {
    WriteFile("server.log", "x<TS_RY>INT#gold#1#0#0#0#\r\n");
    EXPECT_EQ(Failure("server.log", "no/such/dir/tsry.nss"),
              "Cannot create the script \"no/such/dir/tsry.nss\": " +
                  test::SystemText(test::Fault::kNoSuchFolder));
    ExpectNothingChanged();
}

}  // namespace
}  // namespace tsry
