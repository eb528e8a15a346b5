// Several logs read as one: in the order given, each file's lines its own,
// folders oldest first, gzip logs decompressed; messages that name the file
// and its line; the list of variables.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "conversion/list_logs.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/file_source.h"
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
    bool gzip = false;      // written compressed, one member per line
    int age = 0;            // hours since it was last written; equal ages, equal times
    std::string link = {};  // if set, a hard link to this file instead
    bool symbolic = false;  // a symbolic link, its text `link`
};

void Write(const LogFile& file) {
    static const fs::file_time_type now = fs::file_time_type::clock::now();
    fs::create_directories(fs::path(file.path).parent_path().empty()
                               ? fs::path(".")
                               : fs::path(file.path).parent_path());
    if (file.symbolic) {
        fs::create_symlink(file.link, file.path);
        return;
    }
    if (!file.link.empty()) {
        fs::create_hard_link(file.link, file.path);
        return;
    }
    std::string bytes = file.text;
    if (file.gzip) {
        bytes.clear();
        for (const std::string& line : model::ModelLines(file.text))
            bytes += test::Gzip(line + "\r\n");
    }
    WriteFile(file.path, bytes);
    fs::last_write_time(file.path, now - std::chrono::hours(file.age));
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
    const std::string gold7 = "[t] <TS_RY>INT#gold#7#0#0#0#\r\n";
    const std::string x4 = "[t] <TS_RY>INT#x#4#0#0#0#\r\n";
    const struct {
        const char* name;
        std::vector<LogFile> files;
        std::vector<std::string> given;
        std::vector<std::string> read;  // the texts, in the order they are read
        std::string output = "tsry.nss";
        int runs = 1;  // each giving the same script
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
        {"equal times by path, byte by byte",
         {{"same/c.log", kC, false, 5},
          {"same/a-b.log", kA, false, 5},
          {"same/B.log", kB, false, 5},
          {"same/a/b.log", x4, false, 5}},
         {"same"},
         {kB, kA, x4, kC}},
        // The run's output and the temporary files beside it are no logs:
        // converted twice, a folder gives the same script.
        {"the folder that holds the script, and a temporary file of a killed run",
         {{"a.log", kA, false, 2},
          {"tsry.nss.tmp.Q1w2E3", gold7, false, 1},
          {"tsry.nss.tmp.Q1w2E", kC, false, 1}},
         {"."},
         {kA, kC},
         "tsry.nss",
         2},
        {"a folder that holds the output named",
         {{"d/a.log", kA}, {"d/out.nss", gold7}},
         {"d"},
         {kA},
         (fs::path("d") / "out.nss").string(),
         2},
        {"the script under another name",
         {{"tsry.nss", gold7}, {"d/a.log", kA, false, 1}, {"d/hard.nss", "", false, 0, "tsry.nss"}},
         {"d"},
         {kA}},
    };
    for (const auto& c : cases) {
        Empty();
        for (const LogFile& file : c.files) Write(file);
        // As the window and --count count them.
        EXPECT_EQ(CountFileLines(ExpandLogSetFor(Set(c.given), c.output)),
                  model::ModelLines(model::JoinedLogs(c.read)).size())
            << c.name;
        NoProgress progress;
        NoStatus status;
        for (int run = 1; run <= c.runs; ++run) {
            ParseLog(Set(c.given), std::nullopt, progress, status, c.output);
            EXPECT_TRUE(ReadFile(c.output) == model::Model(model::JoinedLogs(c.read)).script)
                << c.name << ", run " << run << ":\n"
                << ReadFile(c.output);
        }
    }
}

TEST_F(LogSets, MessagesNameTheFileAndItsLine) {
    std::string large;
    for (int i = 0; i < 1000; ++i) large += "x<TS_RY>INT#n" + std::to_string(i) + "#1#0#0#0#\r\n";
    const std::string old = "the previous good script\r\n";
    const struct {
        std::vector<LogFile> files;
        std::vector<std::string> given;
        std::string message;          // its start
        std::string unreadable = {};  // a folder that cannot be read
        bool listable = false;        // whose names can still be listed
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
        // Named as a log, the script is refused: it is no folder's file.
        {{{"a.log", kA}},
         {"a.log", "tsry.nss"},
         "the script \"tsry.nss\" would replace the log it is made from"},
        // Not a part of the history left out: the folder that is refused.
        {{{"logs/a.log", kA}, {"logs/sub/deep/b.log", kB}, {"logs/sub/c.log", kC}},
         {"logs"},
         "Cannot read the folder \"" + (fs::path("logs") / "sub" / "deep").string() +
             "\": " + test::SystemText(test::Fault::kNoPermission),
         (fs::path("logs") / "sub" / "deep").string()},
        // Listed, but what it holds cannot be looked at: refused as well.
        {{{"logs/a.log", kA}, {"logs/sub/deep/b.log", "", false, 0, "../../a.log", true}},
         {"logs"},
         "Cannot read the folder \"" + (fs::path("logs") / "sub" / "deep").string() + "\": ",
         (fs::path("logs") / "sub" / "deep").string(),
         true},
    };
    test::ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), 1);
    for (const auto& c : cases) {
        Empty();
        for (const LogFile& file : c.files) Write(file);
        WriteFile("tsry.nss", old);
        std::optional<test::UnreadableFolder> unreadable;
        if (!c.unreadable.empty() && !unreadable.emplace(c.unreadable, c.listable).applies())
            continue;
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

TEST_F(LogSets, ProgressFollowsTheBytesOfTheFilesAsTheyAreRead) {
    // Lines that compress about as well as a server's, megabytes of them: a
    // gzip log is read in many pieces of its file.
    std::string text;
    for (std::uint32_t seed = 1; text.size() < (std::size_t{4} << 20);) {
        seed = seed * 1664525u + 1013904223u;
        text += "[12:00:" + std::to_string(seed % 60) + "] <TS_RY>INT#name" +
                std::to_string(seed >> 22) + "#" + std::to_string(seed % 100000) + "#0#0#x#\r\n";
    }
    const std::string gzip = test::Gzip(text);
    test::ScopedSetting<ReadingWay> copied(detail::ForcedReadingWay(), ReadingWay::kCopied);
    test::ScopedSetting<std::size_t> pieces(detail::CopiedChunkSize(), 65536);
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // path, bytes
    } cases[] = {
        {"plain", {{"a.log", text}}},
        {"gzip", {{"a.log.gz", gzip}}},
        {"gzip, then plain", {{"a.log.gz", gzip}, {"b.log", kA}}},
        {"plain, then gzip", {{"b.log", kA}, {"a.log.gz", gzip}}},
    };
    for (const auto& c : cases) {
        Empty();
        LogSet set;
        std::uint64_t size = 0;
        for (const auto& [path, bytes] : c.files) {
            WriteFile(path, bytes);
            set.push_back(path);
            size += bytes.size();
        }
        test::RecordingProgress progress;
        NoStatus status;
        ParseLog(set, std::nullopt, progress, status);
        ASSERT_FALSE(progress.bytesRead.empty()) << c.name;
        std::uint64_t before = 0;
        std::size_t between = 0;  // reports of new amounts, after the start and before the end
        for (const auto& [bytes, of] : progress.bytesRead) {
            EXPECT_EQ(of, size) << c.name;
            EXPECT_GE(bytes, before) << c.name;
            EXPECT_LE(bytes, size) << c.name;
            between += bytes > before && bytes < size ? 1 : 0;
            before = bytes;
        }
        EXPECT_EQ(before, size) << c.name;
        EXPECT_GE(between, 3u) << c.name;
    }
}

TEST_F(LogSets, ListsEveryVariableWithWhereItsValueComesFrom) {
    // Records a conversion refuses are listed too; tabs and backslashes escaped.
    const std::string odd =
        kA + "[t] <TS_RY>LOC#home#cut*short#0#0#0#\r\n[t] <TS_RY>STR#path#C:\\x\tq#0#0#0#\r\n";
    const std::string evil = kB + "[t] <TS_RY>INT#gold#1); Evil(#0#0#0#\n";
    EXPECT_NE(model::ModelList({"a.log"}, {odd}).find("C:\\\\x\\tq"), std::string::npos);
    // More rows than are written at once.
    std::string many;
    for (int i = 0; i < 2000; ++i) {
        many += "[t] <TS_RY>STR#name" + std::to_string(i) + "#" +
                std::string(200, static_cast<char>('a' + i % 26)) + "#0#0#0#\r\n";
    }
    const struct {
        const char* name;
        std::vector<LogFile> files;
        std::vector<std::string> given;
        std::vector<std::string> sources;  // the files read, as the list names them
        std::vector<std::string> read;     // what they hold
        std::string output = "list.tsv";
        int runs = 1;  // each giving the same list
    } cases[] = {
        {"odd fields",
         {{"a.log", odd}, {"b.log", evil}},
         {"a.log", "b.log"},
         {"a.log", "b.log"},
         {odd, evil}},
        {"many rows", {{"many.log", many}}, {"many.log"}, {"many.log"}, {many}},
        {"into the folder it lists",
         {{"a.log", kA, false, 2}, {"b.log", kB, false, 1}},
         {"."},
         {(fs::path(".") / "a.log").string(), (fs::path(".") / "b.log").string()},
         {kA, kB},
         "list.tsv",
         2},
    };
    for (const auto& c : cases) {
        Empty();
        for (const LogFile& file : c.files) Write(file);
        const std::string expected = model::ModelList(c.sources, c.read);
        for (int run = 1; run <= c.runs; ++run) {
            NoProgress progress;
            EXPECT_EQ(
                ListLogs(Set(c.given), progress, c.output),
                static_cast<std::size_t>(std::count(expected.begin(), expected.end(), '\n') - 1))
                << c.name;
            EXPECT_TRUE(ReadFile(c.output) == expected) << c.name << ", run " << run;
        }
    }
}

// An archive kept from run to run holds every variable ever read, with the
// source it was logged at, whatever logs are gone since.
TEST_F(LogSets, AnArchiveKeepsEveryVariableEverRead) {
    const std::string bad = "[t] <TS_RY>INT#v#1)#0#0#0#\r\n";
    const struct {
        const char* name;
        std::vector<LogFile> files;  // written before the run; earlier ones stay
        std::vector<std::string> given;
        std::vector<std::string> sources;  // the archive: every log ever read
        std::vector<std::string> read;
        std::string failure = {};  // the start of the run's error
    } runs[] = {
        {"the first run", {{"a.log", kA}}, {"a.log"}, {"a.log"}, {kA}},
        {"a new log", {{"b.log", kB}}, {"b.log"}, {"a.log", "b.log"}, {kA, kB}},
        {"the same log again", {}, {"b.log"}, {"a.log", "b.log"}, {kA, kB}},
        {"a refused record is kept",
         {{"c.log", kC + bad}},
         {"c.log"},
         {"a.log", "b.log", "c.log"},
         {kA, kB, kC + bad},
         "c.log:3: the Value of INT record \"v\" is not a plain value: \"1)\"\nThe script "
         "\"tsry.nss\" is left as it was; the archive \"keep.tsv\" holds every variable read."},
        {"the refused record's message names the archive",
         {{"d.log", "[t] chatter\r\n"}},
         {"d.log"},
         {"a.log", "b.log", "c.log"},
         {kA, kB, kC + bad},
         "keep.tsv:6 (logged at c.log:3): the Value of INT record \"v\""},
    };
    std::string script;
    for (const auto& run : runs) {
        for (const LogFile& file : run.files) Write(file);
        NoProgress progress;
        NoStatus status;
        std::string failure;
        try {
            ParseLog(Set(run.given), std::nullopt, progress, status, "tsry.nss", {}, "keep.tsv");
        } catch (const ConversionError& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure.empty() ? failure : failure.substr(0, run.failure.size()), run.failure)
            << run.name << ": " << failure;
        EXPECT_TRUE(ReadFile("keep.tsv") == model::ModelList(run.sources, run.read)) << run.name;
        if (run.failure.empty()) script = model::Model(model::JoinedLogs(run.read)).script;
        EXPECT_TRUE(ReadFile("tsry.nss") == script) << run.name;
        // Then each log goes, as a server's logs do.
        for (const std::string& log : run.given) fs::remove(log);
    }
}

}  // namespace
}  // namespace tsry
