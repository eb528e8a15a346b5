#include "cli/convert_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "conversion/follow_logs.h"
#include "conversion/list_logs.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"
#include "conversion/scans/line_scan.h"
#include "conversion/script/replacement_file.h"

#ifndef TSRY_VERSION
#define TSRY_VERSION "unknown"
#endif

namespace tsry {

namespace {

constexpr const char* kProgramName = "tsry-convert";

// Progress on a terminal line, following the reading of the log: a bar for a
// plain file, whose size is known; the amount read for a stream. Redrawn only
// when what it shows changes.
class TerminalProgress final : public ProgressSink {
  public:
    explicit TerminalProgress(std::ostream& err) : err_(err) {}

    void SetMinimum(double) override {}
    void SetMaximum(double) override {}
    void SetValue(double) override {}
    void SetBytesRead(std::uint64_t bytes, std::uint64_t size) override {
        bytes_ = bytes;
        size_ = size;
        if (visible_) Draw();
    }
    void Show() override {
        visible_ = true;
        shown_.clear();
        Draw();
    }
    void Hide() override {
        if (!visible_) return;
        visible_ = false;
        err_ << '\r' << std::string(shown_.size(), ' ') << '\r' << std::flush;
    }

  private:
    static constexpr int kWidth = 40;

    void Draw() {
        std::string text;
        if (size_ > 0) {
            const auto percent =
                static_cast<int>(std::min<std::uint64_t>(bytes_, size_) * 100 / size_);
            const int filled = percent * kWidth / 100;
            text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                   std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
                   std::to_string(percent) + "%";
        } else {
            // Tenths of a mebibyte.
            const std::uint64_t tenths = bytes_ * 10 / (std::uint64_t{1} << 20);
            text = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MiB read";
        }
        if (text == shown_) return;
        err_ << '\r' << text;
        if (text.size() < shown_.size()) err_ << std::string(shown_.size() - text.size(), ' ');
        err_ << std::flush;
        shown_ = std::move(text);
    }

    std::ostream& err_;
    std::uint64_t bytes_ = 0;
    std::uint64_t size_ = 0;
    std::string shown_;
    bool visible_ = false;
};

// A check of --parts: a whole number of 1 or more, in decimal digits.
std::string CheckWholeNumber(const std::string& text) {
    std::size_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (!text.empty() && text.front() != '-' && stop == end) {
        if (error == std::errc::result_out_of_range) return '"' + text + "\" is too large";
        if (error == std::errc() && value >= 1) return {};
    }
    return '"' + text + "\" is not a whole number of 1 or more";
}

// Whether `text` reads as an option's name rather than a value: "-o",
// "--list", but not "-5", "-.5" or "-".
bool LooksLikeAnOption(std::string_view text) noexcept {
    return text.size() >= 2 && text[0] == '-' && text[1] != '.' && (text[1] < '0' || text[1] > '9');
}

// A check of a FILE value: the parser would take an option's name that
// follows a value-less -o as the file to write ("-o --parts 2" writing a
// file named "--parts"). A file of such a name can be given as ./--parts.
std::string CheckNotAnOption(const std::string& text) {
    return LooksLikeAnOption(text) ? "\"" + text + "\" is an option" : std::string();
}

// A usage error in plain words: what is wrong, as the parser says it, with
// the few messages that name nothing the user typed put another way.
std::string UsageProblem(const CLI::App& app, const CLI::ParseError& e) {
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
        return "no LOG was given: name the log to convert, or - for standard input";
    }
    std::string message = e.what();
    // The parser's messages about one option's values begin with its name.
    const CLI::Option* option = app.get_option_no_throw(message.substr(0, message.find(':')));
    if (option != nullptr && !option->get_option_text().empty()) {
        const std::string named =
            option->get_name() + " must be followed by " + option->get_option_text();
        // Given twice, or with its value missing at the end.
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
            return option->count() > 1 ? option->get_name() + " can be given only once" : named;
        }
        // The parser takes the next argument as the value whatever it is, so
        // that a value left out takes the next option's name.
        if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr && option->count() == 1 &&
            LooksLikeAnOption(option->results().front())) {
            return named + ", not by the option \"" + option->results().front() + '"';
        }
    }
    if (const std::size_t at = message.find(" excludes "); at != std::string::npos) {
        return message.substr(0, at) + " and " + message.substr(at + 10) +
               " cannot be used together";
    }
    if (!message.empty() && message.front() >= 'A' && message.front() <= 'Z') {
        message.front() = static_cast<char>(message.front() - 'A' + 'a');
    }
    return message;
}

// Says what is wrong with the command line, and where to look; the status
// of a usage error.
int UsageError(std::ostream& err, std::string_view problem) {
    err << kProgramName << ": " << problem << "\nRun " << kProgramName
        << " --help for more information.\n";
    return 2;
}

class PrintedStatus final : public StatusText {
  public:
    void SetText(std::string_view text) override { text_ = text; }
    [[nodiscard]] const std::string& text() const noexcept { return text_; }

  private:
    std::string text_;
};

// A follower's messages, one a line.
class ToStandardError final : public FollowMessages {
  public:
    explicit ToStandardError(std::ostream& err) : err_(err) {}
    void Say(std::string_view message) override {
        err_ << kProgramName << ": " << message << std::endl;
    }

  private:
    std::ostream& err_;
};

}  // namespace

int RunConvertCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                      bool errIsTerminal) {
    CLI::App app(
        "Converts a persistence log into tsry.nss, the script that restores every "
        "variable it holds.",
        kProgramName);
    std::vector<std::string> logs;
    std::string output;
    std::string keep;
    bool count = false;
    bool list = false;
    std::size_t recordsPerPart = 0;
    bool oneMain = false;
    bool forceProgress = false;
    bool reportReading = false;
    bool follow = false;
    double every = 10;
    app.add_option("LOG", logs,
                   "The logs to convert (or to count, with --count), read one after another as "
                   "one log; a folder stands for every file beneath it, oldest first; gzip logs "
                   "are decompressed; - for standard input")
        ->required();
    auto* outputOption =
        app.add_option("-o,--output", output,
                       "Write the script to FILE instead of ./tsry.nss (- for standard output); "
                       "with --list, the list instead of standard output")
            ->option_text("FILE")
            ->check(CheckNotAnOption, "");
    auto* keepOption =
        app.add_option("--keep", keep,
                       "Keep every variable ever read in the archive FILE: read it first, as the "
                       "earliest of the logs, then replace it with what it and the logs hold, as "
                       "the list --list writes; a later run reads it again, so values outlive "
                       "the logs that held them")
            ->option_text("FILE")
            ->check(CheckNotAnOption, "");
    auto* partsOption =
        app.add_option("--parts", recordsPerPart,
                       "Restore in parts of at most N records each, which the script runs one "
                       "after another, so that the game's instruction limit applies to each part "
                       "(by default 2000, once there are more than 4096 variables)")
            ->option_text("N")
            ->check(CheckWholeNumber, "");
    auto* oneMainFlag =
        app.add_flag("--one-main", oneMain,
                     "Restore every variable in one main, however many there are, for a server "
                     "whose instruction limit is raised")
            ->excludes(partsOption);
    auto* countFlag =
        app.add_flag("--count", count, "Print the number of lines of the logs and exit")
            ->excludes(outputOption)
            ->excludes(keepOption)
            ->excludes(partsOption)
            ->excludes(oneMainFlag);
    auto* listFlag =
        app.add_flag("--list", list,
                     "Write no script: list every variable, in the order the script would restore "
                     "them, as tab-separated values (name, kind, value, extra1-3, source)")
            ->excludes(partsOption)
            ->excludes(oneMainFlag)
            ->excludes(countFlag);
    auto* followFlag =
        app.add_flag("--follow", follow,
                     "Stay running after the logs' end: read what the server adds, read a log "
                     "started anew (or replaced, or rotated) again, and keep the script and the "
                     "--keep archive current until stopped by SIGTERM, SIGINT or SIGHUP (or the "
                     "end of standard input), writing them once more then")
            ->excludes(countFlag)
            ->excludes(listFlag);
    app.add_option("--every", every,
                   "With --follow, write the script and the archive at most once every SECONDS "
                   "(fractions allowed; 0 writes as soon as new records arrive; default 10)")
        ->option_text("SECONDS")
        ->check(CLI::NonNegativeNumber)
        ->needs(followFlag);
    // For tests and benchmarks: progress as on a terminal, and the way the
    // log was read.
    app.add_flag("--progress", forceProgress)->group("");
    app.add_flag("--report-reading", reportReading)->group("");
    app.set_version_flag("--version", std::string(kProgramName) + " " + TSRY_VERSION);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help, --version
        return UsageError(err, UsageProblem(app, e));
    }
    if (keepOption->count() > 0 && keep.empty()) {
        return UsageError(err, "--keep: name the archive FILE");
    }
    if (std::count(logs.begin(), logs.end(), std::string(platform::kStandardInput)) > 1) {
        return UsageError(err, "- (standard input) can stand only once among the logs");
    }
    try {
        LogSet set;
        for (const std::string& log : logs) set.push_back(PathFromUtf8(log));
        if (count) {
            // The lines a conversion reads: a folder's tsry.nss is no log.
            out << CountFileLines(ExpandLogSetFor(set, kDefaultScriptName)) << '\n';
            return 0;
        }
        // The logs are read once: progress follows the reading itself, so
        // that no count goes before it (a pipe could not be read twice).
        TerminalProgress terminal(err);
        NoProgress none;
        ProgressSink& progress =
            errIsTerminal || forceProgress ? static_cast<ProgressSink&>(terminal) : none;
        if (list) {
            const std::filesystem::path listPath =
                PathFromUtf8(output.empty() ? std::string(kStandardOutput) : output);
            const std::size_t names = ListLogs(set, progress, listPath, PathFromUtf8(keep));
            if (!output.empty() && output != kStandardOutput) {
                out << "Listing complete, " << names << (names == 1 ? " variable" : " variables")
                    << " in " << output << ".\n";
            }
            return 0;
        }
        PrintedStatus status;
        const std::filesystem::path outputPath =
            PathFromUtf8(output.empty() ? std::string(kDefaultScriptName) : output);
        ScriptLayout layout;
        if (recordsPerPart != 0) layout.recordsPerPart = recordsPerPart;
        if (oneMain) layout.recordsPerPart = 0;
        if (follow) {
            if (output == kStandardOutput) {
                return UsageError(err, "--follow keeps a file current: give -o a file, not -");
            }
            FollowSettings settings{set, outputPath, PathFromUtf8(keep), layout, every};
            ToStandardError messages(err);
            FollowLogs(settings, messages);
            return 0;
        }
        const ConversionSummary summary =
            ParseLog(set, std::nullopt, progress, status, outputPath, layout, PathFromUtf8(keep));
        if (reportReading) {
            err << "reading: " << ReadingWayName(ChosenReadingWay()) << '\n'
                << "scans: " << LineScansName() << '\n';
        }
        // Standard output may be where the script itself went. The status's
        // lines on one line.
        std::ostream& told = summary.direct ? err : out;
        std::string said = status.text();
        std::replace(said.begin(), said.end(), '\n', ' ');
        told << said << '\n';
        for (const std::string& note : summary.notes) {
            told << std::flush;
            err << kProgramName << ": note: " << note << '\n';
        }
        if (summary.parts == 0 && summary.groups > ScriptLayout::kMostGroupsInOneMain) {
            told << std::flush;
            err << kProgramName << ": note: the script restores " << summary.groups
                << " variables in one go; the game may stop a script that long before its end "
                   "unless its instruction limit is raised. --parts "
                << ScriptLayout::kRecordsPerPartBySize
                << " splits it into parts that run one after another.\n";
        }
        return 0;
    } catch (const ConversionError& e) {
        err << kProgramName << ": " << e.what() << '\n';
        return 1;
    }
}

}  // namespace tsry
