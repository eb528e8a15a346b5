// tsry-log-parser.exe: the window, as a native Windows program.
#include <windows.h>

#include <commctrl.h>

#include "conversion/platform/platform.h"
#include "window/form1_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command*/, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES |
                                                       ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&controls);
    tsry::platform::InstallStopHandlers();
    tsry::Win32Form1 form(instance);
    if (form.hwnd() == nullptr) return 1;
    ::ShowWindow(form.hwnd(), show);
    ::UpdateWindow(form.hwnd());
    ::SetFocus(form.control(tsry::Win32Form1::kBtnBrowse));
    // Logs given on the command line, as Windows gives the files dropped on
    // the program's icon: shown and counted as Browse does.
    form.UseLogs(tsry::LogsOfCommandLine(::GetCommandLineW()));
    return tsry::RunMessageLoop(form);
}
