#include "cli/convert_command.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "conversion/conversion_error.h"
#include "conversion/line_reader.h"
#include "conversion/parse_log.h"

#ifndef TSRY_VERSION
#define TSRY_VERSION "unknown"
#endif

namespace tsry {

namespace {

constexpr const char* kProgramName = "tsry-convert";

// More statement groups than this in one main, and the game may stop the
// script before its end.
constexpr std::size_t kGroupsWithoutNote = 4096;
constexpr std::size_t kSuggestedPartSize = 2000;

// A progress bar on a terminal line, redrawn only when the shown percentage
// changes.
class TerminalProgress final : public ProgressSink {
  public:
    explicit TerminalProgress(std::ostream& err) : err_(err) {}

    void SetMinimum(double value) override { minimum_ = value; }
    void SetMaximum(double value) override { maximum_ = value; }
    void SetValue(double value) override {
        value_ = value;
        if (visible_) Draw();
    }
    void Show() override {
        visible_ = true;
        shown_ = -1;
        Draw();
    }
    void Hide() override {
        if (!visible_) return;
        visible_ = false;
        err_ << '\r' << std::string(kWidth + 8, ' ') << '\r' << std::flush;
    }

  private:
    static constexpr int kWidth = 40;

    void Draw() {
        const double span = maximum_ - minimum_;
        int percent = 100;
        if (span > 0) {
            const double share = (value_ - minimum_) / span;
            percent = share <= 0 ? 0 : share >= 1 ? 100 : static_cast<int>(share * 100);
        }
        if (percent == shown_) return;
        shown_ = percent;
        const int filled = percent * kWidth / 100;
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << percent
             << '%' << std::flush;
    }

    std::ostream& err_;
    double minimum_ = 0;
    double maximum_ = 0;
    double value_ = 0;
    int shown_ = -1;
    bool visible_ = false;
};

class PrintedStatus final : public StatusText {
  public:
    void SetText(std::string_view text) override { text_ = text; }
    [[nodiscard]] const std::string& text() const noexcept { return text_; }

  private:
    std::string text_;
};

}  // namespace

int RunConvertCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                      bool errIsTerminal) {
    CLI::App app(
        "Converts a persistence log into tsry.nss, the script that restores every "
        "variable it holds.",
        kProgramName);
    std::string log;
    std::string output(kDefaultScriptName);
    bool count = false;
    std::size_t recordsPerPart = 0;
    app.add_option("LOG", log, "The log to convert (or to count, with --count)")->required();
    auto* outputOption =
        app.add_option("-o,--output", output, "Write the script to FILE instead of ./tsry.nss (- for standard output)")
            ->option_text("FILE");
    auto* partsOption =
        app.add_option("--parts", recordsPerPart,
                       "Restore in parts of at most N records each, which the script runs one "
                       "after another, so that the game's instruction limit applies to each part")
            ->option_text("N")
            ->check(CLI::PositiveNumber);
    app.add_flag("--count", count, "Print the number of lines of LOG and exit")
        ->excludes(outputOption)
        ->excludes(partsOption);
    app.set_version_flag("--version", std::string(kProgramName) + " " + TSRY_VERSION);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? 0 : 2;
    }

    try {
        if (count) {
            out << CountFileLines(log) << '\n';
            return 0;
        }
        PrintedStatus status;
        const ScriptLayout layout{recordsPerPart};
        ConversionSummary summary;
        if (errIsTerminal) {
            const std::uint64_t lines = CountFileLines(log);
            TerminalProgress progress(err);
            summary = ParseLog(log, lines, progress, status, output, layout);
        } else {
            NoProgress progress;
            summary = ParseLog(log, std::nullopt, progress, status, output, layout);
        }
        // Standard output may be where the script itself went.
        std::ostream& told = summary.direct ? err : out;
        told << status.text() << '\n';
        if (summary.parts == 0 && summary.groups > kGroupsWithoutNote) {
            told << std::flush;
            err << kProgramName << ": note: the script restores " << summary.groups
                << " variables in one go; the game may stop a script that long before its end "
                   "unless its instruction limit is raised. --parts "
                << kSuggestedPartSize << " splits it into parts that run one after another.\n";
        }
        return 0;
    } catch (const ConversionError& e) {
        err << kProgramName << ": " << e.what() << '\n';
        return 1;
    } catch (const std::bad_alloc&) {
        err << kProgramName << ": not enough memory for the records of this log\n";
        return 1;
    }
}

}  // namespace tsry
