#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "window/form_commands.h"

namespace tsry {

// The common-controls progress bar, driven from a conversion run as BarScale
// says: thousandths of the range, a marquee for an empty range, repainted at
// once (the run holds the window's thread) but at BarScale's pace.
class Win32Bar final : public ScaledBar {
  public:
    void Attach(HWND bar) noexcept { bar_ = bar; }

    void Show() override;
    void Hide() override;

  private:
    void Redraw() override;

    HWND bar_ = nullptr;
    bool marquee_ = false;
};

// The program's one window as a native Win32 window, Form1: the path of the
// log, Browse to choose and count it, Parse to convert it into tsry.nss, a
// progress bar and a status line. What the two commands do is FormCommands';
// this creates the controls, lays them out for the monitor's DPI and forwards
// the clicks.
class Win32Form1 final : private FormControls {
  public:
    // Asks the user for a log; nothing when the user cancels.
    using FileChooser = std::function<std::optional<std::wstring>(HWND owner)>;

    // The controls' ids, in tab order where they take the focus.
    enum Control : int {
        kBtnBrowse = 101,
        kTxtImportFile,
        kBtnParse,
        kLblLogToParse,
        kLblInfo,
        kProgressBar,
    };

    explicit Win32Form1(HINSTANCE instance);
    ~Win32Form1() override;
    Win32Form1(const Win32Form1&) = delete;
    Win32Form1& operator=(const Win32Form1&) = delete;

    [[nodiscard]] HWND hwnd() const noexcept { return hwnd_; }
    [[nodiscard]] HWND control(Control id) const noexcept { return ::GetDlgItem(hwnd_, id); }

    // Replaces the open-file dialog, for tests.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    [[nodiscard]] std::optional<std::uint64_t> lineCount() const noexcept {
        return commands_.lineCount();
    }
    [[nodiscard]] std::uint64_t progressCount() const noexcept { return bar_.progressCount(); }
    // The tooltip of the status line.
    [[nodiscard]] const std::wstring& statusTip() const noexcept { return statusTip_; }

    // Hands a message of the loop to the window's keyboard handling (Tab,
    // Space, Enter); true when it took it.
    bool HandleDialogKeys(MSG& message) noexcept;

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);
    void CreateControls();
    // Positions and font for `dpi` dots per inch.
    void Layout(UINT dpi);

    // FormControls
    std::optional<std::string> ChooseLog() override;
    [[nodiscard]] std::string PathText() const override;
    void SetPathText(std::string_view text) override;
    void SetStatus(std::string_view text) override;
    void SetStatusTip(std::string_view text) override;
    ProgressSink& Bar() override { return bar_; }
    void ShowError(std::string_view message) override;

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT font_ = nullptr;
    HWND lastFocus_ = nullptr;  // the control with the focus when the window lost it
    std::wstring statusTip_;
    Win32Bar bar_;
    FileChooser chooser_;
    FormCommands commands_{*this};
};

// The default chooser: the common open-file dialog, at its defaults.
std::optional<std::wstring> ChooseLogWithDialog(HWND owner);

// Runs the message loop until the window is closed; the program's exit code.
int RunMessageLoop(Win32Form1& form);

// UTF-8 and UTF-16, as the engine and the system want them.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace tsry
