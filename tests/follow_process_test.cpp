// The follower as a program: stopped by signals, killed outright, fed
// through a pipe. POSIX only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "conversion/parse_log.h"
#include "tests/test_support.h"

extern char** environ;

namespace tsry {
namespace {

using test::Append;
using test::ReadFile;
using test::Rec;
using test::WriteFile;

// The converter started with `args`, its standard input a pipe the test
// writes, its standard error a file.
class Converter {
  public:
    Converter(const std::vector<std::string>& args, const std::filesystem::path& errors) {
        int pipe[2];
        if (::pipe(pipe) != 0) throw std::runtime_error("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe[1]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all{TSRY_CONVERT_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int failed =
            ::posix_spawn(&pid_, TSRY_CONVERT_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[0]);
        input_ = pipe[1];
        if (failed != 0) throw std::runtime_error("not started");
    }
    ~Converter() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        CloseInput();
    }

    void Write(std::string_view text) const {
        [[maybe_unused]] const ssize_t n = ::write(input_, text.data(), text.size());
    }
    void CloseInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }
    void Signal(int signal) const { ::kill(pid_, signal); }
    // The exit status; -1 if it ended otherwise.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
};

class FollowerProgram : public ::testing::Test {
  protected:
    std::string ScriptOf(const std::string& text, std::vector<std::string> args = {}) {
        const std::filesystem::path log = dir_ / "expected.log";
        const std::filesystem::path script = dir_ / "expected.nss";
        WriteFile(log, text);
        args.insert(args.end(), {"-o", script.string(), log.string()});
        std::string ignored;
        EXPECT_EQ(test::Shell(Command(args), &ignored), 0);
        return ReadFile(script);
    }
    static std::string Command(const std::vector<std::string>& args) {
        std::string command = TSRY_CONVERT_EXE;
        for (const std::string& arg : args) command += " '" + arg + "'";
        return command + " 2>/dev/null";
    }
    // Waits, with a generous limit, until `check` holds of the script.
    template <class Check>
    bool WaitForScript(Check&& check) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < limit) {
            std::error_code error;
            if (std::filesystem::exists(script_, error) && check(ReadFile(script_))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    test::TempDir dir_;
    std::filesystem::path log_ = dir_ / "server.log";
    std::filesystem::path script_ = dir_ / "tsry.nss";
    std::filesystem::path errors_ = dir_ / "errors.txt";
    const std::string kA = Rec("a", "1") + Rec("b", "2");
};

TEST_F(FollowerProgram, WritesOnceMoreAtEachStopSignalAndExitsZero) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        WriteFile(log_, kA);
        std::filesystem::remove(script_);
        // Written at the start, then not before an hour: only the stop writes.
        Converter follower({"--follow", "--every", "3600", "-o", script_.string(), log_.string()},
                           errors_);
        const std::string first = ScriptOf(kA);
        ASSERT_TRUE(WaitForScript([&](const std::string& s) { return s == first; }));
        Append(log_, Rec("c", "3"));
        follower.Signal(signal);
        EXPECT_EQ(follower.Wait(), 0) << signal;
        EXPECT_EQ(ReadFile(script_), ScriptOf(kA + Rec("c", "3"))) << signal;
        EXPECT_EQ(ReadFile(errors_), "");
        EXPECT_EQ(dir_.Entries(),
                  (std::vector<std::string>{"errors.txt", "expected.log", "expected.nss",
                                            "server.log", "tsry.nss"}));
    }
}

// Killed outright at any moment, the follower leaves a whole script and a
// whole archive: the old one or the new one, never a part.
TEST_F(FollowerProgram, KilledWhileWritingLeavesAWholeScript) {
    std::string log;
    // Names built by appending: GCC 12 warns of an overlap that cannot be in
    // "literal" + std::string.
    const auto name = [](char first, int i) {
        return std::string(1, first).append(std::to_string(i));
    };
    for (int i = 0; i < 100000; ++i) log += Rec(name('v', i), "1");
    WriteFile(log_, log);
    const std::string closing = test::ScriptClosing();
    const std::filesystem::path archive = dir_ / "history.tsv";
    for (const int delay : {0, 7, 19, 41}) {
        Converter follower({"--follow", "--every", "0", "--one-main", "-o", script_.string(),
                            "--keep", archive.string(), log_.string()},
                           errors_);
        ASSERT_TRUE(WaitForScript([](const std::string&) { return true; }));
        // Records keep coming, so that the script is being written again and again.
        for (int k = 0; k < 10; ++k) {
            Append(log_, Rec(name('w', delay * 100 + k), "2"));
            std::this_thread::sleep_for(std::chrono::milliseconds(delay / 10 + 1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        follower.Signal(SIGKILL);
        EXPECT_EQ(follower.Wait(), -1);
        const std::string script = ReadFile(script_);
        ASSERT_GE(script.size(), closing.size());
        EXPECT_EQ(script.substr(script.size() - closing.size()), closing) << delay;
        EXPECT_EQ(script.substr(0, 40), test::ScriptOpening().substr(0, 40));
        // The archive too: its header, and every row whole.
        const std::string list = ReadFile(archive);
        EXPECT_TRUE(list.starts_with("name\tkind\tvalue\t")) << delay;
        EXPECT_TRUE(list.ends_with("\n")) << delay;
        EXPECT_GE(std::count(list.begin(), list.end(), '\n'), 100001);
        EXPECT_EQ(std::count(list.begin(), list.end(), '\t'),
                  6 * std::count(list.begin(), list.end(), '\n'));
    }
}

// The first records are written at once, the rest only at the input's end.
TEST_F(FollowerProgram, ReadsStandardInputToItsEndAndWritesThen) {
    Converter follower({"--follow", "--every", "3600", "-o", script_.string(), "-"}, errors_);
    follower.Write(kA);
    const std::string first = ScriptOf(kA);
    ASSERT_TRUE(WaitForScript([&](const std::string& s) { return s == first; }));
    follower.Write(Rec("c", "3") + "[t] <TS_RY>INT#d#4#0#0#0#");
    follower.CloseInput();
    EXPECT_EQ(follower.Wait(), 0);
    // The last line counts at the end of the input, as in any log.
    EXPECT_EQ(ReadFile(script_), ScriptOf(kA + Rec("c", "3") + "[t] <TS_RY>INT#d#4#0#0#0#"));
    EXPECT_EQ(ReadFile(errors_), "");
}

TEST_F(FollowerProgram, AScriptFolderThatCannotBeWrittenEndsIt) {
    WriteFile(log_, kA);
    Converter follower({"--follow", "-o", (dir_ / "missing" / "tsry.nss").string(), log_.string()},
                       errors_);
    EXPECT_EQ(follower.Wait(), 1);
    EXPECT_NE(ReadFile(errors_).find("tsry-convert: "), std::string::npos);
}

}  // namespace
}  // namespace tsry
