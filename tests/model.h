#pragma once

// A plain model of the conversion, written for clarity alone: a byte-at-a-time
// line splitter, a linear-scan table and string concatenation. The tests and
// the fuzz targets hold the engine to it. Floats are written as the literals
// that FloatLiterals chooses, which has tests of its own.

#include <cstdint>
#include <string>
#include <vector>

namespace tsry::model {

struct ModelResult {
    std::string script;
    std::uint64_t failedLine = 0;  // the line of the first error; 0 on success
};

std::vector<std::string> ModelLines(const std::string& log);
// `text` as the string literals of the script, quotes included: escaped,
// and cut into literals of at most `limit` bytes joined by " + ".
std::string Quoted(const std::string& text, std::size_t limit = 8191);
// Whether `text` may be written as it stands.
bool IsPlain(const std::string& text);
// Whether `text` may stand in a float field: a decimal number (spaces, a sign
// and spaces, digits with a point, spaces) whose nearest float is finite, or
// a name between spaces.
bool IsFloatField(const std::string& text);
// The script of `log`, its literals at most `literalLimit` bytes long, or the
// line of the first error.
ModelResult Model(const std::string& log, std::size_t literalLimit = 8191);

// The lines of several logs read one after another, each file's last line
// ending with its file, as one log (every line ended by LF).
std::string JoinedLogs(const std::vector<std::string>& logs);

// The rows that list the variables of the logs named `paths` (holding
// `logs`): a header, then name, kind, value, extras and PATH:LINE of the
// newest record of every name, in order of first appearance, tab-separated.
std::string ModelList(const std::vector<std::string>& paths, const std::vector<std::string>& logs);

// The 13 opening lines and the 2 closing lines of every script.
std::string ScriptOpening();
std::string ScriptClosing();

}  // namespace tsry::model
