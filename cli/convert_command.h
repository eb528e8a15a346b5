#pragma once

#include <ostream>

namespace tsry {

// The command-line converter: parses the arguments, runs the conversion or
// the line count, and returns the process's exit status: 0 on success, 1 when
// the conversion fails, 2 for a usage error. Progress is drawn on `err` only
// when `errIsTerminal`. The arguments are UTF-8.
int RunConvertCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                      bool errIsTerminal);

}  // namespace tsry
