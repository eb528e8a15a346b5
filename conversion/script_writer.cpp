#include "conversion/script_writer.h"

#include <array>
#include <string>

#include "conversion/conversion_error.h"

namespace tsry {

namespace {

constexpr std::size_t kFlushSize = std::size_t{256} * 1024;

constexpr std::string_view kOpening =
    "/* Persistent World Tessary System\r\n"
    "   DESC: Contains the function that brings in the persistent data from another module.\r\n"
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

constexpr std::string_view kClosing =
    " \r\n"
    "}\r\n";

constexpr std::string_view kEol = "\r\n";

// A location value: AreaTag*PosX*PosY*PosZ*Facing*, anything after the fifth
// "*" ignored.
constexpr char kPartEnd = '*';
constexpr const char* kPartNames[5] = {"AreaTag", "PosX", "PosY", "PosZ", "Facing"};

[[noreturn]] void ThrowBadLocation(const LogRecord& record, std::uint64_t line, int found) {
    std::string message = "line " + std::to_string(line) + ": the location of variable \"";
    message.append(record.Name);
    message += "\" is cut short: ";
    if (found == 0) {
        message += "none of its 5 parts ends with \"*\"";
    } else {
        message += "only " + std::to_string(found) + " of its 5 parts (";
        for (int k = 0; k < found; ++k) {
            if (k != 0) message += ", ";
            message += kPartNames[k];
        }
        message += found == 1 ? ") ends" : ") end";
        message += " with \"*\"";
    }
    message += "; missing: ";
    for (int k = found; k < 5; ++k) {
        if (k != found) message += ", ";
        message += kPartNames[k];
    }
    message += ". A location must read AreaTag*PosX*PosY*PosZ*Facing*.";
    throw ConversionError(message);
}

// Name, Value? and the three extras of the INT, STR and FLT calls.
void AppendExtras(std::string& out, const LogRecord& record) {
    out += ", ";
    out += record.Extra1;
    out += ", ";
    out += record.Extra2;
    out += ", ";
    out += record.Extra3;
    out += ");";
    out += kEol;
}

void AppendNameArgument(std::string& out, std::string_view call, const LogRecord& record) {
    out += call;
    out += '"';
    AppendQuoted(out, record.Name);
    out += '"';
}

}  // namespace

void AppendQuoted(std::string& out, std::string_view text) {
    for (;;) {
        const std::size_t special = text.find_first_of("\"\\");
        if (special == std::string_view::npos) {
            out += text;
            return;
        }
        out += text.substr(0, special);
        out += '\\';
        out += text[special];
        text.remove_prefix(special + 1);
    }
}

ScriptWriter::ScriptWriter(ByteSink& sink) : sink_(sink) { pending_.reserve(kFlushSize + 4096); }

void ScriptWriter::WriteOpening() {
    pending_ += kOpening;
    FlushIfFull();
}

void ScriptWriter::WriteClosing() {
    pending_ += kClosing;
    FlushIfFull();
}

void ScriptWriter::WriteRecord(const RecordTable& table, std::size_t index) {
    WriteRecord(table[index], table.LineOf(index));
}

void ScriptWriter::WriteRecord(const LogRecord& record, std::uint64_t line) {
    std::string& out = pending_;
    if (record.Kind == "INT") {
        AppendNameArgument(out, "    SetTSRYInt(", record);
        out += ", ";
        out += record.Value;
        AppendExtras(out, record);
    } else if (record.Kind == "STR") {
        AppendNameArgument(out, "    SetTSRYString(", record);
        out += ", \"";
        AppendQuoted(out, record.Value);
        out += '"';
        AppendExtras(out, record);
    } else if (record.Kind == "FLT") {
        AppendNameArgument(out, "    SetTSRYFloat(", record);
        out += ", ";
        out += record.Value;
        AppendExtras(out, record);
    } else if (record.Kind == "LOC") {
        // Split all five parts before writing anything of the group.
        std::array<std::string_view, 5> part;
        std::string_view rest = record.Value;
        for (int k = 0; k < 5; ++k) {
            const std::size_t end = rest.find(kPartEnd);
            if (end == std::string_view::npos) ThrowBadLocation(record, line, k);
            part[static_cast<std::size_t>(k)] = rest.substr(0, end);
            rest.remove_prefix(end + 1);
        }
        out += "    oTYArea=GetObjectByTag(\"";
        AppendQuoted(out, part[0]);
        out += "\");";
        out += kEol;
        out += "    vTYVector=Vector(";
        out += part[1];
        out += ", ";
        out += part[2];
        out += ", ";
        out += part[3];
        out += ");";
        out += kEol;
        out += "    lTYLoc=Location(oTYArea, vTYVector, ";
        out += part[4];
        out += ");";
        out += kEol;
        AppendNameArgument(out, "    SetTSRYLocationC(", record);
        out += ", lTYLoc";
        AppendExtras(out, record);
    } else {
        return;
    }
    FlushIfFull();
}

void ScriptWriter::FlushIfFull() {
    if (pending_.size() >= kFlushSize) Flush();
}

void ScriptWriter::Flush() {
    if (pending_.empty()) return;
    sink_.Write(pending_);
    pending_.clear();
}

}  // namespace tsry
