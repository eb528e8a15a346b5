// The follower beside a log that another program writes, empties, replaces
// and rotates, on real files and in real time: each step waits for the
// script the follower writes, never for the clock.
#include "conversion/follow_logs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conversion/platform/platform.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::Append;
using test::ReadFile;
using test::Rec;
using test::WriteFile;

// Emptied and written anew in place: the same file.
void Restart(const std::filesystem::path& file, std::string_view text) {
    std::filesystem::resize_file(file, 0);
    Append(file, text);
}

class Said final : public FollowMessages {
  public:
    void Say(std::string_view message) override {
        const std::lock_guard lock(mutex_);
        said_ += std::string(message) + "\n";
    }
    std::string all() {
        const std::lock_guard lock(mutex_);
        return said_;
    }

  private:
    std::mutex mutex_;
    std::string said_;
};

class Following : public ::testing::Test {
  protected:
    void TearDown() override {
        if (runner_.joinable()) Stop();
    }

    // Starts a follower of `logs` (the log by default) on a thread of its own.
    void Start(LogSet logs = {}, double every = 0, std::filesystem::path archive = {}) {
        if (logs.empty()) logs.push_back(log_);
        settings_.logs = std::move(logs);
        settings_.output = script_;
        settings_.every = every;
        settings_.archive = std::move(archive);
        settings_.lookEvery = 0.02;
        runner_ = std::thread([this] {
            try {
                FollowLogs(settings_, said_);
            } catch (const ConversionError& e) {
                said_.Say(std::string("failed: ") + e.what());
            }
        });
    }
    void Stop() {
        platform::RequestStop();
        runner_.join();
    }

    // The script of a log that held `text`, as a one-shot conversion writes it.
    std::string ScriptOf(const std::string& text) {
        const std::filesystem::path log = dir_ / "expected.log";
        const std::filesystem::path script = dir_ / "expected.nss";
        WriteFile(log, text);
        NoProgress progress;
        NoStatus status;
        ParseLog(log, std::nullopt, progress, status, script);
        return ReadFile(script);
    }

    // Waits, with a generous limit, until the script reads as that of `text`.
    void ExpectScriptOf(const std::string& text) {
        const std::string expected = ScriptOf(text);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string now;
        while (std::chrono::steady_clock::now() < limit) {
            std::error_code error;
            try {
                if (std::filesystem::exists(script_, error) &&
                    (now = ReadFile(script_)) == expected) {
                    return;
                }
            } catch (const std::exception&) {
                // Being replaced just then (on Windows, a file in the middle
                // of a rename cannot be opened): looked at again.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "the script never became that of:\n"
                      << text << "\nit is:\n"
                      << now << "\nsaid:\n"
                      << said_.all();
    }

    test::TempDir dir_;
    std::filesystem::path log_ = dir_ / "server.log";
    std::filesystem::path script_ = dir_ / "tsry.nss";
    FollowSettings settings_;
    std::thread runner_;
    Said said_;
};

// One step: what is done to the log, and what all the records read so far
// then make, as one log.
struct Step {
    std::function<void(const std::filesystem::path& log)> act;
    std::string history;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const std::string kA = Rec("a", "1") + Rec("b", "2");

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"Growth",
         {{[](const auto& log) { Append(log, Rec("b", "2")); }, kA},
          {[](const auto& log) { Append(log, Rec("c", "3") + Rec("a", "4")); },
           kA + Rec("c", "3") + Rec("a", "4")}}},
        {"ARestartThatEmptiesTheLog",
         {{[](const auto& log) { Restart(log, Rec("c", "3") + Rec("b", "5")); },
           kA + Rec("c", "3") + Rec("b", "5")}}},
        // Written over from its start without ever being shorter: at the
        // next look the new text is already longer than the old, and the
        // size alone says "grown".
        {"ARestartAlreadyLongerThanTheOldLog",
         {{[](const auto& log) {
               std::fstream file(log, std::ios::binary | std::ios::in | std::ios::out);
               file << Rec("x", "9") + Rec("y", "8") + Rec("z", "7") + Rec("w", "6");
           },
           kA + Rec("x", "9") + Rec("y", "8") + Rec("z", "7") + Rec("w", "6")}}},
        {"AReplacementUnderTheSameName",
         {{[](const auto& log) {
               const auto other = log.parent_path() / "new.log.tmp";
               WriteFile(other, Rec("a", "7") + Rec("d", "4") + Rec("e", "5"));
               std::error_code refused;
               std::filesystem::rename(other, log, refused);
               // Windows refuses to put another file in the place of one that
               // is open, even shared for deleting, as the follower holds it.
               if (refused) GTEST_SKIP() << "the system keeps an open file in its place";
           },
           kA + Rec("a", "7") + Rec("d", "4") + Rec("e", "5")}}},
        // What the server wrote just before the rename is read from the
        // file renamed away.
        {"ARenameRotation",
         {{[](const auto& log) {
               Append(log, Rec("c", "3"));
               std::filesystem::rename(log, log.parent_path() / "server.log.1");
               WriteFile(log, Rec("d", "4"));
           },
           kA + Rec("c", "3") + Rec("d", "4")},
          {[](const auto& log) { Append(log, Rec("a", "5")); },
           kA + Rec("c", "3") + Rec("d", "4") + Rec("a", "5")}}},
        // A last line waits for its line end, even when it is seen in part.
        {"AnIncompleteLastLineWaitsForItsEnd",
         {{[](const auto& log) { Append(log, Rec("a", "9") + "[t] <TS_RY>INT#c#3#0"); },
           kA + Rec("a", "9")},
          {[](const auto& log) { Append(log, Rec("d", "4").insert(0, "#0#0#\r\n")); },
           kA + Rec("a", "9") + Rec("c", "3") + Rec("d", "4")}}},
    };
    return cases;
}

class FollowingALog : public Following, public ::testing::WithParamInterface<Case> {};

TEST_P(FollowingALog, KeepsTheScriptOfEveryRecordEverWritten) {
    WriteFile(log_, kA);
    Start();
    ExpectScriptOf(kA);
    for (const Step& step : GetParam().steps) {
        step.act(log_);
        if (IsSkipped()) return;
        ExpectScriptOf(step.history);
    }
    Stop();
    EXPECT_EQ(said_.all(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FollowingALog, ::testing::ValuesIn(Cases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(Following, ALineCutShortByACrashIsToldAndLeftOut) {
    // The CR LF of the last whole line split between two looks: one line end.
    WriteFile(log_, kA.substr(0, kA.size() - 1));
    Start();
    ExpectScriptOf(kA);
    Append(log_, "\n");
    Append(log_, Rec("a", "5") + "[t] <TS_RY>INT#c#3#0");
    ExpectScriptOf(kA + Rec("a", "5"));
    Restart(log_, Rec("d", "4"));
    ExpectScriptOf(kA + Rec("a", "5") + Rec("d", "4"));
    Stop();
    EXPECT_EQ(said_.all(), PathText(log_) +
                               ":4: the line was cut short (the log started anew before its "
                               "end); left out\n");
}

TEST_F(Following, ARefusedRecordKeepsTheOldScriptUntilALaterOneMendsIt) {
    WriteFile(log_, kA);
    Start();
    ExpectScriptOf(kA);
    Append(log_, Rec("b", "2;x") + Rec("c", "3"));
    // The refusal is told once the follower has read it.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (said_.all().empty() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(said_.all().find(PathText(log_) + ":3: the Value of INT record \"b\""),
              std::string::npos)
        << said_.all();
    EXPECT_EQ(ReadFile(script_), ScriptOf(kA));
    Append(log_, Rec("b", "6"));
    ExpectScriptOf(kA + Rec("c", "3") + Rec("b", "6"));
    Stop();
}

TEST_F(Following, AFolderStandsForTheFilesThatAppearBeneathIt) {
    const std::filesystem::path folder = dir_ / "logs";
    std::filesystem::create_directory(folder);
    log_ = folder / "server.log";
    WriteFile(log_, kA);
    Start({folder});
    ExpectScriptOf(kA);
    // Rotated within the folder: the old file, found again under its new
    // name, is not read again after the new one.
    std::filesystem::rename(log_, folder / "server.log.1");
    WriteFile(log_, Rec("a", "3"));
    ExpectScriptOf(kA + Rec("a", "3"));
    WriteFile(folder / "other.log", Rec("c", "5"));
    ExpectScriptOf(kA + Rec("a", "3") + Rec("c", "5"));
    Append(log_, Rec("b", "7"));
    ExpectScriptOf(kA + Rec("a", "3") + Rec("c", "5") + Rec("b", "7"));
    Stop();
    EXPECT_EQ(said_.all(), "");
}

// Started before the server: neither the log nor its folder's first file is
// there yet.
TEST_F(Following, WaitsForLogsThatAreNotThereYet) {
    const std::filesystem::path folder = dir_ / "logs";
    std::filesystem::create_directory(folder);
    Start({log_, folder});
    ExpectScriptOf("");
    WriteFile(log_, kA);
    ExpectScriptOf(kA);
    WriteFile(folder / "first.log", Rec("c", "3"));
    ExpectScriptOf(kA + Rec("c", "3"));
    Stop();
    EXPECT_NE(said_.all().find("holds no logs."), std::string::npos) << said_.all();
}

// A one-shot run that keeps the follower's archive in between: neither
// loses the other's records.
TEST_F(Following, AOneShotRunKeepsTheSameArchiveInBetween) {
    const std::filesystem::path archive = dir_ / "history.tsv";
    const std::filesystem::path other = dir_ / "old.log";
    WriteFile(log_, kA);
    Start({}, 0, archive);
    ExpectScriptOf(kA);
    WriteFile(other, Rec("z", "9") + Rec("a", "0"));
    NoProgress progress;
    NoStatus status;
    ParseLog(LogSet{other}, std::nullopt, progress, status, dir_ / "one-shot.nss", {}, archive);
    Append(log_, Rec("c", "3"));
    // The archive as the follower found it, with its own records after.
    ExpectScriptOf(kA + Rec("z", "9") + Rec("c", "3"));
    Stop();
    const std::string list = ReadFile(archive);
    EXPECT_TRUE(list.starts_with("name\tkind\tvalue\textra1\textra2\textra3\tsource\n")) << list;
    for (const std::string_view row :
         {"a\tINT\t1\t0\t0\t0\t", "z\tINT\t9\t0\t0\t0\t", "c\tINT\t3\t0\t0\t0\t"}) {
        EXPECT_NE(list.find(row), std::string::npos) << row << "\n" << list;
    }
}

// Kept twice from the same logs, by a follower started again: the same
// archive and the same script, byte for byte.
TEST_F(Following, TheSameLogsKeptTwiceGiveTheSameFiles) {
    const std::filesystem::path archive = dir_ / "history.tsv";
    WriteFile(log_, kA + Rec("c", "3") + Rec("a", "4"));
    const std::string expected = kA + Rec("c", "3") + Rec("a", "4");
    Start({}, 0, archive);
    ExpectScriptOf(expected);
    Stop();
    const std::string firstList = ReadFile(archive);
    const std::string firstScript = ReadFile(script_);
    Start({}, 0, archive);
    ExpectScriptOf(expected);
    Stop();
    EXPECT_EQ(ReadFile(archive), firstList);
    EXPECT_EQ(ReadFile(script_), firstScript);
    // Each row keeps where its value was logged.
    const std::size_t row = firstList.find("a\tINT\t4\t0\t0\t0\t");
    ASSERT_NE(row, std::string::npos) << firstList;
    EXPECT_EQ(firstList.substr(firstList.find('\n', row) - 12, 13), "server.log:4\n");
}

TEST_F(Following, AWriteAtTheStopHoldsWhatCameJustBefore) {
    WriteFile(log_, kA);
    Start({}, 3600);  // written at the start, then only at the stop
    ExpectScriptOf(kA);
    Append(log_, Rec("c", "3"));
    Stop();
    EXPECT_EQ(ReadFile(script_), ScriptOf(kA + Rec("c", "3")));
}

}  // namespace
}  // namespace tsry
