#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/parse_log.h"

// What the window's two commands do, once for every window toolkit. A window
// creates its controls, hands them to FormCommands through FormControls, and
// forwards the clicks on Browse and Parse, and the logs dropped on it or
// given on its command line; everything else is here, so that the windows
// cannot drift apart. Text is UTF-8 throughout, but for paths, which are as
// PathText gives them: UTF-8 on Windows, the system's own bytes on POSIX,
// which need not be valid UTF-8.

namespace tsry {

// The controls of the main window, as the commands use them.
class FormControls {
  public:
    virtual ~FormControls() = default;

    // Shows the open-file dialog at its defaults, where several logs can be
    // picked; the paths chosen, or nothing when the user cancels.
    virtual std::optional<std::vector<std::string>> ChooseLogs() = 0;
    // The path field, txtImportFile.
    [[nodiscard]] virtual std::string PathText() const = 0;
    virtual void SetPathText(std::string_view text) = 0;
    // The status line, lblInfo, and its tooltip.
    virtual void SetStatus(std::string_view text) = 0;
    virtual void SetStatusTip(std::string_view text) = 0;
    // The progress bar, as a conversion run drives it.
    virtual ProgressSink& Bar() = 0;
    // Tells the user what went wrong, in a message box over the window.
    virtual void ShowError(std::string_view message) = 0;
};

class FormCommands {
  public:
    explicit FormCommands(FormControls& controls) : controls_(controls) {}

    // Browse: choose logs, then UseLogs. A cancel changes nothing.
    void CountLogLines();
    // What Browse does with the logs chosen, and what a window does with
    // logs dropped on it or given on its command line: puts them in the order
    // they are read, oldest modification first (SortOldestFirst), shows them
    // in the path field (FieldText) and the total line count of the set in
    // the status line: the lines Parse reads (a folder's tsry.nss is none). A set that cannot be
    // counted shows the error, and the count and status stay as they were. No paths: nothing
    // changes.
    void UseLogs(std::vector<std::string> paths);
    // Parse: convert the logs named in the path field (LogsInField) into
    // tsry.nss in the current folder, read one after another as one log, the
    // bar's range sized by the last count. A failure shows the error and
    // hides the bar; the status stays as it was.
    void ParseLog();

    // The line count of the last Browse (or UseLogs); empty until the first
    // one succeeds.
    [[nodiscard]] std::optional<std::uint64_t> lineCount() const noexcept { return lineCount_; }

  private:
    FormControls& controls_;
    std::optional<std::uint64_t> lineCount_;
};

// The status after Browse: the count followed by " records.".
[[nodiscard]] std::string RecordsText(std::uint64_t lines);

// The logs the path field names. Leading and trailing spaces aside, text that
// starts with a double quote is a list, as Windows' file-name box shows
// several files and Explorer's "Copy as path" gives one: each path in double
// quotes, the paths separated by spaces; a quote left open runs to the end of
// the text, a word outside quotes is a path of its own (it ends at a space or
// a quote), and empty quotes name nothing. Any other text is one path, exactly
// as it stands, spaces and all: a log or a folder. Never empty: a list that
// names nothing is one empty path, which Parse cannot open.
[[nodiscard]] std::vector<std::string> LogsInField(std::string_view text);
// The path field's text for `logs`: one path as it is; several each in double
// quotes, separated by a space; none, empty. LogsInField reads it back, but
// for a path holding a double quote, which a set cannot show (Windows' names
// hold none), or one path that starts with spaces and a quote.
[[nodiscard]] std::string FieldText(const std::vector<std::string>& logs);

// What a progress bar shows of a conversion run: the value's share of the
// range, in thousandths (any count fits), or a busy bar when the range is
// empty; and when to paint it, since the run holds the window's thread: only
// when what it shows has changed, and at most every kPaintInterval
// milliseconds, so that a long run moves the bar smoothly and painting costs
// the run next to nothing.
class BarScale {
  public:
    static constexpr int kResolution = 1000;
    static constexpr int kPaintInterval = 50;

    void SetMinimum(double value) noexcept { minimum_ = value; }
    void SetMaximum(double value) noexcept { maximum_ = value; }
    void SetValue(double value) noexcept;

    // A range maximum of 0 (no count yet, or an empty log): a busy bar.
    [[nodiscard]] bool busy() const noexcept { return !(maximum_ - minimum_ > 0); }
    // 0 to kResolution; a value past the maximum shows a full bar.
    [[nodiscard]] int shown() const noexcept;
    // The last step count the run reported.
    [[nodiscard]] std::uint64_t progressCount() const noexcept { return progressCount_; }

    // Whether to paint what is shown now; true starts a new interval.
    [[nodiscard]] bool PaintDue() noexcept;
    // Painted now, whatever the pace.
    void Painted() noexcept;

  private:
    double minimum_ = 0;
    double maximum_ = 0;
    double value_ = 0;
    std::uint64_t progressCount_ = 0;
    int painted_ = -2;  // what was painted last: -1 busy
    std::int64_t paintedAt_ = 0;
};

// A progress bar that shows what BarScale says: a window's bar implements
// Redraw() (and Show and Hide) for its toolkit.
class ScaledBar : public ProgressSink {
  public:
    void SetMinimum(double value) override {
        scale_.SetMinimum(value);
        Redraw();
    }
    void SetMaximum(double value) override {
        scale_.SetMaximum(value);
        Redraw();
    }
    void SetValue(double value) override {
        scale_.SetValue(value);
        Redraw();
    }

    // The last step count the run reported.
    [[nodiscard]] std::uint64_t progressCount() const noexcept { return scale_.progressCount(); }

  protected:
    // Brings the bar up to date with scale_, painting it if that is due.
    virtual void Redraw() = 0;

    BarScale scale_;
};

}  // namespace tsry
