// What Browse and Parse do, once for both windows, against a fake set of
// controls: the paths the field shows and names, the count, the status texts,
// the bar's range, sets of logs, cancels and errors, and the window left
// usable.
#include "window/form_commands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::ReadFile;
using test::WriteFile;
using Strings = std::vector<std::string>;

// Controls that remember what the commands did to them.
class FakeControls final : public FormControls {
  public:
    std::optional<Strings> ChooseLogs() override {
        ++dialogs;
        return nextChoice;
    }
    [[nodiscard]] std::string PathText() const override { return path; }
    void SetPathText(std::string_view text) override { path = text; }
    void SetStatus(std::string_view text) override { status = text; }
    void SetStatusTip(std::string_view text) override { tip = text; }
    ProgressSink& Bar() override { return bar; }
    void ShowError(std::string_view message) override { errors.emplace_back(message); }

    std::optional<Strings> nextChoice;
    int dialogs = 0;
    std::string path;
    std::string status;
    std::string tip;
    Strings errors;
    test::RecordingProgress bar;
};

class Commands : public ::testing::Test {
  protected:
    void SetUp() override { WriteFile("server.log", test::kWindowLog); }

    void Browse(std::optional<Strings> choice) {
        controls_.nextChoice = std::move(choice);
        commands_.CountLogLines();
    }
    void Browse(const std::string& one) { Browse(Strings{one}); }
    std::string LogPath(std::string_view name = "server.log") const {
        return PathText(dir_.path() / name);
    }

    test::TempDir dir_;
    test::InFolder inDir_{dir_.path()};
    FakeControls controls_;
    FormCommands commands_{controls_};
};

TEST_F(Commands, BrowseThenParse) {
    Browse(LogPath());
    EXPECT_EQ(controls_.path, LogPath());
    EXPECT_EQ(controls_.status, "5 records.");
    EXPECT_EQ(commands_.lineCount(), std::optional<std::uint64_t>(5));

    commands_.ParseLog();
    EXPECT_EQ(ReadFile("tsry.nss"), test::WindowLogScript());
    EXPECT_EQ(controls_.status, "Parsing complete, tsry.nss created.");
    EXPECT_EQ(controls_.tip, PathText(std::filesystem::absolute("tsry.nss").make_preferred()));
    // Range 0..2 * 5, shown at the start, 5 lines and 2 records, hidden.
    const Strings& calls = controls_.bar.calls;
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(Strings(calls.begin(), calls.begin() + 4),
              (Strings{"min 0", "max 10", "value 0", "show"}));
    EXPECT_EQ(calls.back(), "hide");
    EXPECT_EQ(controls_.bar.values.back(), 7);
    EXPECT_TRUE(controls_.errors.empty());
}

TEST_F(Commands, ParseWritesALargeRestoreInPartsAndSaysSo) {
    WriteFile("large.log", test::LargeRestoreLog());
    controls_.path = LogPath("large.log");
    commands_.ParseLog();
    EXPECT_TRUE(ReadFile("tsry.nss") == test::LargeRestoreScript());
    EXPECT_EQ(controls_.status,
              "Parsing complete, tsry.nss created.\nIn 3 parts, run one after another.");
}

TEST_F(Commands, ParseWithoutBrowseHasAnEmptyRange) {
    controls_.path = LogPath();
    commands_.ParseLog();
    EXPECT_EQ(ReadFile("tsry.nss"), test::WindowLogScript());
    EXPECT_EQ(controls_.bar.calls[1], "max 0");
    EXPECT_EQ(controls_.status, "Parsing complete, tsry.nss created.");
}

TEST_F(Commands, ParseTakesTheEditedPathAndTheCountedRange) {
    WriteFile("long.log", std::string(40, '\n'));
    Browse(LogPath("long.log"));
    EXPECT_EQ(controls_.status, "40 records.");
    controls_.path = LogPath();  // the user edits the field
    commands_.ParseLog();
    EXPECT_EQ(ReadFile("tsry.nss"), test::WindowLogScript());
    EXPECT_EQ(controls_.bar.calls[1], "max 80");
}

TEST_F(Commands, ACancelledBrowseChangesNothing) {
    Browse(LogPath());
    controls_.path = "typed.log";
    Browse(std::nullopt);
    EXPECT_EQ(controls_.dialogs, 2);
    EXPECT_EQ(controls_.path, "typed.log");
    EXPECT_EQ(controls_.status, "5 records.");
    EXPECT_EQ(commands_.lineCount(), std::optional<std::uint64_t>(5));
}

TEST_F(Commands, AFailedBrowseKeepsTheCountAndTheStatus) {
    Browse(LogPath());
    const std::string missing = LogPath("gone.log");
    Browse(missing);
    EXPECT_EQ(controls_.errors, Strings{"Cannot open the log \"" + missing +
                                        "\": " + test::SystemText(test::Fault::kNoSuchFile)});
    EXPECT_EQ(controls_.path, missing);
    EXPECT_EQ(controls_.status, "5 records.");
    EXPECT_EQ(commands_.lineCount(), std::optional<std::uint64_t>(5));
}

TEST_F(Commands, AFailedParseShowsWhyAndLeavesTheWindowUsable) {
    WriteFile("tsry.nss", "old script\r\n");
    WriteFile("bad.log", "a\r\nx<TS_RY>INT#gold#1#0#\r\n");
    Browse(LogPath("bad.log"));
    commands_.ParseLog();
    ASSERT_EQ(controls_.errors.size(), 1u);
    EXPECT_EQ(controls_.errors[0].rfind(
                  LogPath("bad.log") + ":2: the record after <TS_RY> is cut short", 0),
              0u);
    EXPECT_EQ(controls_.bar.calls.back(), "hide");
    EXPECT_EQ(controls_.status, "2 records.");
    EXPECT_EQ(ReadFile("tsry.nss"), "old script\r\n");
    EXPECT_EQ(dir_.Entries(), (Strings{"bad.log", "server.log", "tsry.nss"}));
    // The log vanishes after it was counted, or turns into an empty folder.
    Browse(LogPath());
    for (const bool folder : {false, true}) {
        std::filesystem::remove("server.log");
        if (folder) std::filesystem::create_directory("server.log");
        commands_.ParseLog();
        EXPECT_EQ(controls_.errors.back(),
                  folder ? "The folder \"" + LogPath() + "\" holds no logs."
                         : "Cannot open the log \"" + LogPath() +
                               "\": " + test::SystemText(test::Fault::kNoSuchFile));
        EXPECT_EQ(controls_.status, "5 records.");
        EXPECT_EQ(ReadFile("tsry.nss"), "old script\r\n");
    }
    // Still usable: a good log converts.
    std::filesystem::remove("server.log");
    WriteFile("server.log", test::kWindowLog);
    commands_.ParseLog();
    EXPECT_EQ(ReadFile("tsry.nss"), test::WindowLogScript());
}

// What the field shows of a set, and what it names: as typed, as Explorer's
// "Copy as path" gives it, as Browse shows several logs.
TEST(PathField, NamesTheLogsItShows) {
    const struct {
        std::string text;
        Strings logs;
        bool shown;  // FieldText(logs) gives the text back
    } rows[] = {
        {"/srv/logs/server.log", {"/srv/logs/server.log"}, true},
        {R"(C:\Server Logs\server 1.log)", {R"(C:\Server Logs\server 1.log)"}, true},
        {"/srv/logs", {"/srv/logs"}, true},  // a folder
        {"  server.log ", {"  server.log "}, true},
        {"", {""}, true},
        {"   ", {"   "}, true},
        {R"("C:\Server Logs\server.log")", {R"(C:\Server Logs\server.log)"}, false},
        {R"(  "C:\Server Logs\server.log"  )", {R"(C:\Server Logs\server.log)"}, false},
        {R"("a.log" "b 2.log" "c.log")", {"a.log", "b 2.log", "c.log"}, true},
        {"\t\"a.log\"   \"b.log\" ", {"a.log", "b.log"}, false},
        {R"("a.log" b.log "c.log")", {"a.log", "b.log", "c.log"}, false},
        {R"("a.log"b.log"c.log")", {"a.log", "b.log", "c.log"}, false},
        {R"("a.log" "b 2.log  )", {"a.log", "b 2.log"}, false},
        {R"("a.log" "")", {"a.log"}, false},
        {R"("")", {""}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(LogsInField(row.text), row.logs) << '[' << row.text << ']';
        if (row.shown) {
            EXPECT_EQ(FieldText(row.logs), row.text) << '[' << row.text << ']';
        }
    }
    EXPECT_EQ(FieldText({}), "");
}

// Logs of a history, each ending with a line end: gold changes in every one.
class CommandSets : public Commands {
  protected:
    void SetUp() override {
        Commands::SetUp();
        WriteFile("a.log", "[t] <TS_RY>INT#gold#2#0#0#0#\r\n[t] <TS_RY>STR#title#Sir#0#0#0#\r\n");
        WriteFile("b.log", "[t] <TS_RY>INT#gold#3#0#0#0#\r\n");
        WriteFile("c.log", "[t] start\r\n[t] <TS_RY>INT#gold#1#0#0#0#\r\n[t] end\r\n");
        // Modified c, then a, then b.
        const auto now = std::filesystem::file_time_type::clock::now();
        std::filesystem::last_write_time("c.log", now - std::chrono::hours(3));
        std::filesystem::last_write_time("a.log", now - std::chrono::hours(2));
        std::filesystem::last_write_time("b.log", now - std::chrono::hours(1));
    }
    // The script of the logs' text one after another in one log.
    std::string ScriptOfJoined(const Strings& names) {
        std::string joined;
        for (const std::string& name : names) joined += ReadFile(name);
        WriteFile("joined.log", joined);
        NoProgress progress;
        NoStatus status;
        tsry::ParseLog(std::filesystem::path("joined.log"), std::nullopt, progress, status,
                       "joined.nss");
        return ReadFile("joined.nss");
    }
};

TEST_F(CommandSets, BrowseShowsSeveralOldestFirstAndParseReadsThemInThatOrder) {
    Browse(Strings{LogPath("a.log"), LogPath("b.log"), LogPath("c.log")});
    EXPECT_EQ(controls_.path, '"' + LogPath("c.log") + "\" \"" + LogPath("a.log") + "\" \"" +
                                  LogPath("b.log") + '"');
    EXPECT_EQ(controls_.status, "6 records.");
    EXPECT_EQ(commands_.lineCount(), std::optional<std::uint64_t>(6));

    commands_.ParseLog();
    EXPECT_TRUE(controls_.errors.empty());
    EXPECT_EQ(controls_.status, "Parsing complete, tsry.nss created.");
    EXPECT_EQ(controls_.bar.calls[1], "max 12");
    const std::string script = ReadFile("tsry.nss");
    EXPECT_EQ(script, ScriptOfJoined({"c.log", "a.log", "b.log"}));
    EXPECT_NE(script.find("SetTSRYInt(\"gold\", 3,"), std::string::npos);

    // A list typed or pasted is read in its own order.
    controls_.path = R"(  "b.log" "a.log"  )";
    commands_.ParseLog();
    EXPECT_EQ(ReadFile("tsry.nss"), ScriptOfJoined({"b.log", "a.log"}));
}

TEST_F(CommandSets, DroppedOrGivenLogsAreShownAndCountedAsBrowseDoes) {
    // One log: as Browse shows it, without quotes.
    commands_.UseLogs({LogPath("b.log")});
    EXPECT_EQ(controls_.path, LogPath("b.log"));
    EXPECT_EQ(controls_.status, "1 records.");
    // A folder: every log beneath it.
    std::filesystem::create_directory("history");
    std::filesystem::rename("a.log", "history/a.log");
    std::filesystem::rename("c.log", "history/c.log");
    commands_.UseLogs({LogPath("history")});
    EXPECT_EQ(controls_.path, LogPath("history"));
    EXPECT_EQ(controls_.status, "5 records.");
    commands_.ParseLog();
    EXPECT_EQ(ReadFile("tsry.nss"), ScriptOfJoined({"history/c.log", "history/a.log"}));
    EXPECT_EQ(controls_.dialogs, 0);
    // Nothing dropped changes nothing; a set with a missing log shows why,
    // and the count and the status stay.
    commands_.UseLogs({});
    EXPECT_EQ(controls_.path, LogPath("history"));
    const std::string missing = LogPath("gone.log");
    commands_.UseLogs({LogPath("b.log"), missing});
    EXPECT_EQ(controls_.path, '"' + missing + "\" \"" + LogPath("b.log") + '"');
    EXPECT_EQ(controls_.errors, Strings{"Cannot open the log \"" + missing +
                                        "\": " + test::SystemText(test::Fault::kNoSuchFile)});
    EXPECT_EQ(controls_.status, "Parsing complete, tsry.nss created.");
    EXPECT_EQ(commands_.lineCount(), std::optional<std::uint64_t>(5));
}

TEST(BarScale, MapsAnyCountToThousandthsAndAnEmptyRangeToBusy) {
    BarScale scale;
    EXPECT_TRUE(scale.busy());
    scale.SetMaximum(2.0 * 6e9);
    scale.SetValue(6e9);
    EXPECT_FALSE(scale.busy());
    EXPECT_EQ(scale.shown(), BarScale::kResolution / 2);
    EXPECT_EQ(scale.progressCount(), 6'000'000'000u);
    scale.SetValue(3e10);  // past the end: a full bar
    EXPECT_EQ(scale.shown(), BarScale::kResolution);
    scale.SetValue(-1);
    EXPECT_EQ(scale.shown(), 0);
    scale.SetMaximum(0);
    EXPECT_TRUE(scale.busy());
}

}  // namespace
}  // namespace tsry
