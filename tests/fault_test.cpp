// What the user gets when things go wrong around a conversion: the message,
// and that an earlier tsry.nss is never lost or mixed with a new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "bench/log_generator.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/reading/line_reader.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::CrLf;
using test::ReadFile;
using test::WriteFile;

constexpr std::string_view kOldScript = "the previous good script\r\n";

std::string Script(const std::vector<std::string>& statements) {
    return test::ScriptOpening() + CrLf(statements) + test::ScriptClosing();
}

// A log of `records` INT records with distinct names, and its script.
std::string RecordsLog(int records, std::string* script = nullptr) {
    std::string log;
    std::vector<std::string> statements;
    for (int i = 0; i < records; ++i) {
        log +=
            "[t] <TS_RY>INT#PW_VAR_" + std::to_string(i) + "#" + std::to_string(i) + "#0#0#0#\r\n";
        statements.push_back("    SetTSRYInt(\"PW_VAR_" + std::to_string(i) + "\", " +
                             std::to_string(i) + ", 0, 0, 0);");
    }
    if (script != nullptr) *script = Script(statements);
    return log;
}

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
    }

    std::string Failure(const std::filesystem::path& log,
                        const std::filesystem::path& output = kDefaultScriptName) {
        NoProgress progress;
        test::RecordingStatus status;
        try {
            ParseLog(log, std::nullopt, progress, status, output);
        } catch (const ConversionError& e) {
            EXPECT_TRUE(status.texts.empty());
            return e.what();
        }
        return "no error";
    }

    // Converts `log` into tsry.nss, with no progress or status to show.
    static void Convert(const std::filesystem::path& log) {
        NoProgress progress;
        NoStatus status;
        ParseLog(log, std::nullopt, progress, status);
    }

    // The old script is there, whole, and nothing else is left beside it.
    static void ExpectOldScriptAlone(const std::filesystem::path& directory) {
        EXPECT_EQ(ReadFile(directory / "tsry.nss"), kOldScript);
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
                << "left behind: " << entry.path();
        }
    }

    // A small file system of our own, where the test may fill or freeze it;
    // false where this process may not mount one.
    bool MountSmallFileSystem(const char* options) {
        mount_ = dir_ / "small";
        std::filesystem::create_directory(mount_);
        if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, options) != 0) return false;
        mounted_ = true;
        return true;
    }

    test::TempDir dir_;
    std::filesystem::path mount_;
    bool mounted_ = false;

  private:
    std::filesystem::path previous_;
};

TEST_F(Faults, LogVanishesOrBecomesADirectoryAfterItWasCounted) {
    WriteFile("tsry.nss", kOldScript);
    WriteFile("server.log", RecordsLog(3));
    EXPECT_EQ(CountFileLines("server.log"), 3u);
    std::filesystem::remove("server.log");
    EXPECT_EQ(Failure("server.log"),
              "Cannot open the log \"server.log\": No such file or directory");
    ExpectOldScriptAlone(dir_.path());
    std::filesystem::create_directory("server.log");
    EXPECT_EQ(Failure("server.log"), "The folder \"server.log\" holds no logs.");
    ExpectOldScriptAlone(dir_.path());
}

TEST_F(Faults, OutputFileSizeLimitMidWrite) {
    // A file size limit makes the script's writes fail part-way, as a full
    // disk would; run in a child so that the limit stays there.
    WriteFile("tsry.nss", kOldScript);
    WriteFile("server.log", RecordsLog(20000));
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{300 * 1024, 300 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = Failure("server.log");
        (void)!::write(pipe[1], message.data(), message.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
        message.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(message, "Cannot write the script \"tsry.nss\": File too large");
    ExpectOldScriptAlone(dir_.path());
}

TEST_F(Faults, DiskFillsMidWrite) {
    if (!MountSmallFileSystem("size=256k")) GTEST_SKIP() << "cannot mount a file system here";
    WriteFile(mount_ / "tsry.nss", kOldScript);
    WriteFile("server.log", RecordsLog(20000));
    EXPECT_EQ(Failure("server.log", mount_ / "tsry.nss"), "Cannot write the script \"" +
                                                              (mount_ / "tsry.nss").string() +
                                                              "\": No space left on device");
    ExpectOldScriptAlone(mount_);
}

TEST_F(Faults, OutputDirectoryNotWritable) {
    // Root may write anywhere the permissions say no, but not on a read-only
    // file system, nor into the kernel's own folders.
    WriteFile("server.log", RecordsLog(3));
    EXPECT_EQ(Failure("server.log", "/sys/tsry.nss"),
              "Cannot create the script \"/sys/tsry.nss\": Permission denied");
    if (!MountSmallFileSystem("size=256k")) GTEST_SKIP() << "cannot mount a file system here";
    WriteFile(mount_ / "tsry.nss", kOldScript);
    ASSERT_EQ(::mount(nullptr, mount_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(Failure("server.log", mount_ / "tsry.nss"), "Cannot create the script \"" +
                                                              (mount_ / "tsry.nss").string() +
                                                              "\": Read-only file system");
    ExpectOldScriptAlone(mount_);
}

TEST_F(Faults, KilledMidConversionLeavesTheOldScriptOrTheNewOneWhole) {
    bench::LogShape shape;
    shape.bytes = 96 << 20;
    shape.names = 20000;
    {
        std::ofstream out("server.log", std::ios::binary);
        bench::GenerateLog(shape, out);
    }
    // The new script, from a run left to finish.
    NoProgress progress;
    NoStatus status;
    ParseLog("server.log", std::nullopt, progress, status, "new.nss");
    const std::string fresh = ReadFile("new.nss");
    std::filesystem::remove("new.nss");

    std::mt19937 random(7);
    int sawOld = 0;
    int sawNew = 0;
    for (int round = 0; round < 16; ++round) {
        WriteFile("tsry.nss", kOldScript);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::execl(TSRY_CONVERT_EXE, "tsry-convert", "server.log", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
        ::kill(child, SIGKILL);
        int wait = 0;
        ::waitpid(child, &wait, 0);
        const std::string now = ReadFile("tsry.nss");
        ASSERT_TRUE(now == kOldScript || now == fresh) << "a mix of " << now.size() << " bytes";
        (now == fresh ? sawNew : sawOld) += 1;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            const std::string name = entry.path().filename().string();
            if (name == "tsry.nss" || name == "server.log") continue;
            // Only a kill can leave this behind, and never under the script's name.
            EXPECT_EQ(name.rfind("tsry.nss.tmp.", 0), 0u) << name;
            std::filesystem::remove(entry.path());
        }
    }
    std::cout << "[          ] old script kept " << sawOld << " times, new one whole " << sawNew
              << " times\n";
}

TEST_F(Faults, StoppedBySignalsRemovesTheTemporaryFileAndKeepsTheOldScript) {
    // A run blocked on a FIFO whose writer has said nothing yet: the
    // temporary file is there, waiting for the script.
    ASSERT_EQ(::mkfifo("log.fifo", 0600), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        WriteFile("tsry.nss", kOldScript);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (const int other : {SIGINT, SIGTERM, SIGHUP}) ::signal(other, SIG_DFL);
            ::execl(TSRY_CONVERT_EXE, "tsry-convert", "log.fifo", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const int server = ::open("log.fifo", O_WRONLY);
        ASSERT_GE(server, 0);
        (void)!::write(server, "[t] start\r\n", 11);
        bool waiting = false;
        for (int i = 0; i < 500 && !waiting; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            waiting = dir_.Entries().size() == 3;
        }
        EXPECT_TRUE(waiting) << "no temporary file appeared";
        ::kill(child, signal);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(server);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": " << status;
        EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"log.fifo", "tsry.nss"})) << signal;
        EXPECT_EQ(ReadFile("tsry.nss"), kOldScript);
    }
    // Started with SIGHUP ignored (nohup, a background job), it keeps it
    // ignored: a closed terminal does not end the run.
    WriteFile("tsry.nss", kOldScript);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGHUP, SIG_IGN);
        ::execl(TSRY_CONVERT_EXE, "tsry-convert", "log.fifo", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const int server = ::open("log.fifo", O_WRONLY);
    ASSERT_GE(server, 0);
    (void)!::write(server, "[t] start\r\n", 11);
    for (int i = 0; i < 500 && dir_.Entries().size() != 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(child, SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // (Were it gone, the write would fail rather than end this test.)
    void (*const onPipe)(int) = ::signal(SIGPIPE, SIG_IGN);
    (void)!::write(server, test::kGoldLog.data(), test::kGoldLog.size());
    ::signal(SIGPIPE, onPipe);
    ::close(server);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile("tsry.nss"), test::GoldScript());
}

TEST_F(Faults, FlushesTheScriptThenRenamesItThenFlushesTheFolder) {
    // In that order, or a crash could leave an empty script, or none.
    if (test::Shell("strace -o /dev/null true 2>/dev/null") != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    WriteFile("server.log", RecordsLog(3));
    // (The leak checker of a sanitized build cannot run under a tracer.)
    ASSERT_EQ(test::Shell("ASAN_OPTIONS=detect_leaks=0 strace -f -e "
                          "trace=openat,fsync,fdatasync,rename,renameat,renameat2 "
                          "-o trace.txt " TSRY_CONVERT_EXE " server.log >/dev/null"),
              0);
    std::vector<std::string> steps;
    std::map<std::string, std::string> opened;  // what each descriptor was last opened on
    std::istringstream trace(ReadFile("trace.txt"));
    for (std::string line; std::getline(trace, line);) {
        const std::size_t result = line.rfind(" = ");
        const std::string fd = result == std::string::npos ? "" : line.substr(result + 3);
        if (line.find("openat(") != std::string::npos) {
            opened[fd] = line.find("\"tsry.nss.tmp.") != std::string::npos ? "the script"
                         : line.find("O_DIRECTORY") != std::string::npos   ? "the folder"
                                                                           : "another file";
        }
        if (line.find("rename") != std::string::npos)
            steps.push_back(line.substr(line.find("ren")));
        for (const std::string& name : {std::string("fsync("), std::string("fdatasync(")}) {
            const std::size_t at = line.find(name);
            if (at == std::string::npos) continue;
            steps.push_back(
                "flush " +
                opened[line.substr(at + name.size(), line.find(')') - at - name.size())]);
        }
    }
    ASSERT_EQ(steps.size(), 3u) << ReadFile("trace.txt");
    EXPECT_EQ(steps[0], "flush the script");
    // rename, or renameat where the processor has no rename (ARM64).
    EXPECT_TRUE(std::regex_match(steps[1], std::regex("rename(at2?)?\\((AT_FDCWD, )?"
                                                      "\"tsry\\.nss\\.tmp\\.[A-Za-z0-9]{6}\", "
                                                      "(AT_FDCWD, )?\"tsry\\.nss\"(, 0)?\\) = 0")))
        << steps[1];
    EXPECT_EQ(steps[2], "flush the folder");
}

TEST_F(Faults, OddBytesPassThroughQuotedText) {
    // Any byte but NUL between quotes; NUL bytes where nothing is written.
    const std::string odd = "n\x01\x7f\x80\t\xfe\xff";
    WriteFile("server.log", "x<TS_RY>STR#" + odd + "#" + odd + "#0#1#2#" +
                                std::string("\0\0\r\n\0<TS_RY>OBJ#\0#\0#\0#\0#\0#\0", 27));
    Convert("server.log");
    EXPECT_EQ(ReadFile("tsry.nss"),
              Script({"    SetTSRYString(\"" + odd + "\", \"" + odd + "\", 0, 1, 2);"}));
    EXPECT_EQ(CountFileLines("server.log"), 2u);
}

TEST_F(Faults, FileOfCarriageReturnsAlone) {
    WriteFile("server.log", std::string(100000, '\r'));
    EXPECT_EQ(CountFileLines("server.log"), 100000u);
    test::RecordingProgress progress;
    NoStatus status;
    ParseLog("server.log", 100000, progress, status);
    EXPECT_EQ(ReadFile("tsry.nss"), Script({}));
    EXPECT_EQ(progress.values.back(), 100000);
}

TEST_F(Faults, LastLineWithoutItsEnd) {
    WriteFile("server.log", "a\r\nx<TS_RY>INT#gold#1#0#0#0#");
    EXPECT_EQ(CountFileLines("server.log"), 2u);
    Convert("server.log");
    EXPECT_EQ(ReadFile("tsry.nss"), Script({"    SetTSRYInt(\"gold\", 1, 0, 0, 0);"}));
}

TEST_F(Faults, RecordCutOffByACrash) {
    // The server died while writing its last line.
    WriteFile("tsry.nss", kOldScript);
    WriteFile("server.log", RecordsLog(5) + "[t] <TS_RY>STR#PW_TITLE#Warden of the No");
    EXPECT_EQ(Failure("server.log"),
              "server.log:6: the record after <TS_RY> is cut short: only 2 of its 6 fields (Kind, "
              "Name) end with \"#\"; missing: Value, Extra1, Extra2, Extra3. A record line must "
              "read Kind#Name#Value#Extra1#Extra2#Extra3# after the tag.");
    ExpectOldScriptAlone(dir_.path());
}

TEST_F(Faults, HundredMegabyteLine) {
    std::string line(100 << 20, '=');
    line.replace(50 << 20, 0, "<TS_RY>FLT#rate#1.5#0#0#0#");
    WriteFile("server.log", "start\r\n" + line + "\r\nend");
    EXPECT_EQ(CountFileLines("server.log"), 3u);
    Convert("server.log");
    EXPECT_EQ(ReadFile("tsry.nss"), Script({"    SetTSRYFloat(\"rate\", 1.5, 0, 0, 0);"}));
}

TEST_F(Faults, TwoTagsInALine) {
    WriteFile("server.log", "x<TS_RY>INT#a#1#0#0#0# then <TS_RY>INT#b#2#0#0#0#\r\n");
    Convert("server.log");
    EXPECT_EQ(ReadFile("tsry.nss"), Script({"    SetTSRYInt(\"a\", 1, 0, 0, 0);"}));
}

TEST_F(Faults, PathWithSpacesAndNonAsciiCharacters) {
    const std::filesystem::path folder =
        dir_ / "server logs" / "Tessary \xc3\xaeles \xe2\x80\x94 n\xc2\xba 2";
    std::filesystem::create_directories(folder);
    WriteFile(folder / "s\xc3\xa9rver log.txt", RecordsLog(1));
    NoProgress progress;
    test::RecordingStatus status;
    ParseLog(folder / "s\xc3\xa9rver log.txt", std::nullopt, progress, status, folder / "tsry.nss");
    EXPECT_EQ(ReadFile(folder / "tsry.nss"), Script({"    SetTSRYInt(\"PW_VAR_0\", 0, 0, 0, 0);"}));
    EXPECT_EQ(Failure(folder / "missing \xc3\xa9.log"),
              "Cannot open the log \"" + (folder / "missing \xc3\xa9.log").string() +
                  "\": No such file or directory");
}

TEST_F(Faults, LogThatGrowsWhileItIsRead) {
    // The script is that of the log as far as it was read: some whole number
    // of its records, in order.
    std::string log = RecordsLog(200000);
    WriteFile("server.log", log.substr(0, log.size() / 4));
    std::atomic<bool> done{false};
    std::thread server([&] {
        const int fd = ::open("server.log", O_WRONLY | O_APPEND);
        std::size_t at = log.size() / 4;
        while (at < log.size() && !done) {
            const std::size_t end = log.find('\n', at) + 1;
            (void)!::write(fd, log.data() + at, end - at);
            at = end;
        }
        ::close(fd);
    });
    NoProgress progress;
    NoStatus status;
    std::string failure;
    try {
        // In one main, so that the records read stand in one run of lines.
        ParseLog("server.log", std::nullopt, progress, status, kDefaultScriptName,
                 ScriptLayout{.recordsPerPart = 0});
    } catch (const ConversionError& e) {
        failure = e.what();
    }
    done = true;
    server.join();
    if (!failure.empty()) {
        // Only if a read met a line half written.
        EXPECT_NE(failure.find("is cut short"), std::string::npos) << failure;
        return;
    }
    const std::string script = ReadFile("tsry.nss");
    const std::string body = script.substr(test::ScriptOpening().size());
    std::string expected;
    int records = 0;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line) && line != " \r";) {
        EXPECT_EQ(line, "    SetTSRYInt(\"PW_VAR_" + std::to_string(records) + "\", " +
                            std::to_string(records) + ", 0, 0, 0);\r");
        ++records;
    }
    EXPECT_GE(records, 50000);
    RecordsLog(records, &expected);
    EXPECT_EQ(script, expected);
}

TEST(FileSource, ALogCutShortWhileMappedIsAnErrorNotACrash) {
    test::ScopedSetting<ReadingWay> mapped(detail::ForcedReadingWay(), ReadingWay::kMapped);
    test::TempDir dir;
    std::string data;
    while (data.size() < (std::size_t{4} << 20)) data += "[t] Module heartbeat: 18 creatures\r\n";
    test::WriteFile(dir / "log.txt", data);
    FileSource file(dir / "log.txt");
    ASSERT_TRUE(file.CanKeep());
    LineReader reader(file);
    std::string_view block;
    ASSERT_TRUE(reader.NextBlock(block));
    ASSERT_EQ(block[0], '[');
    // Rotated away by truncation, as some log rotations do: the mapped pages
    // are gone, and reading them gives zeros instead of SIGBUS.
    ASSERT_EQ(::truncate((dir / "log.txt").c_str(), 0), 0);
    EXPECT_EQ(*static_cast<const volatile char*>(block.data()), '\0');
    try {
        while (reader.NextBlock(block)) {
        }
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "The log \"" + (dir / "log.txt").string() +
                                             "\" was cut short by another program while it "
                                             "was being read.");
    }
}

// How a bus error ends the program when nothing handles it: the sanitizers'
// handler reports it and exits.
bool EndedByBusError(int status) {
#if defined(__SANITIZE_ADDRESS__)
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
#else
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
#endif
}

TEST(FileSourceDeathTest, OtherBusErrorsStillEndTheProgram) {
    test::ScopedSetting<ReadingWay> mapped(detail::ForcedReadingWay(), ReadingWay::kMapped);
    test::TempDir dir;
    test::WriteFile(dir / "log.txt", std::string(1 << 16, 'x'));
    FileSource file(dir / "log.txt");
    ASSERT_TRUE(file.CanKeep());
    EXPECT_EXIT(::raise(SIGBUS), EndedByBusError, "");
    EXPECT_EXIT(
        {
            // Some other mapping of a file that shrinks.
            const int fd = ::open((dir / "log.txt").c_str(), O_RDONLY);
            const auto* other = static_cast<const volatile char*>(
                ::mmap(nullptr, 1 << 16, PROT_READ, MAP_SHARED, fd, 0));
            (void)::truncate((dir / "log.txt").c_str(), 0);
            std::exit(other[4096] == 'x' ? 3 : 4);
        },
        EndedByBusError, "");
}

}  // namespace
}  // namespace tsry
