#include "tests/model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "conversion/script/float_literal.h"

namespace tsry::model {

std::string ScriptOpening() {
    return "/* Persistent World Tessary System\r\n"
           "   DESC: Contains the function that brings in the persistent data from another "
           "module.\r\n"
           "   ORIGINAL CREATOR, v1.8: vesper_ashgrove\r\n"
           "   v2.0 CHANGES: KestrelMoor\r\n"
           "*/\r\n"
           "#include \"tsry_functions\"\r\n"
           " \r\n"
           "void main()\r\n"
           "{\r\n"
           "    object oTYArea;\r\n"
           "    vector vTYVector;\r\n"
           "    location lTYLoc;\r\n"
           " \r\n";
}

std::string ScriptClosing() { return " \r\n}\r\n"; }

std::vector<std::string> ModelLines(const std::string& log) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const char c = log[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < log.size() && log[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string JoinedLogs(const std::vector<std::string>& logs) {
    std::string joined;
    for (const std::string& log : logs) {
        for (const std::string& line : ModelLines(log)) joined += line + "\n";
    }
    return joined;
}

std::string ModelList(const std::vector<std::string>& paths, const std::vector<std::string>& logs) {
    std::vector<std::vector<std::string>> rows;  // the six fields, then the source
    for (std::size_t file = 0; file < logs.size(); ++file) {
        const std::vector<std::string> lines = ModelLines(logs[file]);
        for (std::size_t n = 0; n < lines.size(); ++n) {
            std::size_t pos = lines[n].find("<TS_RY>");
            if (pos == std::string::npos) continue;
            pos += 7;
            std::vector<std::string> row;
            for (int k = 0; k < 6; ++k) {
                const std::size_t end = lines[n].find('#', pos);
                row.push_back(lines[n].substr(pos, end - pos));
                pos = end + 1;
            }
            row.push_back(paths[file] + ":" + std::to_string(n + 1));
            bool merged = false;
            for (auto& earlier : rows) {
                if (earlier[1] == row[1]) {
                    earlier = row;
                    merged = true;
                }
            }
            if (!merged) rows.push_back(row);
        }
    }
    std::string list = "name\tkind\tvalue\textra1\textra2\textra3\tsource\n";
    for (const auto& row : rows) {
        for (const std::size_t k : {1u, 0u, 2u, 3u, 4u, 5u, 6u}) {
            for (const char c : row[k]) {
                list += c == '\\'   ? std::string("\\\\")
                        : c == '\t' ? std::string("\\t")
                                    : std::string(1, c);
            }
            list += k == 6 ? '\n' : '\t';
        }
    }
    return list;
}

std::string Quoted(const std::string& text, std::size_t limit) {
    // Escaped whole, then cut into literals of at most `limit` bytes, never
    // between a backslash and the character it escapes.
    std::string escaped;
    for (char c : text) {
        if (c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    std::string out = "\"";
    std::size_t used = 0;
    for (std::size_t i = 0; i < escaped.size();) {
        const std::size_t size = escaped[i] == '\\' ? 2 : 1;
        if (used + size > limit) {
            out += "\" + \"";
            used = 0;
        }
        out += escaped.substr(i, size);
        used += size;
        i += size;
    }
    return out + "\"";
}

bool IsPlain(const std::string& text) {
    for (char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c == '+' || c == '-' ||
                           c == ' ';
        if (!plain) return false;
    }
    return true;
}

bool IsFloatField(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    if (first == std::string::npos) return false;
    std::string core = text.substr(first, last - first + 1);
    auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (letter(core[0])) {
        return std::all_of(core.begin(), core.end(), [&](char c) { return letter(c) || digit(c); });
    }
    if (core[0] == '-' || core[0] == '+') core.erase(0, core.find_first_not_of(' ', 1));
    if (std::count(core.begin(), core.end(), '.') > 1 ||
        std::none_of(core.begin(), core.end(), digit) ||
        !std::all_of(core.begin(), core.end(), [&](char c) { return digit(c) || c == '.'; })) {
        return false;
    }
    return std::isfinite(std::strtof(core.c_str(), nullptr));
}

ModelResult Model(const std::string& log, std::size_t literalLimit) {
    struct Row {
        std::vector<std::string> f;  // Kind, Name, Value, Extra1, Extra2, Extra3
        std::uint64_t line;
    };
    std::vector<Row> rows;
    const std::vector<std::string> lines = ModelLines(log);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        std::size_t pos = line.find("<TS_RY>");
        if (pos == std::string::npos) continue;
        pos += 7;
        std::vector<std::string> f;
        for (int k = 0; k < 6; ++k) {
            const std::size_t end = line.find('#', pos);
            if (end == std::string::npos) return {"", n + 1};
            f.push_back(line.substr(pos, end - pos));
            pos = end + 1;
        }
        bool merged = false;
        for (Row& row : rows) {
            if (row.f[1] == f[1]) {
                row = {f, n + 1};
                merged = true;
                break;
            }
        }
        if (!merged) rows.push_back({f, n + 1});
    }
    std::string s = ScriptOpening();
    for (const Row& row : rows) {
        const auto& f = row.f;
        const std::string kind = f[0];
        if (kind != "INT" && kind != "STR" && kind != "FLT" && kind != "LOC") continue;
        std::vector<std::string> p;  // the location's parts
        if (kind == "LOC") {
            std::size_t pos = 0;
            for (int k = 0; k < 5; ++k) {
                const std::size_t end = f[2].find('*', pos);
                if (end == std::string::npos) return {"", row.line};
                p.push_back(f[2].substr(pos, end - pos));
                pos = end + 1;
            }
        }
        // What the group writes, quoted or as it stands.
        std::vector<std::pair<std::string, bool>> written;
        if (kind == "LOC") {
            written.emplace_back(p[0], true);
            for (std::size_t k = 1; k < 5; ++k) {
                if (!IsFloatField(p[k])) return {"", row.line};
            }
        }
        if (kind == "FLT" && !IsFloatField(f[2])) return {"", row.line};
        written.emplace_back(f[1], true);
        if (kind != "LOC") written.emplace_back(f[2], kind == "STR");
        for (std::size_t k = 3; k < 6; ++k) written.emplace_back(f[k], false);
        for (const auto& [text, quoted] : written) {
            if (text.find('\0') != std::string::npos || (!quoted && !IsPlain(text))) {
                return {"", row.line};
            }
        }
        const std::string tail = ", " + f[3] + ", " + f[4] + ", " + f[5] + ");\r\n";
        // Floats as the literals the compilers read exactly, tested on their own.
        FloatLiterals floats;
        auto exact = [&floats](const std::string& text) { return std::string(floats.Exact(text)); };
        if (kind == "INT") {
            s += "    SetTSRYInt(" + Quoted(f[1], literalLimit) + ", " + f[2] + tail;
        } else if (kind == "STR") {
            s += "    SetTSRYString(" + Quoted(f[1], literalLimit) + ", " +
                 Quoted(f[2], literalLimit) + tail;
        } else if (kind == "FLT") {
            s += "    SetTSRYFloat(" + Quoted(f[1], literalLimit) + ", " + exact(f[2]) + tail;
        } else {
            s += "    oTYArea=GetObjectByTag(" + Quoted(p[0], literalLimit) + ");\r\n";
            s += "    vTYVector=Vector(" + exact(p[1]) + ", " + exact(p[2]) + ", " + exact(p[3]) +
                 ");\r\n";
            s += "    lTYLoc=Location(oTYArea, vTYVector, " + exact(p[4]) + ");\r\n";
            s += "    SetTSRYLocationC(" + Quoted(f[1], literalLimit) + ", lTYLoc" + tail;
        }
    }
    return {s + ScriptClosing(), 0};
}

}  // namespace tsry::model
