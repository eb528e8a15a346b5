// tsry-convert on Windows: the command line read as UTF-16 and handed on as
// UTF-8; messages written to the console as UTF-8.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "conversion/platform/platform.h"

namespace {

std::string Utf8(const wchar_t* text) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetConsoleOutputCP(CP_UTF8);
    // Stopped by Ctrl+C, Ctrl+Break or the console closed, it removes its
    // temporary file first.
    tsry::platform::InstallStopHandlers();
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(Utf8(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    return tsry::RunConvertCommand(argc, pointers.data(), std::cout, std::cerr,
                                   ::_isatty(::_fileno(stderr)) != 0);
}
