#include "cli/convert_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        WriteFile("server.log", "[t] start\r\n[t] <TS_RY>INT#gold#150#0#0#x#\r\n[t] end");
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

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

  private:
    std::filesystem::path previous_;
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

TEST_F(ConvertCommand, CountsLines) {
    const Outcome outcome = Run({"--count", "server.log"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "3\n");
    EXPECT_FALSE(std::filesystem::exists("tsry.nss"));
}

TEST_F(ConvertCommand, ReportsFailuresWithItsNameAndExitsOne) {
    WriteFile("tsry.nss", "old");
    Outcome outcome = Run({"missing.log"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err,
              "tsry-convert: Cannot open the log \"missing.log\": No such file or directory\n");
    outcome = Run({"--count", "missing.log"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "tsry-convert: Cannot open the log \"missing.log\": No such file or directory\n");
    WriteFile("bad.log", "x<TS_RY>INT#gold#1#\r\n");
    outcome = Run({"bad.log"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.substr(0, 22), "tsry-convert: line 1: ");
    EXPECT_EQ(ReadFile("tsry.nss"), "old");
}

TEST_F(ConvertCommand, ExitsTwoOnUsageErrors) {
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"a.log", "b.log"}).status, 2);
    EXPECT_EQ(Run({"--bogus", "server.log"}).status, 2);
    EXPECT_EQ(Run({"--count", "-o", "x.nss", "server.log"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists("tsry.nss"));
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
