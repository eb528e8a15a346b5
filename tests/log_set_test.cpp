// Several logs read as one: in the order given, each file's lines its own,
// folders oldest first, gzip logs decompressed; messages that name the file
// and its line; the list of variables.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "conversion/list_logs.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"
#include "tests/model.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

struct LogFile {
    std::string path;
    std::string text;
    bool gzip = false;  // written compressed, one member per line
    int age = 0;        // hours since it was last written
};

void Write(const LogFile& file) {
    fs::create_directories(fs::path(file.path).parent_path().empty()
                               ? fs::path(".")
                               : fs::path(file.path).parent_path());
    std::string bytes = file.text;
    if (file.gzip) {
        bytes.clear();
        for (const std::string& line : model::ModelLines(file.text))
            bytes += test::Gzip(line + "\r\n");
    }
    WriteFile(file.path, bytes);
    fs::last_write_time(file.path, fs::file_time_type::clock::now() - std::chrono::hours(file.age));
}

class LogSets : public ::testing::Test {
  protected:
    static LogSet Set(const std::vector<std::string>& given) {
        LogSet set;
        for (const std::string& path : given) set.push_back(path);
        return set;
    }
    static std::string Failure(const std::vector<std::string>& given) {
        NoProgress progress;
        NoStatus status;
        try {
            ParseLog(Set(given), std::nullopt, progress, status);
        } catch (const ConversionError& e) {
            return e.what();
        }
        return "no error";
    }

    void Empty() const {
        for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
    }

    test::TempDir dir_;
    test::InFolder inDir_{dir_.path()};
};

const std::string kA = "[t] <TS_RY>INT#gold#1#0#0#0#\r\n[t] <TS_RY>STR#title#Sir#0#0#0#\r\n";
const std::string kB =
    "[t] chatter\n[t] <TS_RY>INT#gold#2#0#0#0#\n[t] <TS_RY>FLT#rate#1.5#0#0#0#\n";
const std::string kC = "[t] <TS_RY>INT#new#3#0#0#0#\r[t] <TS_RY>STR#title#Lord#0#0#0#\r";

TEST_F(LogSets, ReadOneAfterAnotherAsTheModelReadsTheirLines) {
    const struct {
        const char* name;
        std::vector<LogFile> files;
        std::vector<std::string> given;
        std::vector<std::string> read;  // the texts, in the order they are read
    } cases[] = {
        {"in the order given", {{"a.log", kA}, {"b.log", kB}}, {"a.log", "b.log"}, {kA, kB}},
        {"the other order", {{"a.log", kA}, {"b.log", kB}}, {"b.log", "a.log"}, {kB, kA}},
        {"every line end",
         {{"a.log", kA}, {"b.log", kB}, {"c.log", kC}},
         {"c.log", "a.log", "b.log"},
         {kC, kA, kB}},
        {"no line end at the end of a file",
         {{"a.log", "[t] <TS_RY>INT#a#1#0#0#0#"}, {"b.log", "[t] <TS_RY>INT#b#2#0#0#0#"}},
         {"a.log", "b.log"},
         {"[t] <TS_RY>INT#a#1#0#0#0#", "[t] <TS_RY>INT#b#2#0#0#0#"}},
        {"a CR at the end of one and an LF at the start of the next",
         {{"a.log", "[t] <TS_RY>INT#a#1#0#0#0#\r"}, {"b.log", "\n[t] <TS_RY>INT#b#2#0#0#0#\n"}},
         {"a.log", "b.log"},
         {"[t] <TS_RY>INT#a#1#0#0#0#\r", "\n[t] <TS_RY>INT#b#2#0#0#0#\n"}},
        {"gzip of several members, whatever the name",
         {{"old.log", kB, true}, {"a.log.gz", kA, true}, {"c.log", kC}},
         {"old.log", "a.log.gz", "c.log"},
         {kB, kA, kC}},
        {"a folder, oldest first, dot names left out",
         {{"history/z.log", kA, false, 30},
          {"history/sub/m.log", kB, false, 20},
          {"history/a.log.gz", kC, true, 10},
          {"history/.partial.log", "[t] <TS_RY>INT#gold#9#0#0#0#\r\n", false, 1},
          {"history/.old/y.log", "[t] <TS_RY>INT#gold#8#0#0#0#\r\n", false, 40},
          {"now.log", "[t] <TS_RY>INT#gold#4#0#0#0#\r\n"}},
         {"history", "now.log"},
         {kA, kB, kC, "[t] <TS_RY>INT#gold#4#0#0#0#\r\n"}},
    };
    for (const auto& c : cases) {
        Empty();
        for (const LogFile& file : c.files) Write(file);
        NoProgress progress;
        NoStatus status;
        ParseLog(Set(c.given), std::nullopt, progress, status);
        EXPECT_TRUE(ReadFile("tsry.nss") == model::Model(model::JoinedLogs(c.read)).script)
            << c.name << ":\n"
            << ReadFile("tsry.nss");
        EXPECT_EQ(CountFileLines(Set(c.given)), model::ModelLines(model::JoinedLogs(c.read)).size())
            << c.name;
    }
}

TEST_F(LogSets, MessagesNameTheFileAndItsLine) {
    std::string large;
    for (int i = 0; i < 1000; ++i) large += "x<TS_RY>INT#n" + std::to_string(i) + "#1#0#0#0#\r\n";
    const std::string old = "the previous good script\r\n";
    const struct {
        std::vector<LogFile> files;
        std::vector<std::string> given;
        std::string message;  // its start
    } cases[] = {
        {{{"a.log", kA}, {"b.log", "ok\r\n[t] <TS_RY>INT#cut\r\n"}},
         {"a.log", "b.log"},
         "b.log:2: the record after <TS_RY> is cut short"},
        {{{"a.log", kA}, {"b.log", "[t] <TS_RY>INT#v#1)#0#0#0#\r\n"}},
         {"a.log", "b.log"},
         "b.log:1: the Value of INT record \"v\" is not a plain value"},
        // A later value of a name of the first file, bad in the second half of the second.
        {{{"a.log", kA}, {"b.log", large + "[t] <TS_RY>INT#gold#1)#0#0#0#\r\n"}},
         {"a.log", "b.log"},
         "b.log:1001: the Value of INT record \"gold\""},
        {{{"a.log", kA}, {"b.log", large + "[t] <TS_RY>INT#cut\r\n"}},
         {"a.log", "b.log"},
         "b.log:1001: the record after"},
        {{{"logs/a.log", kA, false, 2},
          {"logs/sub/b.log", "[t] <TS_RY>LOC#h#a*1#0#0#0#\r\n", false, 1}},
         {"logs"},
         (fs::path("logs") / "sub" / "b.log").string() + ":1: the location of variable \"h\""},
        {{{"a.log", kA}, {"b.log.gz", kB, true}},
         {"a.log", "b.log.gz", "c.log"},
         "Cannot open the log \"c.log\": " + test::SystemText(test::Fault::kNoSuchFile)},
    };
    test::ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), 1);
    for (const auto& c : cases) {
        Empty();
        for (const LogFile& file : c.files) Write(file);
        WriteFile("tsry.nss", old);
        const std::string message = Failure(c.given);
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << message;
        EXPECT_EQ(ReadFile("tsry.nss"), old);
    }
}

TEST_F(LogSets, ADamagedOrTruncatedGzipLogIsAnErrorNamingIt) {
    const std::string old = "the previous good script\r\n";
    const std::string gzip = test::Gzip(kA + kB);
    std::string damaged = gzip;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
    for (const auto& [bytes, message] :
         {std::pair{gzip.substr(0, gzip.size() - 5),
                    "The log \"b.log.gz\" ends in the middle of its compressed data"},
          std::pair{damaged, "The log \"b.log.gz\" is damaged"}}) {
        WriteFile("a.log", kA);
        WriteFile("b.log.gz", bytes);
        WriteFile("tsry.nss", old);
        const std::string failure = Failure({"a.log", "b.log.gz"});
        EXPECT_EQ(failure.substr(0, std::string(message).size()), message) << failure;
        EXPECT_EQ(ReadFile("tsry.nss"), old);
        EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"a.log", "b.log.gz", "tsry.nss"}));
    }
}

TEST_F(LogSets, ListsEveryVariableWithWhereItsValueComesFrom) {
    // Records a conversion refuses are listed too; tabs and backslashes escaped.
    const std::vector<std::string> logs = {
        kA + "[t] <TS_RY>LOC#home#cut*short#0#0#0#\r\n[t] <TS_RY>STR#path#C:\\x\tq#0#0#0#\r\n",
        kB + "[t] <TS_RY>INT#gold#1); Evil(#0#0#0#\n"};
    WriteFile("a.log", logs[0]);
    WriteFile("b.log", logs[1]);
    NoProgress progress;
    EXPECT_EQ(ListLogs(Set({"a.log", "b.log"}), progress, "list.tsv"), 5u);
    EXPECT_EQ(ReadFile("list.tsv"), model::ModelList({"a.log", "b.log"}, logs));
    EXPECT_NE(ReadFile("list.tsv").find("C:\\\\x\\tq"), std::string::npos);
}

}  // namespace
}  // namespace tsry
