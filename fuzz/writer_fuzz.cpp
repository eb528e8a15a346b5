// The script writer on arbitrary fields: every line ends with CR LF, every
// literal it writes is closed, escaped and reads back as the field it came
// from, and the verbatim fields stand exactly where they belong.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conversion/conversion_error.h"
#include "conversion/script_writer.h"
#include "fuzz/fuzz_input.h"

namespace {

class StringSink final : public tsry::ByteSink {
  public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// Reads a literal at `pos` (just after its opening quote) up to its closing
// quote, undoing the escapes; moves `pos` past the closing quote.
bool ReadLiteral(const std::string& text, std::size_t& pos, std::string& out) {
    out.clear();
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '\r' || c == '\n') return false;
        if (c == '\\') {
            if (++pos == text.size() || (text[pos] != '"' && text[pos] != '\\')) return false;
            out += text[pos];
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

// Expects `literal` text at `pos`; moves past it.
bool Expect(const std::string& text, std::size_t& pos, std::string_view literal) {
    if (text.compare(pos, literal.size(), literal) != 0) return false;
    pos += literal.size();
    return true;
}

bool Quoted(const std::string& text, std::size_t& pos, std::string_view field) {
    std::string read;
    return Expect(text, pos, "\"") && ReadLiteral(text, pos, read) && read == field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 7) return 0;
    // A kind byte, five field lengths, then the fields' bytes; lines never hold
    // a CR or LF, so neither do fields.
    static constexpr std::string_view kKinds[] = {"INT", "STR", "FLT", "LOC", "OBJ", "int"};
    const std::string_view kind = kKinds[bytes[0] % 6];
    std::string rest(reinterpret_cast<const char*>(bytes) + 6, size - 6);
    for (char& c : rest) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    std::string_view fields[5];
    std::size_t pos = 0;
    for (int k = 0; k < 5; ++k) {
        const std::size_t length = std::min<std::size_t>(bytes[1 + k], rest.size() - pos);
        fields[k] = std::string_view(rest).substr(pos, k == 1 ? rest.size() - pos : length);
        if (k == 1)
            fields[k] = fields[k].substr(0, std::min<std::size_t>(length * 4, fields[k].size()));
        pos += fields[k].size();
    }
    const tsry::LogRecord record{kind, fields[0], fields[1], fields[2], fields[3], fields[4]};

    StringSink sink;
    tsry::ScriptWriter writer(sink);
    std::size_t stars = 0;
    for (char c : record.Value) stars += c == '*';
    try {
        writer.WriteRecord(record, 42);
        writer.Flush();
    } catch (const tsry::ConversionError& e) {
        TSRY_FUZZ_CHECK(kind == "LOC" && stars < 5);
        TSRY_FUZZ_CHECK(std::string(e.what()).rfind("line 42: the location of variable \"", 0) ==
                        0);
        writer.Flush();
        TSRY_FUZZ_CHECK(sink.text.empty());
        return 0;
    }
    const std::string& out = sink.text;
    if (kind != "INT" && kind != "STR" && kind != "FLT" && kind != "LOC") {
        TSRY_FUZZ_CHECK(out.empty());
        return 0;
    }
    std::size_t at = 0;
    auto extras = [&] {
        return Expect(out, at, ", ") && Expect(out, at, record.Extra1) && Expect(out, at, ", ") &&
               Expect(out, at, record.Extra2) && Expect(out, at, ", ") &&
               Expect(out, at, record.Extra3) && Expect(out, at, ");\r\n");
    };
    if (kind == "INT" || kind == "FLT") {
        TSRY_FUZZ_CHECK(Expect(out, at, kind == "INT" ? "    SetTSRYInt(" : "    SetTSRYFloat("));
        TSRY_FUZZ_CHECK(Quoted(out, at, record.Name));
        TSRY_FUZZ_CHECK(Expect(out, at, ", ") && Expect(out, at, record.Value));
        TSRY_FUZZ_CHECK(extras());
    } else if (kind == "STR") {
        TSRY_FUZZ_CHECK(Expect(out, at, "    SetTSRYString("));
        TSRY_FUZZ_CHECK(Quoted(out, at, record.Name));
        TSRY_FUZZ_CHECK(Expect(out, at, ", "));
        TSRY_FUZZ_CHECK(Quoted(out, at, record.Value));
        TSRY_FUZZ_CHECK(extras());
    } else {
        std::string_view parts[5];
        std::string_view value = record.Value;
        for (auto& part : parts) {
            const std::size_t star = value.find('*');
            part = value.substr(0, star);
            value.remove_prefix(star + 1);
        }
        TSRY_FUZZ_CHECK(Expect(out, at, "    oTYArea=GetObjectByTag("));
        TSRY_FUZZ_CHECK(Quoted(out, at, parts[0]));
        TSRY_FUZZ_CHECK(Expect(out, at, ");\r\n    vTYVector=Vector("));
        TSRY_FUZZ_CHECK(Expect(out, at, parts[1]) && Expect(out, at, ", ") &&
                        Expect(out, at, parts[2]) && Expect(out, at, ", ") &&
                        Expect(out, at, parts[3]) && Expect(out, at, ");\r\n"));
        TSRY_FUZZ_CHECK(Expect(out, at, "    lTYLoc=Location(oTYArea, vTYVector, ") &&
                        Expect(out, at, parts[4]) && Expect(out, at, ");\r\n"));
        TSRY_FUZZ_CHECK(Expect(out, at, "    SetTSRYLocationC("));
        TSRY_FUZZ_CHECK(Quoted(out, at, record.Name));
        TSRY_FUZZ_CHECK(Expect(out, at, ", lTYLoc"));
        TSRY_FUZZ_CHECK(extras());
    }
    TSRY_FUZZ_CHECK(at == out.size());
    return 0;
}
