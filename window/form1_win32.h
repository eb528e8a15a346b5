#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// The program's one window as a native Win32 window, Form1: the paths of the
// logs, Browse to choose and count them, Parse to convert them into tsry.nss,
// a progress bar and a status line; files dropped on it (WM_DROPFILES) are
// used as Browse uses the logs chosen. What the commands do is FormCommands';
// this creates the controls, lays them out for the monitor's DPI and forwards
// the clicks and the drops.
class Win32Form1 final : private FormControls {
  public:
    // Asks the user for logs; nothing when the user cancels.
    using FileChooser = std::function<std::optional<std::vector<std::wstring>>(HWND owner)>;

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

    // Shows logs as Browse shows the logs chosen: those given on the command
    // line (a log dropped on the program's icon), or dropped on the window.
    void UseLogs(const std::vector<std::wstring>& paths);

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
    std::optional<std::vector<std::string>> ChooseLogs() override;
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

// The default chooser: the common open-file dialog at its defaults, where
// several files can be picked.
std::optional<std::vector<std::wstring>> ChooseLogsWithDialog(HWND owner);

// The files an Explorer-style open-file dialog with several picks returns in
// its buffer: the folder, then each name, each ended by a NUL, with a second
// NUL at the end (a name that is a full path of its own is taken whole); or
// one full path, when one file is picked.
std::vector<std::wstring> ChosenFiles(const wchar_t* buffer);

// The logs a command line gives the program (CommandLineToArgvW's words after
// the program's own name): the files dropped on its icon, or typed.
std::vector<std::wstring> LogsOfCommandLine(const wchar_t* commandLine);

// The files of a drop (WM_DROPFILES), in the order dropped.
std::vector<std::wstring> DroppedFiles(HDROP drop);

// Runs the message loop until the window is closed; the program's exit code.
int RunMessageLoop(Win32Form1& form);

// UTF-8 and UTF-16, as the engine and the system want them.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace tsry
