// Record extraction and the table, through the whole conversion, on arbitrary
// bytes and read boundaries. Checks: the script is byte for byte the plain
// model's (or both fail at the same line); every line ends with CR LF; and the
// statement groups name, in order of first appearance, exactly the names whose
// newest record is of one of the four kinds.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "fuzz/fuzz_input.h"
#include "tests/model.h"

namespace {

class StringSink final : public tsry::ByteSink {
  public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// The literal that starts right after `prefix` at the start of `line`, with
// its escapes undone; false if the line does not start so or it is not closed.
bool LiteralAfter(std::string_view line, std::string_view prefix, std::string& out) {
    if (line.substr(0, prefix.size()) != prefix) return false;
    out.clear();
    for (std::size_t i = prefix.size(); i < line.size(); ++i) {
        if (line[i] == '\\') {
            if (++i == line.size()) return false;
            if (line[i] != '"' && line[i] != '\\') return false;  // only these are escaped
            out += line[i];
        } else if (line[i] == '"') {
            return true;
        } else {
            out += line[i];
        }
    }
    return false;
}

// Names in order of first appearance whose newest record writes a group,
// worked out without the engine's table.
std::vector<std::string> ExpectedNames(const std::string& log) {
    std::vector<std::string> names;
    std::vector<std::string> kinds;
    for (const std::string& line : tsry::model::ModelLines(log)) {
        std::size_t pos = line.find("<TS_RY>");
        if (pos == std::string::npos) continue;
        pos += 7;
        const std::size_t kindEnd = line.find('#', pos);
        const std::size_t nameEnd = line.find('#', kindEnd + 1);
        const std::string kind = line.substr(pos, kindEnd - pos);
        const std::string name = line.substr(kindEnd + 1, nameEnd - kindEnd - 1);
        std::size_t i = 0;
        while (i < names.size() && names[i] != name) ++i;
        if (i == names.size()) {
            names.push_back(name);
            kinds.push_back(kind);
        } else {
            kinds[i] = kind;
        }
    }
    std::vector<std::string> writing;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (kinds[i] == "INT" || kinds[i] == "STR" || kinds[i] == "FLT" || kinds[i] == "LOC") {
            writing.push_back(names[i]);
        }
    }
    return writing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const tsry::fuzz::Input input = tsry::fuzz::SplitInput(bytes, size);
    const tsry::model::ModelResult expected = tsry::model::Model(input.data);

    // Lines that span pieces condensed from a few bytes on, as long lines are.
    tsry::detail::CondenseFrom() = 1 + input.data.size() % 16;
    tsry::fuzz::PieceSource source(input);
    tsry::LineReader reader(source, tsry::LineDetail::kRecordsOnly);
    StringSink sink;
    tsry::NoProgress progress;
    std::uint64_t failedLine = 0;
    try {
        tsry::ConvertLog(reader, sink, progress);
    } catch (const tsry::ConversionError& e) {
        const std::string message = e.what();
        TSRY_FUZZ_CHECK(message.rfind("line ", 0) == 0);
        failedLine = std::stoull(message.substr(5));
    }
    TSRY_FUZZ_CHECK(failedLine == expected.failedLine);
    if (failedLine != 0) return 0;
    TSRY_FUZZ_CHECK(sink.text == expected.script);

    // Every line ends with CR LF, and no CR or LF stands anywhere else.
    const std::string& script = sink.text;
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < script.size();) {
        const std::size_t end = script.find_first_of("\r\n", start);
        TSRY_FUZZ_CHECK(end != std::string::npos && script[end] == '\r');
        TSRY_FUZZ_CHECK(end + 1 < script.size() && script[end + 1] == '\n');
        lines.emplace_back(script.data() + start, end - start);
        start = end + 2;
    }

    // One group per name, in order: each ends with its SetTSRY call line.
    std::vector<std::string> named;
    std::string name;
    for (std::string_view line : lines) {
        for (std::string_view call : {"    SetTSRYInt(\"", "    SetTSRYString(\"",
                                      "    SetTSRYFloat(\"", "    SetTSRYLocationC(\""}) {
            if (line.substr(0, call.size()) == call) {
                TSRY_FUZZ_CHECK(LiteralAfter(line, call, name));
                named.push_back(name);
            }
        }
    }
    TSRY_FUZZ_CHECK(named == ExpectedNames(input.data));
    return 0;
}
