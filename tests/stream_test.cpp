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

}  // namespace
}  // namespace tsry
