#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "cli/convert_command.h"
#include "conversion/platform/platform.h"

int main(int argc, char** argv) {
    // A write past a file size limit then fails with its error, which removes
    // the temporary file, instead of killing the program.
    ::signal(SIGXFSZ, SIG_IGN);
    // Stopped by a signal, it removes its temporary file first.
    tsry::platform::InstallStopHandlers();
    return tsry::RunConvertCommand(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
