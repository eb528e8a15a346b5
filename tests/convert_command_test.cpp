#include "cli/convert_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "conversion/reading/file_source.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::ReadFile;
using test::WriteFile;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class ConvertCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile("server.log", "[t] start\r\n[t] <TS_RY>INT#gold#150#0#0#x#\r\n[t] end");
    }

    static Outcome Run(std::vector<std::string> args, bool terminal = false) {
        args.insert(args.begin(), "tsry-convert");
        std::vector<const char*> argv;
        for (const auto& arg : args) argv.push_back(arg.c_str());
        std::ostringstream out;
        std::ostringstream err;
        const int status =
            RunConvertCommand(static_cast<int>(argv.size()), argv.data(), out, err, terminal);
        return {status, out.str(), err.str()};
    }

    test::TempDir dir_;
    test::InFolder inDir_{dir_.path()};
};

const std::string kGoldScript = test::ScriptOpening() +
                                test::CrLf({"    SetTSRYInt(\"gold\", 150, 0, 0, x);"}) +
                                test::ScriptClosing();

TEST_F(ConvertCommand, ConvertsToTsryNssAndSaysSo) {
    const Outcome outcome = Run({"server.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "Parsing complete, tsry.nss created.\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(ReadFile("tsry.nss"), kGoldScript);
}

TEST_F(ConvertCommand, WritesTheFileNamedByOutput) {
    std::filesystem::create_directory("scripts");
    const Outcome outcome = Run({"-o", "scripts/restore.nss", "server.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "Parsing complete, restore.nss created.\n");
    EXPECT_EQ(ReadFile("scripts/restore.nss"), kGoldScript);
    EXPECT_FALSE(std::filesystem::exists("tsry.nss"));
}

TEST_F(ConvertCommand, DrawsProgressOnlyOnATerminal) {
    const Outcome terminal = Run({"server.log"}, true);
    EXPECT_EQ(terminal.status, 0);
    EXPECT_EQ(terminal.err.rfind("\r[", 0), 0u) << terminal.err;
    EXPECT_NE(terminal.err.find("] 0%"), std::string::npos) << terminal.err;
    EXPECT_EQ(terminal.err.back(), '\r');  // the bar is wiped at the end
    EXPECT_EQ(terminal.out, "Parsing complete, tsry.nss created.\n");
    EXPECT_EQ(ReadFile("tsry.nss"), kGoldScript);
}

TEST_F(ConvertCommand, TerminalProgressOfALogThatGrowsStopsAtAHundredPercent) {
    std::string log;
    for (int i = 0; i < 2000; ++i) log += "[t] <TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\r\n";
    WriteFile("growing.log", log);
    test::ScopedSetting<ReadingWay> copied(detail::ForcedReadingWay(), ReadingWay::kCopied);
    test::ScopedSetting<std::size_t> chunk(detail::CopiedChunkSize(), 4096);
    // The server writes as much again while the first piece is scanned.
    detail::AfterEachChunk() = [&log, grown = false](std::uint64_t) mutable {
        if (!grown) std::ofstream("growing.log", std::ios::binary | std::ios::app) << log;
        grown = true;
    };
    const Outcome outcome = Run({"growing.log"}, true);
    detail::AfterEachChunk() = nullptr;
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    int highest = 0;
    for (std::size_t at = outcome.err.find("] "); at != std::string::npos;
         at = outcome.err.find("] ", at + 1)) {
        highest = std::max(highest, std::stoi(outcome.err.substr(at + 2)));
    }
    EXPECT_EQ(highest, 100) << outcome.err;
}

TEST_F(ConvertCommand, CountsLines) {
    const Outcome outcome = Run({"--count", "server.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "3\n");
    EXPECT_FALSE(std::filesystem::exists("tsry.nss"));
}

TEST_F(ConvertCommand, ListsIntoTheFileNamedAndSaysHowManyVariables) {
    const struct {
        std::string log;
        std::string said;
    } cases[] = {
        {"[t] nothing\r\n", "Listing complete, 0 variables in l.tsv.\n"},
        {"x<TS_RY>INT#a#1#0#0#0#\r\nx<TS_RY>INT#a#2#0#0#0#\r\n",
         "Listing complete, 1 variable in l.tsv.\n"},
        {"x<TS_RY>INT#a#1#0#0#0#\r\nx<TS_RY>INT#b#2#0#0#0#\r\n",
         "Listing complete, 2 variables in l.tsv.\n"},
    };
    for (const auto& c : cases) {
        WriteFile("l.log", c.log);
        const Outcome outcome = Run({"--list", "-o", "l.tsv", "l.log"});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, c.said);
        EXPECT_EQ(outcome.err, "");
    }
}

// The archive goes with every way of writing, and with --list prints and
// keeps the merged list.
TEST_F(ConvertCommand, KeepsAnArchiveWhateverItWrites) {
    const std::string header = "name\tkind\tvalue\textra1\textra2\textra3\tsource\n";
    const std::string gold = "gold\tINT\t150\t0\t0\tx\tserver.log:2\n";
    const std::string a = "a\tINT\t1\t0\t0\t0\tnew.log.gz:1\n";
    WriteFile("new.log.gz", test::Gzip("x<TS_RY>INT#a#1#0#0#0#\r\n"));
    const struct {
        std::vector<std::string> args;
        std::string archive;  // afterwards
        std::string out;
    } cases[] = {
        {{"--list", "-o", "first.tsv", "server.log"},
         header + gold,
         "Listing complete, 1 variable in first.tsv.\n"},
        {{"-o", "parts.nss", "--parts", "1", "new.log.gz"},
         header + gold + a,
         "Parsing complete, parts.nss created. In 2 parts, run one after another.\n"},
        {{"--one-main", "server.log"}, header + gold + a, "Parsing complete, tsry.nss created.\n"},
        {{"--list", "-o", "l.tsv", "new.log.gz"},
         header + gold + a,
         "Listing complete, 2 variables in l.tsv.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--keep", "k.tsv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(ReadFile("k.tsv"), c.archive);
    }
    EXPECT_EQ(ReadFile("l.tsv"), header + gold + a);
    const Outcome refused = Run({"--keep", "server.log", "server.log"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "tsry-convert: the archive \"server.log\" would replace the log it is made from\n");
}

TEST_F(ConvertCommand, ReportsFailuresWithItsNameAndExitsOne) {
    WriteFile("tsry.nss", "old");
    Outcome outcome = Run({"missing.log"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    const std::string missing = "tsry-convert: Cannot open the log \"missing.log\": " +
                                test::SystemText(test::Fault::kNoSuchFile) + "\n";
    EXPECT_EQ(outcome.err, missing);
    outcome = Run({"--count", "missing.log"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, missing);
    WriteFile("bad.log", "x<TS_RY>INT#gold#1#\r\n");
    outcome = Run({"bad.log"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.substr(0, 25), "tsry-convert: bad.log:1: ");
    EXPECT_EQ(ReadFile("tsry.nss"), "old");
}

TEST_F(ConvertCommand, ExitsTwoOnUsageErrorsSayingWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        std::string problem;  // after the program's name
    } cases[] = {
        {{}, "no LOG was given: name the log to convert, or - for standard input"},
        {{"--bogus", "server.log"}, "the following argument was not expected: --bogus"},
        {{"--count", "-o", "x.nss", "server.log"}, "--output and --count cannot be used together"},
        {{"--parts", "2", "--count", "server.log"}, "--parts and --count cannot be used together"},
        {{"--parts", "0", "server.log"}, "--parts: \"0\" is not a whole number of 1 or more"},
        {{"--parts", "-1", "server.log"}, "--parts: \"-1\" is not a whole number of 1 or more"},
        {{"--parts", "two", "server.log"}, "--parts: \"two\" is not a whole number of 1 or more"},
        {{"--parts", "1.5", "server.log"}, "--parts: \"1.5\" is not a whole number of 1 or more"},
        {{"--parts", "", "server.log"}, "--parts: \"\" is not a whole number of 1 or more"},
        {{"--parts", "99999999999999999999", "server.log"},
         "--parts: \"99999999999999999999\" is too large"},
        {{"--parts", "-5", "server.log"}, "--parts: \"-5\" is not a whole number of 1 or more"},
        {{"--parts", "2", "--parts", "3", "server.log"}, "--parts can be given only once"},
        {{"-o", "a.nss", "--output", "b.nss", "server.log"}, "--output can be given only once"},
        {{"server.log", "--parts"}, "--parts must be followed by N"},
        {{"--parts", "-o", "x.nss", "server.log"},
         "--parts must be followed by N, not by the option \"-o\""},
        {{"--parts", "--one-main", "server.log"},
         "--parts must be followed by N, not by the option \"--one-main\""},
        {{"-o", "--parts", "2", "server.log"},
         "--output must be followed by FILE, not by the option \"--parts\""},
        {{"--keep", "--list", "server.log"},
         "--keep must be followed by FILE, not by the option \"--list\""},
        {{"--list", "--parts", "2", "server.log"}, "--parts and --list cannot be used together"},
        {{"--parts", "2", "--one-main", "server.log"},
         "--parts and --one-main cannot be used together"},
        {{"--one-main", "--list", "server.log"}, "--one-main and --list cannot be used together"},
        {{"--one-main", "--count", "server.log"}, "--one-main and --count cannot be used together"},
        {{"--list", "--count", "server.log"}, "--count and --list cannot be used together"},
        {{"-", "server.log", "-"}, "- (standard input) can stand only once among the logs"},
        {{"--keep", "k.tsv", "--count", "server.log"},
         "--keep and --count cannot be used together"},
        {{"--keep", "", "server.log"}, "--keep: name the archive FILE"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.status, 2) << c.problem;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "tsry-convert: " + c.problem +
                                   "\nRun tsry-convert --help for more information.\n");
    }
    EXPECT_FALSE(std::filesystem::exists("tsry.nss"));
    EXPECT_EQ(Run({"--parts", "007", "server.log"}).status, 0);
    EXPECT_EQ(Run({"-o", "./--parts", "server.log"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists("--parts"));
}

// A log of records a, o (a kind that writes nothing), b and c.
constexpr std::string_view kFourRecords =
    "x<TS_RY>INT#a#1#0#0#0#\r\nx<TS_RY>OBJ#o#1#0#0#0#\r\n"
    "x<TS_RY>STR#b#hi#0#0#0#\r\nx<TS_RY>FLT#c#1.5#0#0#0#\r\n";

TEST_F(ConvertCommand, WritesTheScriptInParts) {
    WriteFile("four.log", kFourRecords);
    ASSERT_EQ(Run({"--parts", "2", "four.log"}).status, 0);
    EXPECT_EQ(ReadFile("tsry.nss"), test::CrLf({
                                        "/* Persistent World Tessary System",
                                        "   DESC: Contains the function that brings in the "
                                        "persistent data from another module.",
                                        "   ORIGINAL CREATOR, v1.8: vesper_ashgrove",
                                        "   v2.0 CHANGES: KestrelMoor",
                                        "*/",
                                        "#include \"tsry_functions\"",
                                        " ",
                                        "void TSRYRestorePart1();",
                                        "void TSRYRestorePart2();",
                                        " ",
                                        "void TSRYRestorePart1()",
                                        "{",
                                        "    object oTYArea;",
                                        "    vector vTYVector;",
                                        "    location lTYLoc;",
                                        " ",
                                        "    SetTSRYInt(\"a\", 1, 0, 0, 0);",
                                        " ",
                                        "    DelayCommand(0.0, TSRYRestorePart2());",
                                        "}",
                                        " ",
                                        "void TSRYRestorePart2()",
                                        "{",
                                        "    object oTYArea;",
                                        "    vector vTYVector;",
                                        "    location lTYLoc;",
                                        " ",
                                        "    SetTSRYString(\"b\", \"hi\", 0, 0, 0);",
                                        "    SetTSRYFloat(\"c\", 1.5, 0, 0, 0);",
                                        " ",
                                        "}",
                                        " ",
                                        "void main()",
                                        "{",
                                        "    DelayCommand(0.0, TSRYRestorePart1());",
                                        " ",
                                        "}",
                                    }));
    const std::string a = "    SetTSRYInt(\"a\", 1, 0, 0, 0);";
    const std::string b = "    SetTSRYString(\"b\", \"hi\", 0, 0, 0);";
    const std::string c = "    SetTSRYFloat(\"c\", 1.5, 0, 0, 0);";
    ASSERT_EQ(Run({"--parts", "1", "-o", "one.nss", "four.log"}).status, 0);
    EXPECT_EQ(ReadFile("one.nss"), test::PartsScript({{a}, {}, {b}, {c}}));
    ASSERT_EQ(Run({"--parts", "9", "four.log"}).status, 0);
    EXPECT_EQ(ReadFile("tsry.nss"), test::PartsScript({{a, b, c}}));
    // Three records in parts of two: a part of two and a part of one.
    WriteFile("three.log", kFourRecords.substr(0, kFourRecords.rfind('x')));
    EXPECT_EQ(Run({"--parts", "2", "three.log"}).out,
              "Parsing complete, tsry.nss created. In 2 parts, run one after another.\n");
    EXPECT_EQ(ReadFile("tsry.nss"), test::PartsScript({{a}, {b}}));
    // No records: the same script as without parts.
    WriteFile("empty.log", "chatter\r\n");
    ASSERT_EQ(Run({"--parts", "3", "empty.log"}).status, 0);
    EXPECT_EQ(ReadFile("tsry.nss"), test::ScriptOpening() + test::ScriptClosing());
}

TEST_F(ConvertCommand, SplitsALargeRestoreIntoPartsThatRunInOrder) {
    std::string log;
    for (int i = 0; i < 50000; ++i) log += "x<TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\n";
    WriteFile("big.log", log);
    const Outcome outcome = Run({"--parts", "2000", "big.log"});
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    // Read back: every declaration, every function with the groups it holds
    // and what it schedules. main schedules one part whatever their number,
    // so that its cost stays the same.
    std::istringstream script(ReadFile("tsry.nss"));
    std::vector<std::string> declared;
    std::vector<std::string> functions;
    std::vector<int> groups;
    std::vector<std::string> scheduled;
    int next = 0;
    for (std::string line; std::getline(script, line);) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        if (line.rfind("void ", 0) == 0 && line.back() == ';') {
            declared.push_back(line.substr(5));
        } else if (line.rfind("void ", 0) == 0) {
            functions.push_back(line.substr(5));
            groups.push_back(0);
            scheduled.emplace_back();
        } else if (line.rfind("    SetTSRYInt(\"v", 0) == 0) {
            EXPECT_EQ(line, "    SetTSRYInt(\"v" + std::to_string(next++) + "\", 1, 0, 0, 0);");
            ++groups.back();
        } else if (line.rfind("    DelayCommand(", 0) == 0) {
            EXPECT_EQ(scheduled.back(), "");
            scheduled.back() = line;
        }
    }
    EXPECT_EQ(next, 50000);
    ASSERT_EQ(declared.size(), 25u);
    ASSERT_EQ(functions.size(), 26u);
    EXPECT_EQ(functions.back(), "main()");
    EXPECT_EQ(scheduled.back(), "    DelayCommand(0.0, TSRYRestorePart1());");
    for (std::size_t p = 0; p < 25; ++p) {
        const std::string name = "TSRYRestorePart" + std::to_string(p + 1);
        EXPECT_EQ(declared[p], name + "();");
        EXPECT_EQ(functions[p], name + "()");
        EXPECT_EQ(groups[p], 2000);
        EXPECT_EQ(scheduled[p], p + 1 < 25 ? "    DelayCommand(0.0, TSRYRestorePart" +
                                                 std::to_string(p + 2) + "());"
                                           : "");
    }
}

TEST_F(ConvertCommand, WritesMoreThan4096VariablesInPartsUnlessOneMain) {
    // A record of a kind that writes nothing counts towards a part, not
    // towards the 4096.
    std::string log = "x<TS_RY>OBJ#o#1#0#0#0#\n";
    std::vector<std::string> groups;
    for (int i = 0; i < 4097; ++i) {
        log += "x<TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\n";
        groups.push_back("    SetTSRYInt(\"v" + std::to_string(i) + "\", 1, 0, 0, 0);");
    }
    const auto oneMain = [&groups](std::size_t count) {
        return test::ScriptOpening() +
               test::CrLf({groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(count)}) +
               test::ScriptClosing();
    };
    const auto part = [&groups](std::size_t from, std::size_t to) {
        return std::vector<std::string>(groups.begin() + static_cast<std::ptrdiff_t>(from),
                                        groups.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const std::string note =
        "tsry-convert: note: the script restores 4097 variables in one go; the game may stop a "
        "script that long before its end unless its instruction limit is raised. --parts 2000 "
        "splits it into parts that run one after another.\n";

    // 4096: one main, as always.
    WriteFile("many.log", log.substr(0, log.rfind("x<TS_RY>")));
    Outcome outcome = Run({"many.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "Parsing complete, tsry.nss created.\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(ReadFile("tsry.nss") == oneMain(4096));

    // 4097: parts of 2000 records, the first holding the one that writes
    // nothing.
    WriteFile("many.log", log);
    outcome = Run({"many.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out,
              "Parsing complete, tsry.nss created. In 3 parts, run one after another.\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(ReadFile("tsry.nss") ==
                test::PartsScript({part(0, 1999), part(1999, 3999), part(3999, 4097)}));

    // --one-main: one main whatever the size, and the note.
    outcome = Run({"--one-main", "many.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "Parsing complete, tsry.nss created.\n");
    EXPECT_EQ(outcome.err, note);
    EXPECT_TRUE(ReadFile("tsry.nss") == oneMain(4097));

    // --parts N as before.
    outcome = Run({"--parts", "5000", "many.log"});
    EXPECT_EQ(outcome.out, "Parsing complete, tsry.nss created. In 1 part, run after main.\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(ReadFile("tsry.nss") == test::PartsScript({part(0, 4097)}));
}

TEST_F(ConvertCommand, ListsFloatsAsLogged) {
    // The script writes them as the compilers read them; the list shows the log.
    WriteFile("floats.log",
              "x<TS_RY>FLT#rate#0.05#0#0#0#\r\nx<TS_RY>LOC#at#a*56.61*1*2*3*#0#0#0#\r\n");
    ASSERT_EQ(Run({"--list", "-o", "list.tsv", "floats.log"}).status, 0);
    EXPECT_EQ(ReadFile("list.tsv"),
              "name\tkind\tvalue\textra1\textra2\textra3\tsource\n"
              "rate\tFLT\t0.05\t0\t0\t0\tfloats.log:1\n"
              "at\tLOC\ta*56.61*1*2*3*\t0\t0\t0\tfloats.log:2\n");
}

TEST_F(ConvertCommand, AnswersHelpAndVersion) {
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--count"), std::string::npos);
    EXPECT_NE(help.out.find("-o,--output FILE"), std::string::npos);
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tsry-convert ", 0), 0u);
}

}  // namespace
}  // namespace tsry
