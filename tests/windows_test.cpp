// What Windows users meet: a log the server keeps open and writing, a script
// another program holds, a read-only script, Unicode paths, both separators,
// drive-relative paths, and the system's own messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// A handle closed at the end of the scope.
struct Held {
    HANDLE handle;
    ~Held() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

class OnWindows : public ::testing::Test {
  protected:
    std::string Failure(const fs::path& log, const fs::path& output) {
        NoProgress progress;
        NoStatus status;
        try {
            ParseLog(log, std::nullopt, progress, status, output);
        } catch (const ConversionError& e) {
            return e.what();
        }
        return "no error";
    }
    void Convert(const fs::path& log, const fs::path& output) {
        NoProgress progress;
        NoStatus status;
        ParseLog(log, std::nullopt, progress, status, output);
    }
    test::TempDir dir_;
};

TEST_F(OnWindows, ReadsALogTheServerKeepsOpenAndWriting) {
    WriteFile(dir_ / "server.log", test::kGoldLog);
    // As a server holds its log: writing, sharing reading and writing.
    Held server{::CreateFileW((dir_ / "server.log").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr)};
    ASSERT_NE(server.handle, INVALID_HANDLE_VALUE);
    Convert(dir_ / "server.log", dir_ / "tsry.nss");
    EXPECT_EQ(ReadFile(dir_ / "tsry.nss"), test::GoldScript());
}

TEST_F(OnWindows, AScriptHeldOrReadOnlyIsLeftAsItWas) {
    WriteFile(dir_ / "server.log", test::kGoldLog);
    const fs::path script = dir_ / "tsry.nss";
    {
        WriteFile(script, "old\r\n");
        // The game's toolset holds the script open and shares nothing.
        Held toolset{
            ::CreateFileW(script.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_NE(toolset.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Failure(dir_ / "server.log", script),
                  "Cannot replace the script " + QuotedPath(script) + ": " +
                      platform::ErrorText(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(ReadFile(script), "old\r\n");
    ASSERT_TRUE(::SetFileAttributesW(script.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Failure(dir_ / "server.log", script), "Cannot replace the script " +
                                                        QuotedPath(script) + ": " +
                                                        platform::ErrorText(ERROR_FILE_READ_ONLY));
    ::SetFileAttributesW(script.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile(script), "old\r\n");
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"server.log", "tsry.nss"}));
    // Free again: replaced.
    Convert(dir_ / "server.log", script);
    EXPECT_EQ(ReadFile(script), test::GoldScript());
}

TEST_F(OnWindows, UnicodePathsFromEndToEnd) {
    const fs::path folder = dir_.path() / PathFromUtf8("Zo\xc3\xab") / "Documents" /
                            PathFromUtf8(
                                "\xd0\x96\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb "
                                "\xd1\x81\xd0\xb5\xd1\x80\xd0\xb2\xd0\xb5\xd1\x80\xd0\xb0");
    fs::create_directories(folder);
    WriteFile(folder / "server log.txt", test::kGoldLog);
    Convert(folder / "server log.txt", folder / "tsry.nss");
    EXPECT_EQ(ReadFile(folder / "tsry.nss"), test::GoldScript());
    // The command line is UTF-8 by the time it reaches the converter.
    const std::string log = PathText(folder / "server log.txt");
    const std::string output = PathText(folder / PathFromUtf8("r\xc3\xa9stor\xc3\xa9.nss"));
    const char* argv[] = {"tsry-convert", "-o", output.c_str(), log.c_str()};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunConvertCommand(4, argv, out, err, false), 0) << err.str();
    EXPECT_EQ(out.str(), "Parsing complete, r\xc3\xa9stor\xc3\xa9.nss created.\n");
    EXPECT_EQ(ReadFile(folder / PathFromUtf8("r\xc3\xa9stor\xc3\xa9.nss")), test::GoldScript());
    // Messages carry the path as it is, in UTF-8.
    const fs::path missing = folder / PathFromUtf8("\xd0\xbd\xd0\xb5\xd1\x82.log");
    EXPECT_EQ(Failure(missing, folder / "tsry.nss"),
              "Cannot open the log \"" + PathText(missing) +
                  "\": " + platform::ErrorText(ERROR_FILE_NOT_FOUND));
}

TEST_F(OnWindows, EitherSeparatorAndDriveRelativePaths) {
    fs::create_directories(dir_ / "logs" / "old");
    WriteFile(dir_ / "logs" / "old" / "server.log", test::kGoldLog);
    const std::wstring root = dir_.path().native();
    Convert(root + L"\\logs/old\\server.log", root + L"/logs\\tsry.nss");
    EXPECT_EQ(ReadFile(dir_ / "logs" / "tsry.nss"), test::GoldScript());
    // "C:server.log": relative to the current folder of drive C.
    const fs::path previous = fs::current_path();
    fs::current_path(dir_ / "logs" / "old");
    const std::wstring drive = fs::current_path().root_name().native();
    Convert(drive + L"server.log", drive + L"drive.nss");
    fs::current_path(previous);
    EXPECT_EQ(ReadFile(dir_ / "logs" / "old" / "drive.nss"), test::GoldScript());
}

TEST_F(OnWindows, RefusalsSayWhyInTheProgramsOwnWords) {
    // Whatever the system's message tables hold (Wine's lack many), then
    // the system's own text where it has one.
    const struct {
        DWORD code;
        std::string words;
    } cases[] = {
        {ERROR_FILE_READ_ONLY, "The file is read-only"},
        {336 /* ERROR_DIRECTORY_NOT_SUPPORTED */, "It is a folder, not a file"},
        {ERROR_DIRECTORY, "It is a folder, not a file"},
        {ERROR_SHARING_VIOLATION, "Another program is using the file"},
        {ERROR_FILE_NOT_FOUND, "There is no such file"},
        {ERROR_PATH_NOT_FOUND, "There is no such folder"},
        {ERROR_ACCESS_DENIED, "Access is denied"},
        {ERROR_DISK_FULL, "The disk is full"},
        {123456789, "The system gives no reason (Windows error 123456789)"},
    };
    for (const auto& c : cases) {
        const std::string text = platform::ErrorText(static_cast<int>(c.code));
        EXPECT_EQ(text.substr(0, c.words.size()), c.words) << text;
        EXPECT_EQ(text.back(), '.') << text;
        if (c.code != 123456789) {
            EXPECT_EQ(text.find("Windows error"), std::string::npos) << text;
        }
    }
    // As the user meets them.
    WriteFile(dir_ / "server.log", test::kGoldLog);
    fs::create_directories(dir_ / "folder");
    EXPECT_EQ(Failure(dir_ / "server.log", dir_ / "folder"), "Cannot replace the script " +
                                                                 QuotedPath(dir_ / "folder") +
                                                                 ": " + platform::ErrorText(336));
}

TEST_F(OnWindows, AScriptThatWouldReplaceItsLogIsRefused) {
    WriteFile(dir_ / "server.log", test::kGoldLog);
    ASSERT_TRUE(
        ::CreateHardLinkW((dir_ / "hard.nss").c_str(), (dir_ / "server.log").c_str(), nullptr));
    const std::wstring other = dir_.path().native() + L"/./server.log";
    for (const fs::path& output : {dir_ / "server.log", dir_ / "hard.nss", fs::path(other)}) {
        EXPECT_EQ(Failure(dir_ / "server.log", output),
                  "the script " + QuotedPath(output) + " would replace the log it is made from");
    }
    EXPECT_EQ(ReadFile(dir_ / "server.log"), test::kGoldLog);
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"hard.nss", "server.log"}));
}

// Runs the tsry-convert.exe beside this program in `folder` with `arguments`,
// its standard input the file `input` from `offset` on, its standard output
// into the file `output` (if given); its exit code.
DWORD RunConvert(const std::wstring& arguments, const fs::path& input, LONGLONG offset,
                 const fs::path& folder, const fs::path& output = {}) {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    const fs::path exe = fs::path(self).parent_path() / L"tsry-convert.exe";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    Held in{::CreateFileW(input.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                          OPEN_EXISTING, 0, nullptr)};
    Held null{::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                            OPEN_EXISTING, 0, nullptr)};
    Held out{output.empty() ? INVALID_HANDLE_VALUE
                            : ::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                            &inherited, CREATE_ALWAYS, 0, nullptr)};
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    ::SetFilePointerEx(in.handle, at, nullptr, FILE_BEGIN);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.handle;
    startup.hStdOutput = output.empty() ? null.handle : out.handle;
    startup.hStdError = null.handle;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + exe.native() + L"\" " + arguments;
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          folder.c_str(), &startup, &process)) {
        return 127;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 127;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

TEST_F(OnWindows, StandardInputIsReadFromWhereItStandsAndNeverReplaced) {
    const std::string second = "x<TS_RY>INT#b#2#0#0#0#\r\n";
    const std::string two = "x<TS_RY>INT#a#1#0#0#0#\r\n" + second;
    WriteFile(dir_ / "two.log", two);
    WriteFile(dir_ / "second.log", second);
    Convert(dir_ / "second.log", dir_ / "expected.nss");
    EXPECT_EQ(RunConvert(L"-o second.nss -", dir_ / "two.log", 24, dir_.path()), 0u);
    EXPECT_EQ(ReadFile(dir_ / "second.nss"), ReadFile(dir_ / "expected.nss"));
    // Standard input that is the script itself.
    WriteFile(dir_ / "tsry.nss", two);
    EXPECT_EQ(RunConvert(L"-", dir_ / "tsry.nss", 0, dir_.path()), 1u);
    EXPECT_EQ(ReadFile(dir_ / "tsry.nss"), two);
}

TEST_F(OnWindows, FoldersGzipOnStandardInputAndTheListAsTheProgramMeetsThem) {
    const std::string second = "x<TS_RY>INT#b#2#0#0#0#\r\n";
    const std::string two = "x<TS_RY>INT#a#1#0#0#0#\r\n" + second;
    fs::create_directories(dir_ / "history");
    WriteFile(dir_ / "history" / "two.log", two);
    WriteFile(dir_ / "second.log", second);
    Convert(dir_ / "history" / "two.log", dir_ / "two.nss");
    Convert(dir_ / "second.log", dir_ / "second.nss");
    // The folder that holds the script, converted twice from within.
    for (int run = 1; run <= 2; ++run) {
        EXPECT_EQ(RunConvert(L".", dir_ / "second.log", 0, dir_ / "history"), 0u) << run;
        EXPECT_EQ(ReadFile(dir_ / "history" / "tsry.nss"), ReadFile(dir_ / "two.nss")) << run;
    }
    // A gzip log on standard input, looked at where standard input stands.
    WriteFile(dir_ / "mixed.log", two.substr(0, 24) + test::Gzip(second));
    EXPECT_EQ(RunConvert(L"-o from-gzip.nss -", dir_ / "mixed.log", 24, dir_.path()), 0u);
    EXPECT_EQ(ReadFile(dir_ / "from-gzip.nss"), ReadFile(dir_ / "second.nss"));
    // The list alone on standard output; into a file, how many variables.
    EXPECT_EQ(
        RunConvert(L"--list -o - history", dir_ / "second.log", 0, dir_.path(), dir_ / "list.txt"),
        0u);
    EXPECT_EQ(ReadFile(dir_ / "list.txt"),
              "name\tkind\tvalue\textra1\textra2\textra3\tsource\n"
              "a\tINT\t1\t0\t0\t0\thistory\\\\two.log:1\n"
              "b\tINT\t2\t0\t0\t0\thistory\\\\two.log:2\n");
    EXPECT_EQ(RunConvert(L"--list -o l.tsv second.log", dir_ / "second.log", 0, dir_.path(),
                         dir_ / "said.txt"),
              0u);
    EXPECT_EQ(ReadFile(dir_ / "said.txt"), "Listing complete, 1 variable in l.tsv.\r\n");
}

TEST_F(OnWindows, TheSystemSaysWhatWentWrong) {
    const std::string message = Failure(dir_ / "missing.log", dir_ / "tsry.nss");
    EXPECT_EQ(message, "Cannot open the log " + QuotedPath(dir_ / "missing.log") + ": " +
                           platform::ErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(platform::ErrorText(ERROR_FILE_NOT_FOUND), "");
    EXPECT_EQ(platform::ErrorText(ERROR_FILE_NOT_FOUND).back(), '.');  // a sentence, no CR LF
}

}  // namespace
}  // namespace tsry
