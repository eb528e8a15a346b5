#include "window/form_commands.h"

#include <chrono>
#include <filesystem>

#include "conversion/conversion_error.h"
#include "conversion/log_halves.h"
#include "conversion/open_log.h"

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

std::int64_t NowInMilliseconds() noexcept {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string RecordsText(std::uint64_t lines) { return std::to_string(lines) + " records."; }

void FormCommands::CountLogLines() {
    const std::optional<std::string> chosen = controls_.ChooseLog();
    if (!chosen) return;  // cancelled: everything stays as it was
    controls_.SetPathText(*chosen);
    try {
        // The path as the field holds it now.
        const std::uint64_t lines = CountFileLines(PathFromUtf8(controls_.PathText()));
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
        tsry::ParseLog(PathFromUtf8(controls_.PathText()), lineCount_, controls_.Bar(), status,
                       output);
        controls_.SetStatusTip(PathText(std::filesystem::absolute(output).make_preferred()));
    } catch (const ConversionError& e) {
        controls_.Bar().Hide();
        controls_.ShowError(e.what());
    }
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
