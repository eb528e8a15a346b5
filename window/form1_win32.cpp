#include "window/form1_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <array>
#include <cwchar>
#include <filesystem>
#include <vector>

#include "conversion/platform/platform.h"

namespace tsry {

namespace {

constexpr wchar_t kClassName[] = L"Form1";
constexpr wchar_t kTitle[] = L"PW Tessary Log Parser";

// The layout, in twips (1440 to the inch; 15 to a pixel at 96 dpi), relative
// to the client area.
constexpr int kClientWidth = 6420;
constexpr int kClientHeight = 1830;
struct Place {
    Win32Form1::Control id;
    int left, top, width, height;
};
constexpr std::array<Place, 6> kPlaces = {{
    {Win32Form1::kLblLogToParse, 0, 0, 4815, 375},
    {Win32Form1::kTxtImportFile, 0, 360, 6255, 375},
    {Win32Form1::kBtnBrowse, 0, 720, 975, 375},
    {Win32Form1::kBtnParse, 1080, 720, 855, 375},
    {Win32Form1::kLblInfo, 2520, 720, 3735, 495},
    {Win32Form1::kProgressBar, 0, 1320, 6375, 375},
}};

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

int Scaled(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }

UINT DpiOf(HWND hwnd) {
    const UINT dpi = hwnd != nullptr ? ::GetDpiForWindow(hwnd) : 0;
    return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                          nullptr, nullptr);
    return utf8;
}

// The bar.

void Win32Bar::Show() {
    ::ShowWindow(bar_, SW_SHOW);
    ::UpdateWindow(bar_);
    scale_.Painted();
}

void Win32Bar::Hide() { ::ShowWindow(bar_, SW_HIDE); }

void Win32Bar::Redraw() {
    if (scale_.busy() != marquee_) {
        marquee_ = scale_.busy();
        const LONG_PTR style = ::GetWindowLongPtrW(bar_, GWL_STYLE);
        ::SetWindowLongPtrW(bar_, GWL_STYLE, marquee_ ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
        ::SendMessageW(bar_, PBM_SETMARQUEE, marquee_ ? TRUE : FALSE, 30);
        if (!marquee_) ::SendMessageW(bar_, PBM_SETRANGE32, 0, BarScale::kResolution);
    }
    if (marquee_) return;
    const int shown = scale_.shown();
    if (static_cast<int>(::SendMessageW(bar_, PBM_GETPOS, 0, 0)) == shown) return;
    if (::IsWindowVisible(bar_) && scale_.PaintDue()) {
        // The themed bar glides to a higher position with the message loop,
        // which the run holds; it jumps to a lower one at once.
        if (shown < BarScale::kResolution) {
            ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(shown + 1), 0);
        }
        ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
        ::UpdateWindow(bar_);
    } else {
        ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
    }
}

// The window.

Win32Form1::Win32Form1(HINSTANCE instance) : instance_(instance), chooser_(&ChooseLogsWithDialog) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32Form1::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);  // fails harmlessly for a second window

    hwnd_ = ::CreateWindowExW(0, kClassName, kTitle, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this);
    if (hwnd_ == nullptr) return;
    CreateControls();
    Layout(DpiOf(hwnd_));
    ::DragAcceptFiles(hwnd_, TRUE);
}

Win32Form1::~Win32Form1() {
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    if (font_ != nullptr) ::DeleteObject(font_);
}

void Win32Form1::CreateControls() {
    auto make = [this](DWORD exStyle, const wchar_t* kind, const wchar_t* text, DWORD style,
                       Control id) {
        return ::CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0,
                                 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 instance_, nullptr);
    };
    // In tab order: Browse, the path field, Parse; then what takes no focus.
    make(0, WC_BUTTONW, L"Browse", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kBtnBrowse);
    make(WS_EX_CLIENTEDGE, WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, kTxtImportFile);
    make(0, WC_BUTTONW, L"Parse", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kBtnParse);
    make(0, WC_STATICW, L"Log to Parse", WS_VISIBLE | SS_LEFT, kLblLogToParse);
    make(0, WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOTIFY, kLblInfo);
    HWND bar = make(0, PROGRESS_CLASSW, nullptr, 0, kProgressBar);  // hidden at start
    ::SendMessageW(bar, PBM_SETRANGE32, 0, BarScale::kResolution);
    bar_.Attach(bar);

    // The full path of the written script, over the status line.
    tooltip_ =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control(kLblInfo));
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Form1::Layout(UINT dpi) {
    RECT frame{0, 0, Scaled(kClientWidth, dpi), Scaled(kClientHeight, dpi)};
    ::AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, dpi);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const Place& place : kPlaces) {
        ::MoveWindow(control(place.id), Scaled(place.left, dpi), Scaled(place.top, dpi),
                     Scaled(place.width, dpi), Scaled(place.height, dpi), TRUE);
    }
    // The system's message font, at this DPI.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    }
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    for (const Place& place : kPlaces) {
        ::SendMessageW(control(place.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (font_ != nullptr) ::DeleteObject(font_);
    font_ = font;
}

bool Win32Form1::HandleDialogKeys(MSG& message) noexcept {
    return hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &message) != FALSE;
}

LRESULT CALLBACK Win32Form1::WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Win32Form1*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        form->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Win32Form1*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) return ::DefWindowProcW(hwnd, message, w, l);
    return form->Handle(message, w, l);
}

LRESULT Win32Form1::Handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(w) == BN_CLICKED) {
                if (LOWORD(w) == kBtnBrowse) {
                    commands_.CountLogLines();
                    return 0;
                }
                if (LOWORD(w) == kBtnParse) {
                    commands_.ParseLog();
                    return 0;
                }
            }
            break;
        case WM_DROPFILES: {
            auto drop = reinterpret_cast<HDROP>(w);
            const std::vector<std::wstring> paths = DroppedFiles(drop);
            ::DragFinish(drop);
            UseLogs(paths);
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(w) == WA_INACTIVE) {
                HWND focused = ::GetFocus();
                if (focused != nullptr && ::IsChild(hwnd_, focused)) lastFocus_ = focused;
            }
            break;
        case WM_SETFOCUS:
            // The focus goes back to the control that had it, Browse at first.
            ::SetFocus(lastFocus_ != nullptr ? lastFocus_ : control(kBtnBrowse));
            return 0;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(l);
            Layout(HIWORD(w));
            ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_ENDSESSION:
            // The session ends, and the program with it, wherever it stands.
            if (w != FALSE) platform::RemoveFilesOfAStop();
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, w, l);
}

void Win32Form1::UseLogs(const std::vector<std::wstring>& paths) {
    std::vector<std::string> logs;
    logs.reserve(paths.size());
    for (const std::wstring& path : paths) logs.push_back(Utf8(path));
    commands_.UseLogs(std::move(logs));
}

std::optional<std::vector<std::string>> Win32Form1::ChooseLogs() {
    const std::optional<std::vector<std::wstring>> chosen = chooser_(hwnd_);
    if (!chosen) return std::nullopt;
    std::vector<std::string> paths;
    paths.reserve(chosen->size());
    for (const std::wstring& path : *chosen) paths.push_back(Utf8(path));
    return paths;
}

std::string Win32Form1::PathText() const {
    HWND field = control(kTxtImportFile);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(field)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

void Win32Form1::SetPathText(std::string_view text) {
    ::SetWindowTextW(control(kTxtImportFile), Wide(text).c_str());
}

void Win32Form1::SetStatus(std::string_view text) {
    // A line of the status ends with CR LF, as Windows breaks text.
    std::wstring lines;
    for (const wchar_t c : Wide(text)) {
        if (c == L'\n') lines += L'\r';
        lines += c;
    }
    ::SetWindowTextW(control(kLblInfo), lines.c_str());
}

void Win32Form1::SetStatusTip(std::string_view text) {
    statusTip_ = Wide(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control(kLblInfo));
    tool.lpszText = statusTip_.data();
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Form1::ShowError(std::string_view message) {
    ::MessageBoxW(hwnd_, Wide(message).c_str(), kTitle, MB_OK | MB_ICONERROR);
}

std::optional<std::vector<std::wstring>> ChooseLogsWithDialog(HWND owner) {
    // No title, filter or folder of our own: the dialog's defaults, with
    // several picks (Ctrl and Shift clicks).
    std::vector<wchar_t> name(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT;
    if (!::GetOpenFileNameW(&dialog)) return std::nullopt;  // cancelled
    return ChosenFiles(name.data());
}

std::vector<std::wstring> ChosenFiles(const wchar_t* buffer) {
    const std::wstring first(buffer);
    const wchar_t* next = buffer + first.size() + 1;
    if (*next == L'\0') return {first};  // one file: its full path
    std::wstring folder = first;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    std::vector<std::wstring> files;
    for (const wchar_t* name = next; *name != L'\0'; name += std::wcslen(name) + 1) {
        // Names typed as full paths may come back whole (Wine's dialog
        // returns them so): each is then taken as it is.
        const std::filesystem::path given(name);
        files.push_back(given.has_root_name() || given.has_root_directory() ? std::wstring(name)
                                                                            : folder + name);
    }
    return files;
}

std::vector<std::wstring> LogsOfCommandLine(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine, &count);
    if (words == nullptr) return {};
    std::vector<std::wstring> logs(words + (count > 0 ? 1 : 0), words + count);
    ::LocalFree(words);
    return logs;
}

std::vector<std::wstring> DroppedFiles(HDROP drop) {
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::wstring> files;
    files.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        files.push_back(std::move(path));
    }
    return files;
}

int RunMessageLoop(Win32Form1& form) {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (form.HandleDialogKeys(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace tsry
