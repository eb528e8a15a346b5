#include <unistd.h>

#include <iostream>

#include "cli/convert_command.h"

int main(int argc, char** argv) {
    return tsry::RunConvertCommand(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
