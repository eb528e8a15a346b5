// Replacing the script keeps what the user set up around it: links, modes,
// owners, devices and pipes, and standard output.
#include "conversion/script/replacement_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// Everything in `dir` and below, links shown with where they point.
std::vector<std::string> Tree(const fs::path& dir) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink()) {
            entries.push_back(name + " -> " + fs::read_symlink(entry.path()).string());
        } else {
            entries.push_back(name);
            if (entry.is_directory()) {
                for (const std::string& inner : Tree(entry.path()))
                    entries.push_back(name + "/" + inner);
            }
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

class Replacement : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir_ / "server.log", test::kGoldLog);
        fs::create_directories(dir_ / "module");
    }
    void Convert(const fs::path& output) {
        NoProgress progress;
        NoStatus status;
        ParseLog(dir_ / "server.log", std::nullopt, progress, status, output);
    }
    test::TempDir dir_;
};

TEST_F(Replacement, FollowsLinksAndLeavesThemAsTheyWere) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link, where it points
        bool targetExists;
    } cases[] = {
        {"a link into another folder", {{"tsry.nss", "module/tsry.nss"}}, true},
        {"a chain of two", {{"tsry.nss", "chain.nss"}, {"chain.nss", "module/tsry.nss"}}, true},
        {"a link that points nowhere yet", {{"tsry.nss", "module/tsry.nss"}}, false},
        {"an absolute link", {{"tsry.nss", (dir_ / "module/tsry.nss").string()}}, true},
    };
    for (const auto& c : cases) {
        fs::remove(dir_ / "module/tsry.nss");
        if (c.targetExists) WriteFile(dir_ / "module/tsry.nss", "old\r\n");
        for (const auto& [link, to] : c.links) fs::create_symlink(to, dir_ / link);
        const std::vector<std::string> before = Tree(dir_.path());
        Convert(dir_ / "tsry.nss");
        EXPECT_EQ(ReadFile(dir_ / "module/tsry.nss"), test::GoldScript()) << c.name;
        std::vector<std::string> after = Tree(dir_.path());
        if (!c.targetExists) after.erase(std::find(after.begin(), after.end(), "module/tsry.nss"));
        EXPECT_EQ(after, before) << c.name;  // links unchanged, nothing left behind
        for (const auto& [link, to] : c.links) fs::remove(dir_ / link);
    }
}

TEST_F(Replacement, ALinkLoopIsAnErrorNamingThePath) {
    fs::create_symlink("b.nss", dir_ / "a.nss");
    fs::create_symlink("a.nss", dir_ / "b.nss");
    try {
        Convert(dir_ / "a.nss");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot replace the script \"" +
                                             (dir_ / "a.nss").string() +
                                             "\": Too many levels of symbolic links");
    }
    EXPECT_EQ(Tree(dir_.path()), (std::vector<std::string>{"a.nss -> b.nss", "b.nss -> a.nss",
                                                           "module", "server.log"}));
}

TEST_F(Replacement, KeepsTheModeOfTheFileItReplaces) {
    for (const mode_t mode :
         {mode_t{0640}, mode_t{0600}, mode_t{0444}, mode_t{0664}, mode_t{01644}}) {
        WriteFile(dir_ / "tsry.nss", "old\r\n");
        ASSERT_EQ(::chmod((dir_ / "tsry.nss").c_str(), mode), 0);
        Convert(dir_ / "tsry.nss");
        EXPECT_EQ(ModeOf(dir_ / "tsry.nss"), mode);
        EXPECT_EQ(ReadFile(dir_ / "tsry.nss"), test::GoldScript());
    }
    // A new file gets the mode of any new file, not that of a temporary one.
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{002}}) {
        fs::remove(dir_ / "tsry.nss");
        const mode_t saved = ::umask(mask);
        Convert(dir_ / "tsry.nss");
        ::umask(saved);
        EXPECT_EQ(ModeOf(dir_ / "tsry.nss"), 0666 & ~mask);
    }
}

TEST_F(Replacement, KeepsTheOwnerAndGroupWhereAllowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    WriteFile(dir_ / "tsry.nss", "old\r\n");
    ASSERT_EQ(::chown((dir_ / "tsry.nss").c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod((dir_ / "tsry.nss").c_str(), 02660), 0);
    Convert(dir_ / "tsry.nss");
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "tsry.nss").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 5678u);
    EXPECT_EQ(info.st_mode & 07777, 0660u);  // the set-group-ID bit dropped, as cp does
    // Ours, but with another group: the group stays.
    ASSERT_EQ(::chown((dir_ / "tsry.nss").c_str(), ::geteuid(), 4321), 0);
    Convert(dir_ / "tsry.nss");
    ASSERT_EQ(::stat((dir_ / "tsry.nss").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_EQ(info.st_gid, 4321u);
}

TEST_F(Replacement, WritesToAPipeDirectlyAndOnlyAWholeScript) {
    const fs::path fifo = dir_ / "script.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool good : {true, false}) {
        if (!good) WriteFile(dir_ / "server.log", "x<TS_RY>LOC#home#ar*1*2*3*#0#0#0#\r\n");
        std::string received;
        std::thread reader([&] { received = ReadFile(fifo); });
        std::string failure;
        try {
            Convert(fifo);
        } catch (const ConversionError& e) {
            failure = e.what();
        }
        // The reader sees the end of the pipe once the run lets go of it.
        reader.join();
        EXPECT_EQ(received, good ? test::GoldScript() : "");
        EXPECT_EQ(failure.empty(), good) << failure;
        EXPECT_EQ(Tree(dir_.path()),
                  (std::vector<std::string>{"module", "script.fifo", "server.log"}));
    }
}

TEST_F(Replacement, MinusIsStandardOutput) {
    const std::string convert = std::string(TSRY_CONVERT_EXE) + " ";
    const std::string in = "cd '" + dir_.path().string() + "' && ";
    std::string out;
    EXPECT_EQ(test::Shell(in + convert + "-o - server.log 2>err.txt", &out), 0);
    EXPECT_EQ(out, test::GoldScript());
    EXPECT_EQ(ReadFile(dir_ / "err.txt"), "Parsing complete, script written to standard output.\n");
    EXPECT_EQ(test::Shell(in + convert + "-o /dev/stdout server.log 2>/dev/null | cat", &out), 0);
    EXPECT_EQ(out, test::GoldScript());
    EXPECT_FALSE(fs::exists(dir_ / "-"));
    // A run that must fail writes nothing to the pipe.
    WriteFile(dir_ / "bad.log",
              std::string(test::kGoldLog) + "x<TS_RY>LOC#home#ar*1*2*3*#0#0#0#\r\n");
    EXPECT_EQ(test::Shell(in + convert + "-o - bad.log 2>err.txt", &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadFile(dir_ / "err.txt").substr(0, 25), "tsry-convert: bad.log:2: ");
}

TEST_F(Replacement, KeepsTheTemporaryNameWithinTheLongestName) {
    EXPECT_EQ(detail::TemporaryName("dir/tsry.nss", "abcdef"), "dir/tsry.nss.tmp.abcdef");
    const std::string longest(255, 'n');
    const fs::path temp = detail::TemporaryName(dir_ / longest, "abcdef");
    EXPECT_EQ(temp.filename().string(), std::string(244, 'n') + ".tmp.abcdef");
    EXPECT_EQ(temp.parent_path(), dir_.path());
    const fs::path target = dir_ / (std::string(246, 'x') + ".nss");
    Convert(target);
    EXPECT_EQ(ReadFile(target), test::GoldScript());

    // Told apart from other files, as a folder's logs leave them out: beside
    // the file replaced, at the end of a link.
    fs::create_symlink("module/real.nss", dir_ / "link.nss");
    const struct {
        fs::path target;
        fs::path file;
        bool temporary;
    } cases[] = {
        {dir_ / "tsry.nss", dir_ / "tsry.nss.tmp.a1B2c3", true},
        {"tsry.nss", dir_ / "tsry.nss.tmp.a1B2c3", false},  // in the current folder, not here
        {dir_ / "tsry.nss", dir_ / "module" / ".." / "tsry.nss.tmp.a1B2c3", true},
        {dir_ / "tsry.nss", dir_ / "module" / "tsry.nss.tmp.a1B2c3", false},
        {dir_ / "tsry.nss", dir_ / "tsry.nss.tmp.a1B2c", false},
        {dir_ / "tsry.nss", dir_ / "tsry.nss.tmp.a1B2c3d", false},
        {dir_ / "tsry.nss", dir_ / "tsry.nss.tmp.a1B-c3", false},
        {dir_ / "tsry.nss",
         dir_ / "tsry.nss.tmp.a1B\xe9"
                "c",
         false},
        {dir_ / "tsry.nss", dir_ / "other.nss.tmp.a1B2c3", false},
        {dir_ / longest, temp, true},
        {dir_ / "link.nss", dir_ / "module" / "real.nss.tmp.a1B2c3", true},
        {dir_ / "link.nss", dir_ / "link.nss.tmp.a1B2c3", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TemporaryFilesOf(c.target).Holds(c.file), c.temporary)
            << c.target << " " << c.file;
    }
}

TEST_F(Replacement, AStopRemovesTheTemporaryFileHoweverManyRunsCameBefore) {
    // As a window that stays open converts again and again, some runs failing.
    // Memory freed by one run is held, so that the next run's files have
    // names of their own, as they do in a window with other work between.
    WriteFile(dir_ / "bad.log", "x<TS_RY>INT#cut\r\n");
    std::vector<std::string> held;
    for (int run = 0; run < 30; ++run) {
        for (std::size_t size = 16; size < 512; size += 8)
            held.resize(held.size() + 8, std::string(size, 'h'));
        NoProgress progress;
        NoStatus status;
        try {
            ParseLog(dir_ / (run % 2 == 0 ? "bad.log" : "server.log"), std::nullopt, progress,
                     status, dir_ / "tsry.nss");
        } catch (const ConversionError&) {
        }
    }
    ReplacementFile underWay(dir_ / "tsry.nss");
    underWay.Write("half a script");
    EXPECT_EQ(Tree(dir_.path()).size(), 5u);  // with the temporary file
    platform::RemoveFilesOfAStop();
    EXPECT_EQ(Tree(dir_.path()),
              (std::vector<std::string>{"bad.log", "module", "server.log", "tsry.nss"}));
    EXPECT_EQ(ReadFile(dir_ / "tsry.nss"), test::GoldScript());
}

TEST_F(Replacement, AFileSizeLimitIsAnErrorNotADeath) {
    std::string log;
    for (int i = 0; i < 20000; ++i)
        log += "x<TS_RY>INT#PW_VAR_" + std::to_string(i) + "#1#0#0#0#\r\n";
    WriteFile(dir_ / "server.log", log);
    WriteFile(dir_ / "tsry.nss", "old\r\n");
    const std::string command = "cd '" + dir_.path().string() + "' && ulimit -f 100 && " +
                                TSRY_CONVERT_EXE + " server.log 2>&1";
    std::string out;
    EXPECT_EQ(test::Shell(command, &out), 1);
    EXPECT_EQ(out, "tsry-convert: Cannot write the script \"tsry.nss\": File too large\n");
    EXPECT_EQ(ReadFile(dir_ / "tsry.nss"), "old\r\n");
    EXPECT_EQ(Tree(dir_.path()), (std::vector<std::string>{"module", "server.log", "tsry.nss"}));
}

}  // namespace
}  // namespace tsry
