#pragma once

// A plain model of the conversion, written for clarity alone: a byte-at-a-time
// line splitter, a linear-scan table and string concatenation. The tests and
// the fuzz targets hold the engine to it.

#include <cstdint>
#include <string>
#include <vector>

namespace tsry::model {

struct ModelResult {
    std::string script;
    std::uint64_t failedLine = 0;  // the line of the first error; 0 on success
};

std::vector<std::string> ModelLines(const std::string& log);
std::string Quoted(const std::string& text);
ModelResult Model(const std::string& log);

// The 13 opening lines and the 2 closing lines of every script.
std::string ScriptOpening();
std::string ScriptClosing();

}  // namespace tsry::model
