#include "window/form_commands.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>

#include "conversion/platform/conversion_error.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"

namespace tsry {

namespace {

// The status line, as the conversion run sees it.
class StatusLine final : public StatusText {
  public:
    explicit StatusLine(FormControls& controls) : controls_(controls) {}
    void SetText(std::string_view text) override { controls_.SetStatus(text); }

  private:
    FormControls& controls_;
};

// Paths of the field, for the engine.
LogSet FieldLogs(const std::vector<std::string>& paths) {
    LogSet logs;
    logs.reserve(paths.size());
    for (const std::string& path : paths) logs.push_back(PathFromUtf8(path));
    return logs;
}

std::int64_t NowInMilliseconds() noexcept {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string RecordsText(std::uint64_t lines) { return std::to_string(lines) + " records."; }

void FormCommands::CountLogLines() {
    std::optional<std::vector<std::string>> chosen = controls_.ChooseLogs();
    if (!chosen) return;  // cancelled: everything stays as it was
    UseLogs(std::move(*chosen));
}

void FormCommands::UseLogs(std::vector<std::string> paths) {
    if (paths.empty()) return;
    LogSet logs = FieldLogs(paths);
    SortOldestFirst(logs);
    for (std::size_t i = 0; i < logs.size(); ++i) paths[i] = PathText(logs[i]);
    controls_.SetPathText(FieldText(paths));
    try {
        // The set as the field holds it now, as Parse reads it.
        const std::uint64_t lines = CountFileLines(
            ExpandLogSetFor(FieldLogs(LogsInField(controls_.PathText())), kDefaultScriptName));
        lineCount_ = lines;
        controls_.SetStatus(RecordsText(lines));
    } catch (const ConversionError& e) {
        controls_.ShowError(e.what());
    }
}

void FormCommands::ParseLog() {
    const std::filesystem::path output(kDefaultScriptName);
    StatusLine status(controls_);
    try {
        tsry::ParseLog(FieldLogs(LogsInField(controls_.PathText())), lineCount_, controls_.Bar(),
                       status, output);
        controls_.SetStatusTip(PathText(std::filesystem::absolute(output).make_preferred()));
    } catch (const ConversionError& e) {
        controls_.Bar().Hide();
        controls_.ShowError(e.what());
    }
}

std::vector<std::string> LogsInField(std::string_view text) {
    constexpr std::string_view kSpaces = " \t";
    const std::size_t start = text.find_first_not_of(kSpaces);
    if (start == std::string_view::npos || text[start] != '"') return {std::string(text)};
    text = text.substr(0, text.find_last_not_of(kSpaces) + 1);  // spaces after the list aside
    std::vector<std::string> logs;
    std::size_t at = start;
    while (at < text.size()) {
        if (kSpaces.find(text[at]) != std::string_view::npos) {
            ++at;
        } else if (text[at] == '"') {
            // A quoted path, up to the closing quote or the end.
            const std::size_t close = std::min(text.find('"', at + 1), text.size());
            if (close > at + 1) logs.emplace_back(text.substr(at + 1, close - at - 1));
            at = close + 1;
        } else {
            // A word outside quotes, up to a space or a quote.
            const std::size_t end = std::min(text.find_first_of(" \t\"", at), text.size());
            logs.emplace_back(text.substr(at, end - at));
            at = end;
        }
    }
    if (logs.empty()) logs.emplace_back();
    return logs;
}

std::string FieldText(const std::vector<std::string>& logs) {
    if (logs.size() == 1) return logs.front();
    std::string text;
    for (const std::string& log : logs) {
        if (!text.empty()) text += ' ';
        text += '"';
        text += log;
        text += '"';
    }
    return text;
}

void BarScale::SetValue(double value) noexcept {
    value_ = value;
    progressCount_ = value > 0 ? static_cast<std::uint64_t>(value) : 0;
}

int BarScale::shown() const noexcept {
    if (busy()) return 0;
    const double share = (value_ - minimum_) / (maximum_ - minimum_);
    return share <= 0 ? 0 : share >= 1 ? kResolution : static_cast<int>(share * kResolution);
}

bool BarScale::PaintDue() noexcept {
    const int now = busy() ? -1 : shown();
    if (now == painted_ || NowInMilliseconds() - paintedAt_ < kPaintInterval) return false;
    Painted();
    return true;
}

void BarScale::Painted() noexcept {
    painted_ = busy() ? -1 : shown();
    paintedAt_ = NowInMilliseconds();
}

}  // namespace tsry
