// Several logs read as one: in the order given, each file's lines its own,
// folders oldest first, gzip logs decompressed; messages that name the file
// and its line; the list of variables.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "conversion/kept_archive.h"
#include "conversion/list_logs.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/kept_list.h"
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

// Writes `file`; false where the system makes no symbolic links (Wine).
bool Write(const LogFile& file) {
    static const fs::file_time_type now = fs::file_time_type::clock::now();
    fs::create_directories(fs::path(file.path).parent_path().empty()
                               ? fs::path(".")
                               : fs::path(file.path).parent_path());
    if (file.symbolic) {
        std::error_code error;
        fs::create_symlink(file.link, file.path, error);
        return !error;
    }
    if (!file.link.empty()) {
        fs::create_hard_link(file.link, file.path);
        return true;
    }
    std::string bytes = file.text;
    if (file.gzip) {
        bytes.clear();
        for (const std::string& line : model::ModelLines(file.text))
            bytes += test::Gzip(line + "\r\n");
    }
    WriteFile(file.path, bytes);
    fs::last_write_time(file.path, now - std::chrono::hours(file.age));
    return true;
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
        int runs = 1;           // each giving the same script
        std::size_t notes = 0;  // said on the way
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
         {kA},
         "tsry.nss",
         1,
         1},
        {"a file and links to it in a folder, read once",
         {{"d/b.log", kA, false, 1},
          {"d/a.log", "", false, 0, "b.log", true},
          {"d/c.log", "", false, 0, "b.log", true},
          {"x.log", kB, false, 2},
          {"e/y.log", "", false, 0, "../x.log", true},
          {"e/z.log", "", false, 0, "../x.log", true}},
         {"d", "e"},
         {kA, kB}},
    };
    for (const auto& c : cases) {
        Empty();
        bool made = true;
        for (const LogFile& file : c.files) made = Write(file) && made;
        if (!made) continue;
        // As the window and --count count them.
        EXPECT_EQ(CountFileLines(ExpandLogSetFor(Set(c.given), c.output)),
                  model::ModelLines(model::JoinedLogs(c.read)).size())
            << c.name;
        NoProgress progress;
        NoStatus status;
        for (int run = 1; run <= c.runs; ++run) {
            EXPECT_EQ(ParseLog(Set(c.given), std::nullopt, progress, status, c.output).notes.size(),
                      c.notes)
                << c.name;
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
        bool scriptLink = false;      // tsry.nss a symbolic link to the first file
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
        // Standard input is read once, by the library as by the converter.
        {{{"a.log", kA}},
         {"-", "a.log", "-"},
         "Standard input (-) can be read only once, but stands twice among the logs."},
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
        // Its script a link to one of its logs: the log is not overwritten.
        {{{"l1.log", old}, {"l2.log", kA}},
         {"."},
         "the script \"tsry.nss\" would replace the log it is made from",
         "",
         false,
         true},
    };
    test::ScopedSetting<std::uint64_t> halves(detail::MinimumSplitSize(), 1);
    for (const auto& c : cases) {
        Empty();
        bool made = true;
        for (const LogFile& file : c.files) made = Write(file) && made;
        std::error_code error;
        if (c.scriptLink) {
            fs::create_symlink(c.files.front().path, "tsry.nss", error);
        } else {
            WriteFile("tsry.nss", old);
        }
        if (!made || error) continue;
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
        // What a conversion would read: not its script, nor a run's left-over.
        {"into the folder it lists",
         {{"a.log", kA, false, 2},
          {"b.log", kB, false, 1},
          {"tsry.nss", "[t] <TS_RY>INT#gold#7#0#0#0#\r\n"},
          {"tsry.nss.tmp.Q1w2E3", "[t] <TS_RY>INT#cut\r\n"}},
         {"."},
         {(fs::path(".") / "a.log").string(), (fs::path(".") / "b.log").string()},
         {kA, kB},
         "list.tsv",
         2},
    };
    for (const auto& c : cases) {
        Empty();
        for (const LogFile& file : c.files) ASSERT_TRUE(Write(file));
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
        // Neither the archive, nor its lock, nor a left-over of it is a log of
        // the folder that holds them.
        {"the folder that holds it",
         {{"e.log", "[t] chatter\r\n"}, {"keep.tsv.tmp.Q1w2E3", "[t] <TS_RY>INT#cut\r\n"}},
         {"."},
         {"a.log", "b.log", "c.log"},
         {kA, kB, kC + bad},
         "keep.tsv:6 (logged at c.log:3)"},
    };
    std::string script;
    for (const auto& run : runs) {
        for (const LogFile& file : run.files) ASSERT_TRUE(Write(file));
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
        for (const std::string& log : run.given) {
            if (fs::is_regular_file(log)) fs::remove(log);
        }
    }
}

TEST_F(LogSets, AnArchiveThatIsNoListOrALogIsRefusedAndNothingWritten) {
    const std::string header = "name\tkind\tvalue\textra1\textra2\textra3\tsource\n";
    const std::string row = "gold\tINT\t1\t0\t0\t0\told.log:4\n";
    const struct {
        std::string archive;  // its text
        std::vector<std::string> given;
        std::string message;  // its start
        std::string path = "keep.tsv";
    } cases[] = {
        {"name\tkind\tvalue\n" + row, {"a.log"}, "keep.tsv:1: not a list of variables"},
        {header + row + "x\tINT\t1\t0\t0\t0\n",
         {"a.log"},
         "keep.tsv:3: not a list of variables: 6"},
        {header + row + row.substr(0, row.size() - 1) + "\tmore\n",
         {"a.log"},
         "keep.tsv:3: not a list of variables: 8 fields"},
        {header + "a\\x\tINT\t1\t0\t0\t0\ts:1\n", {"a.log"}, "keep.tsv:2: not a list of variables"},
        {header + "a\tINT\t1\t0\t0\t0\ts:1\\\n", {"a.log"}, "keep.tsv:2: not a list of variables"},
        {header, {"keep.tsv"}, "the archive \"keep.tsv\" would replace the log it is made from"},
        {header, {"."}, "the archive \"tsry.nss\" and the output \"tsry.nss\" are one", "tsry.nss"},
    };
    for (const auto& c : cases) {
        Empty();
        Write({"a.log", kA});
        WriteFile(c.path, c.archive);
        NoProgress progress;
        NoStatus status;
        std::string failure = "no error";
        try {
            ParseLog(Set(c.given), std::nullopt, progress, status, "tsry.nss", {}, c.path);
        } catch (const ConversionError& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure.substr(0, c.message.size()), c.message) << failure;
        EXPECT_EQ(ReadFile(c.path), c.archive) << c.message;
        EXPECT_TRUE(c.path == "tsry.nss" || !fs::exists("tsry.nss")) << c.message;
    }
}

// An archive larger than the pieces it is read in and the buffer it is
// written from, with rows across their seams, a row longer than either and
// escapes anywhere, is written back as the same bytes. One with CR LF line
// ends, without its last line end, or with a row repeated reads the same and
// is written in the list's own form; one that holds those bytes already is
// left as it is, its time too. A refusal far into it leaves nothing stored.
TEST_F(LogSets, AnArchiveOfAnySizeIsKeptByteForByte) {
    std::string list(kListHeader);
    list += '\n';
    std::string row;
    for (int i = 0; list.size() < (std::size_t{5} << 19); ++i) {
        row = "v" + std::to_string(i) + (i % 7 == 0 ? "\\t\\\\x" : "") + "\tINT\t" +
              std::to_string(i) + "\t0\t" + (i % 5 == 0 ? "a\\nb\\r" : "") +
              "\t0\told.log:" + std::to_string(i + 2) + "\n";
        list += row;
        if (i == 30000) {
            list += "long\tSTR\t" + std::string(std::size_t{3} << 20, 'x') + "\\t\t0\t0\t0\t1:2\n";
        }
    }
    Write({"a.log", "[t] chatter\r\n"});
    // Whether the run left the archive untouched.
    const auto keep = [&](const std::string& archive) {
        WriteFile("keep.tsv", archive);
        fs::last_write_time("keep.tsv", fs::file_time_type::clock::now() - std::chrono::hours(1));
        // As the system keeps it (Windows in steps of 100 ns).
        const fs::file_time_type before = fs::last_write_time("keep.tsv");
        NoProgress progress;
        ListLogs(Set({"a.log"}), progress, "list.tsv", "keep.tsv");
        EXPECT_TRUE(ReadFile("list.tsv") == list);
        EXPECT_TRUE(ReadFile("keep.tsv") == list);
        return fs::last_write_time("keep.tsv") == before;
    };
    EXPECT_TRUE(keep(list)) << "the same bytes written again";
    std::string crlf;
    for (const char c : list) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_FALSE(keep(crlf));
    EXPECT_FALSE(keep(list.substr(0, list.size() - 1)));
    EXPECT_FALSE(keep(list + row));

    // What the escapes stand for, the same bytes whichever side reads them.
    SetRecords records;
    ASSERT_TRUE(ReadKeptList("keep.tsv", records.table, records.places));
    EXPECT_EQ(records.table[0].Name, "v0\t\\x");
    EXPECT_EQ(records.table[0].Extra2, "a\nb\r");
    records.table.Clear();

    WriteFile("keep.tsv", list + "bad\n");
    try {
        ReadKeptList("keep.tsv", records.table, records.places);
        ADD_FAILURE() << "no refusal";
    } catch (const ConversionError& e) {
        const std::string line = std::to_string(std::count(list.begin(), list.end(), '\n') + 1);
        EXPECT_NE(std::string(e.what()).find("keep.tsv:" + line + ": not a list"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(records.table.empty());
}

// Two runs on one archive at once take turns, and neither loses the other's
// records.
TEST_F(LogSets, TwoRunsOnOneArchiveTakeTurns) {
    Write({"a.log", kA});
    Write({"b.log", kC});
    std::optional<KeptArchive> first(std::in_place, "keep.tsv");
    std::thread second([] {
        NoProgress progress;
        NoStatus status;
        ParseLog(LogSet{"b.log"}, std::nullopt, progress, status, "tsry.nss", {}, "keep.tsv");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists("keep.tsv")) << "the second run did not wait";
    SetRecords records;
    NoProgress progress;
    first->Read(records);
    ReadLogSet(LogSet{"a.log"}, progress, records);
    first->Replace(records);
    first.reset();
    second.join();
    EXPECT_TRUE(ReadFile("keep.tsv") == model::ModelList({"a.log", "b.log"}, {kA, kC}));
}

}  // namespace
}  // namespace tsry
