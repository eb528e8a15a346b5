// The real converter on pipes, FIFOs and standard input: a stream is read
// once, and converts exactly as the same bytes in a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/test_support.h"

namespace tsry {
namespace {

using test::ReadFile;
using test::WriteFile;

class Streams : public ::testing::Test {
  protected:
    test::TempDir dir_;
    test::InFolder inDir_{dir_.path()};
};

TEST_F(Streams, ReadOnceWithOrWithoutProgress) {
    // A pipe, standard input, a FIFO and a process substitution give the
    // script of the file itself, progress drawn or not.
    std::string log;
    for (int i = 0; i < 30000; ++i)
        log += "[t] <TS_RY>INT#v" + std::to_string(i % 900) + "#1#0#0#0#\r\n";
    WriteFile("server.log", log);
    ASSERT_EQ(test::Shell("cd '" + dir_.path().string() + "' && " + TSRY_CONVERT_EXE +
                          " -o file.nss server.log >/dev/null"),
              0);
    const std::string expected = ReadFile("file.nss");
    ASSERT_EQ(::mkfifo("log.fifo", 0600), 0);
    const std::string convert = std::string(TSRY_CONVERT_EXE) + " ";
    const std::string in = "cd '" + dir_.path().string() + "' && ";
    for (const char* progress : {"", "--progress "}) {
        for (const std::string& way :
             {"cat server.log | " + convert + progress + "/dev/stdin",
              "cat server.log | " + convert + progress + "-", convert + progress + "- < server.log",
              "(cat server.log > log.fifo &) && " + convert + progress + "log.fifo",
              "bash -c '" + convert + progress + "<(cat server.log)'"}) {
            std::filesystem::remove(dir_.path() / "tsry.nss");
            std::string out;
            EXPECT_EQ(test::Shell(in + way + " 2>err.txt", &out), 0) << way;
            EXPECT_EQ(out, "Parsing complete, tsry.nss created.\n") << way;
            EXPECT_TRUE(ReadFile("tsry.nss") == expected) << way;
            const std::string err = ReadFile("err.txt");
            EXPECT_EQ(
                err.find("MiB read") != std::string::npos || err.find("%") != std::string::npos,
                *progress != '\0')
                << way << ": " << err;
        }
    }
    std::string out;
    EXPECT_EQ(test::Shell(in + "cat server.log | " + convert + "--count -", &out), 0);
    EXPECT_EQ(out, "30000\n");
}

// Two records, the first line 23 bytes long.
constexpr std::string_view kTwoLines = "x<TS_RY>INT#a#1#0#0#0#\nx<TS_RY>INT#b#2#0#0#0#\n";

TEST_F(Streams, DescriptorsAreWrittenWhereTheyStandAndInputReadFromWhereItStands) {
    WriteFile("two.log", kTwoLines);
    WriteFile("second.log", kTwoLines.substr(23));
    const std::string convert = std::string(TSRY_CONVERT_EXE) + " ";
    const std::string in = "cd '" + dir_.path().string() + "' && ";
    ASSERT_EQ(test::Shell(in + convert + "-o both.nss two.log >/dev/null"), 0);
    ASSERT_EQ(test::Shell(in + convert + "-o second.nss second.log >/dev/null"), 0);
    const std::string both = ReadFile("both.nss");
    const std::string second = ReadFile("second.nss");
    const struct {
        std::string command;
        int status;
        std::string file;  // what it holds afterwards
        std::string expected;
    } cases[] = {
        {"echo old > a.nss && " + convert + "-o /dev/stdout two.log >> a.nss 2>/dev/null", 0,
         "a.nss", "old\n" + both},
        {"printf old > b.nss && " + convert + "-o /dev/fd/3 two.log 3>> b.nss >/dev/null", 0,
         "b.nss", "old" + both},
        {convert + "-o /proc/self/fd/1 two.log 2>/dev/null | cat > c.nss", 0, "c.nss", both},
        {convert + "-o /dev/stderr two.log 2> d.nss", 0, "d.nss",
         both + "Parsing complete, script written to /dev/stderr.\n"},
        {"(head -c 23 >/dev/null; " + convert + "-o - - 2>/dev/null) < two.log > e.nss", 0, "e.nss",
         second},
        {"(head -c 23 >/dev/null; " + convert + "--count -) < two.log > f.txt", 0, "f.txt", "1\n"},
        // A gzip log on standard input, among others.
        {"gzip -c second.log | " + convert + "-o - - 2>/dev/null > h.nss", 0, "h.nss", second},
        {"gzip -c two.log | " + convert + "--list - second.log > i.txt", 0, "i.txt",
         "name\tkind\tvalue\textra1\textra2\textra3\tsource\na\tINT\t1\t0\t0\t0\t-:1\n"
         "b\tINT\t2\t0\t0\t0\tsecond.log:1\n"},
        // Its first byte alone in the pipe for a while: still gzip.
        {"(printf '\\037'; sleep 0.2; gzip -c second.log | tail -c +2) | " + convert +
             "-o - - 2>/dev/null > j.nss",
         0, "j.nss", second},
        // Looked at where standard input stands, not at the file's start.
        {"head -c 23 two.log > mixed.log && gzip -c second.log >> mixed.log && (head -c 23 "
         ">/dev/null; " +
             convert + "-o - - 2>/dev/null) < mixed.log > k.nss",
         0, "k.nss", second},
        // The size of a set with a pipe in it is not known: no percentage.
        {"cat two.log | " + convert +
             "--progress -o l.nss - second.log 2>&1 >/dev/null | tr -d '\\r ' > l.txt",
         0, "l.txt", "0.0MiBread"},
        // The list alone on standard output, the success line nowhere.
        {convert + "--list -o - two.log > m.txt 2>&1", 0, "m.txt",
         "name\tkind\tvalue\textra1\textra2\textra3\tsource\na\tINT\t1\t0\t0\t0\ttwo.log:1\n"
         "b\tINT\t2\t0\t0\t0\ttwo.log:2\n"},
        // A CR in a log's name is escaped in the source column, as in a field.
        {"cp two.log \"$(printf 'c\\rd.log')\" && " + convert + "--list -o - c?d.log > p.txt", 0,
         "p.txt",
         "name\tkind\tvalue\textra1\textra2\textra3\tsource\na\tINT\t1\t0\t0\t0\tc\\rd.log:1\n"
         "b\tINT\t2\t0\t0\t0\tc\\rd.log:2\n"},
        // A device is no file that a script could replace.
        {convert + "-o /dev/null /dev/null 2> n.txt", 0, "n.txt",
         "Parsing complete, script written to /dev/null.\n"},
        // A link to a folder is not gone into: a link up would never end.
        {"mkdir -p e/sub && cp two.log e/ && ln -s .. e/sub/up && " + convert + "--count e > e.txt",
         0, "e.txt", "2\n"},
        // A folder with a link to the script in it, converted twice.
        {"mkdir d && cp two.log d/ && ln -s ../tsry.nss d/link.nss && " + convert +
             "d > /dev/null && " + convert + "d > /dev/null && cp tsry.nss o.nss",
         0, "o.nss", both},
        // Standard input kept in an archive, its rows' source "-".
        {"cat two.log | " + convert + "--keep k.tsv --list -o /dev/null - && cat k.tsv > k.txt", 0,
         "k.txt",
         "name\tkind\tvalue\textra1\textra2\textra3\tsource\na\tINT\t1\t0\t0\t0\t-:1\n"
         "b\tINT\t2\t0\t0\t0\t-:2\n"},
        // Another name of the script in the folder converted: left out, and said.
        {"mkdir h && cp two.log h/ && ln tsry.nss h/hard.nss && " + convert +
             "h 2> h.txt > /dev/null",
         0, "h.txt",
         "tsry-convert: note: \"h/hard.nss\" is left out: it is another name (a hard link) of "
         "\"tsry.nss\", which this run writes\n"},
        {"echo old > g.nss && " + convert + "-o /dev/fd/9 two.log 9<&- 2> g.nss", 1, "g.nss",
         "tsry-convert: Cannot write the script \"/dev/fd/9\": Bad file descriptor\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::Shell(in + c.command), c.status) << c.command;
        EXPECT_TRUE(ReadFile(c.file) == c.expected) << c.command << ":\n" << ReadFile(c.file);
    }
    EXPECT_EQ(ReadFile("two.log"), kTwoLines);
}

TEST_F(Streams, AScriptThatWouldReplaceItsLogIsRefusedBeforeAnythingIsRead) {
    const std::string convert = std::string(TSRY_CONVERT_EXE) + " ";
    const std::string in = "cd '" + dir_.path().string() + "' && ";
    const std::string replace = " would replace the log it is made from\n";
    const struct {
        std::string command;
        std::string message;
    } cases[] = {
        {"-o two.log two.log", "tsry-convert: the script \"two.log\"" + replace},
        {"tsry.nss", "tsry-convert: the script \"tsry.nss\"" + replace},
        {"- < tsry.nss", "tsry-convert: the script \"tsry.nss\"" + replace},
        {"-o hard.nss two.log", "tsry-convert: the script \"hard.nss\"" + replace},
        {"-o link.nss two.log", "tsry-convert: the script \"link.nss\"" + replace},
        {"-o sub/../two.log ./two.log", "tsry-convert: the script \"sub/../two.log\"" + replace},
        {"-o - two.log >> two.log",
         "tsry-convert: the script \"-\" would be written into the log it is made from\n"},
    };
    WriteFile("two.log", kTwoLines);
    WriteFile("tsry.nss", kTwoLines);
    std::filesystem::create_directory("sub");
    std::filesystem::create_hard_link("two.log", "hard.nss");
    std::filesystem::create_symlink("two.log", "link.nss");
    for (const auto& c : cases) {
        EXPECT_EQ(test::Shell(in + convert + c.command + " 2>err.txt"), 1) << c.command;
        EXPECT_EQ(ReadFile("err.txt"), c.message);
        EXPECT_EQ(ReadFile("two.log"), kTwoLines) << c.command;
        EXPECT_EQ(ReadFile("tsry.nss"), kTwoLines) << c.command;
    }
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"err.txt", "hard.nss", "link.nss", "sub",
                                                        "tsry.nss", "two.log"}));
}

}  // namespace
}  // namespace tsry
