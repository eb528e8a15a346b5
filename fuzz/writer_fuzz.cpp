// The script writer on arbitrary fields, read back as the game's compiler
// would read it. Either writing fails with the error of a field that cannot
// be written (and only then), or every statement group is exactly the calls
// it should be: the expected function with the expected number of arguments,
// its string literals (decoded by the compiler's escape rules and joined
// where " + " joins them) equal to the fields, no literal longer than the
// limit, and the fields written as they stand equal to the fields, but for
// floats, which must be numbers or names, and a number is what FloatLiterals
// chooses, which the game turns into the field's nearest float.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "conversion/script/float_literal.h"
#include "conversion/script/script_writer.h"
#include "fuzz/fuzz_input.h"
#include "tests/model.h"

namespace {

class StringSink final : public tsry::ByteSink {
  public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

std::size_t literalLimit = 8191;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One argument as the compiler sees it: one or more string literals joined by
// " + ", decoded; false when it is not that.
bool DecodeStrings(std::string_view arg, std::string& out) {
    out.clear();
    bool ended = false;  // a \x00 ends the string
    for (std::size_t i = 0;;) {
        if (i >= arg.size() || arg[i] != '"') return false;
        const std::size_t start = ++i;
        for (;; ++i) {
            if (i >= arg.size() || arg[i] == '\n') return false;
            if (arg[i] == '"') break;
            char c = arg[i];
            if (c == '\\') {
                if (++i >= arg.size()) return false;
                c = arg[i];
                if (c == 'n') {
                    c = '\n';
                } else if (c == 'x' && i + 2 < arg.size() && HexDigit(arg[i + 1]) >= 0 &&
                           HexDigit(arg[i + 2]) >= 0) {
                    c = static_cast<char>(HexDigit(arg[i + 1]) * 16 + HexDigit(arg[i + 2]));
                    i += 2;
                    if (c == '\0') ended = true;
                }
            }
            if (!ended) out += c;
        }
        if (i - start > literalLimit) return false;
        ++i;
        if (i == arg.size()) return true;
        if (arg.substr(i, 3) != " + ") return false;
        i += 3;
    }
}

// `line` as "<prefix>(<args>);": the arguments split at the commas outside
// string literals, each without the space after its comma.
bool SplitCall(std::string_view line, std::string_view prefix, std::vector<std::string>& args) {
    if (line.substr(0, prefix.size()) != prefix) return false;
    args.assign(1, std::string());
    bool inLiteral = false;
    for (std::size_t i = prefix.size(); i < line.size(); ++i) {
        const char c = line[i];
        if (inLiteral) {
            args.back() += c;
            if (c == '\\' && i + 1 < line.size()) {
                args.back() += line[++i];
            } else if (c == '"') {
                inLiteral = false;
            }
        } else if (c == '"') {
            inLiteral = true;
            args.back() += c;
        } else if (c == ',') {
            if (line.substr(i, 2) != ", ") return false;
            args.emplace_back();
            ++i;
        } else if (c == ')') {
            return line.substr(i) == ");";
        } else if (c == '(' && args.back().empty()) {
            // A float the game computes, a product or quotient of numbers.
            const std::size_t close = line.find(')', i);
            if (close == std::string_view::npos ||
                line.substr(i + 1, close - i - 1).find_first_not_of("0123456789. */-") !=
                    std::string_view::npos) {
                return false;
            }
            args.back() += line.substr(i, close - i + 1);
            i = close;
        } else if (c == '(' || c == ';') {
            return false;  // a call or a statement of its own
        } else {
            args.back() += c;
        }
    }
    return false;
}

struct Expected {
    std::string_view text;
    bool quoted;
};

bool CallIs(std::string_view line, std::string_view prefix, const std::vector<Expected>& expected) {
    std::vector<std::string> args;
    if (!SplitCall(line, prefix, args) || args.size() != expected.size()) return false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (expected[i].quoted) {
            std::string decoded;
            if (!DecodeStrings(args[i], decoded) || decoded != expected[i].text) return false;
        } else if (args[i] != expected[i].text) {
            return false;
        }
    }
    return true;
}

// What the game makes of what is written for a float field: a literal, or a
// product or quotient of literals worked out from left to right.
float Arrives(std::string_view written) {
    if (written.empty() || written.front() != '(') return tsry::ReadAsCompilers(written);
    TSRY_FUZZ_CHECK(written.back() == ')');
    written = written.substr(1, written.size() - 2);
    std::size_t at = written.find(' ');
    float value = tsry::ReadAsCompilers(written.substr(0, at));
    while (at != std::string_view::npos) {
        const char operation = written[at + 1];
        const std::size_t next = written.find(' ', at + 3);
        const std::string_view factor = written.substr(at + 3, next - (at + 3));
        TSRY_FUZZ_CHECK(tsry::IsDecimalNumber(factor) && factor.find('.') != std::string::npos);
        TSRY_FUZZ_CHECK(operation == '*' || operation == '/');
        value = operation == '*' ? value * tsry::ReadAsCompilers(factor)
                                 : value / tsry::ReadAsCompilers(factor);
        at = next;
    }
    return value;
}

// What a float field is written as; for a number, something the game turns
// into the float nearest the field, with a point, without a "+" and with no
// number token longer than the older compiler takes.
std::string FloatWritten(std::string_view field) {
    tsry::FloatLiterals literals;
    std::string written(literals.Exact(field));
    if (tsry::ClassifyFloatField(field) == tsry::FloatField::kName) {
        TSRY_FUZZ_CHECK(written == field);
        return written;
    }
    std::string number;
    for (const char c : field) {
        if (c != ' ') number += c;
    }
    const float nearest = std::strtof(number.c_str(), nullptr);
    const float arrives = Arrives(written);
    TSRY_FUZZ_CHECK(arrives == nearest && std::signbit(arrives) == std::signbit(nearest));
    TSRY_FUZZ_CHECK(written.find('.') != std::string::npos);
    TSRY_FUZZ_CHECK(written.find('+') == std::string::npos);
    TSRY_FUZZ_CHECK(written.size() <= tsry::FloatLiterals::kLongestToken + field.size() ||
                    written.front() == '(');
    return written;
}

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool Writable(std::string_view text, bool quoted) {
    return !HasNul(text) && (quoted || tsry::model::IsPlain(std::string(text)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 7) return 0;
    // A kind and limit byte, five field lengths, then the fields' bytes; lines
    // never hold a CR or LF, so neither do fields.
    static constexpr std::string_view kKinds[] = {"INT", "STR", "FLT", "LOC", "OBJ", "int"};
    const std::string_view kind = kKinds[bytes[0] % 6];
    const std::size_t limitChoice = bytes[0] / 6 % 16;
    literalLimit = limitChoice == 0 ? 8191 : limitChoice + 1;
    tsry::detail::MaxLiteralBytes() = literalLimit;
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

    // What the group should be, worked out without the writer.
    const bool writes = kind == "INT" || kind == "STR" || kind == "FLT" || kind == "LOC";
    std::vector<std::string_view> parts;
    std::string_view value = record.Value;
    for (int k = 0; kind == "LOC" && k < 5; ++k) {
        const std::size_t star = value.find('*');
        if (star == std::string_view::npos) break;
        parts.push_back(value.substr(0, star));
        value.remove_prefix(star + 1);
    }
    bool valid = writes && (kind != "LOC" || parts.size() == 5);
    if (valid) {
        valid = Writable(record.Name, true) && Writable(record.Extra1, false) &&
                Writable(record.Extra2, false) && Writable(record.Extra3, false);
        if (kind == "LOC") {
            valid = valid && Writable(parts[0], true);
            for (std::size_t k = 1; k < 5; ++k) {
                valid =
                    valid && !HasNul(parts[k]) && tsry::model::IsFloatField(std::string(parts[k]));
            }
        } else if (kind == "FLT") {
            valid = valid && !HasNul(record.Value) &&
                    tsry::model::IsFloatField(std::string(record.Value));
        } else {
            valid = valid && Writable(record.Value, kind == "STR");
        }
    }

    StringSink sink;
    tsry::ScriptWriter writer(sink);
    try {
        writer.WriteRecord(record, 42);
        writer.Flush();
    } catch (const tsry::ConversionError& e) {
        TSRY_FUZZ_CHECK(writes && !valid);
        TSRY_FUZZ_CHECK(std::string(e.what()).rfind("line 42: the ", 0) == 0);
        writer.Flush();
        TSRY_FUZZ_CHECK(sink.text.empty());
        return 0;
    }
    TSRY_FUZZ_CHECK(valid || !writes);
    const std::string& out = sink.text;
    if (!writes) {
        TSRY_FUZZ_CHECK(out.empty());
        return 0;
    }
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < out.size();) {
        const std::size_t end = out.find("\r\n", start);
        TSRY_FUZZ_CHECK(end != std::string::npos);
        lines.emplace_back(out.data() + start, end - start);
        start = end + 2;
    }
    const Expected extras[3] = {
        {record.Extra1, false}, {record.Extra2, false}, {record.Extra3, false}};
    if (kind == "LOC") {
        TSRY_FUZZ_CHECK(lines.size() == 4);
        TSRY_FUZZ_CHECK(CallIs(lines[0], "    oTYArea=GetObjectByTag(", {{parts[0], true}}));
        const std::string x = FloatWritten(parts[1]);
        const std::string y = FloatWritten(parts[2]);
        const std::string z = FloatWritten(parts[3]);
        const std::string facing = FloatWritten(parts[4]);
        TSRY_FUZZ_CHECK(
            CallIs(lines[1], "    vTYVector=Vector(", {{x, false}, {y, false}, {z, false}}));
        TSRY_FUZZ_CHECK(CallIs(lines[2], "    lTYLoc=Location(",
                               {{"oTYArea", false}, {"vTYVector", false}, {facing, false}}));
        TSRY_FUZZ_CHECK(
            CallIs(lines[3], "    SetTSRYLocationC(",
                   {{record.Name, true}, {"lTYLoc", false}, extras[0], extras[1], extras[2]}));
    } else {
        TSRY_FUZZ_CHECK(lines.size() == 1);
        const std::string_view call = kind == "INT"   ? "    SetTSRYInt("
                                      : kind == "STR" ? "    SetTSRYString("
                                                      : "    SetTSRYFloat(";
        const std::string written =
            kind == "FLT" ? FloatWritten(record.Value) : std::string(record.Value);
        TSRY_FUZZ_CHECK(CallIs(
            lines[0], call,
            {{record.Name, true}, {written, kind == "STR"}, extras[0], extras[1], extras[2]}));
    }
    return 0;
}
