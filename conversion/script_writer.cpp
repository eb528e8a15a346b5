#include "conversion/script_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
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

}  // namespace

void AppendQuoted(std::string& out, std::string_view text) {
    // The next quote and the next backslash, each found once with memchr, so
    // that a long value costs two passes at memory speed.
    const char* p = text.data();
    const char* const end = p + text.size();
    auto next = [end](const char* from, char c) {
        const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return hit != nullptr ? static_cast<const char*>(hit) : end;
    };
    const char* quote = next(p, '"');
    const char* backslash = next(p, '\\');
    for (;;) {
        const char* special = std::min(quote, backslash);
        out.append(p, special);
        if (special == end) return;
        out += '\\';
        out += *special;
        p = special + 1;
        if (special == quote) quote = next(p, '"');
        if (special == backslash) backslash = next(p, '\\');
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

void ScriptWriter::Put(std::string_view text) {
    if (text.size() <= kFlushSize) {
        pending_ += text;
        return;
    }
    // A huge field goes out in slices, so the buffer stays small.
    for (; !text.empty(); text.remove_prefix(std::min(text.size(), kFlushSize))) {
        pending_ += text.substr(0, kFlushSize);
        FlushIfFull();
    }
}

void ScriptWriter::PutQuoted(std::string_view text) {
    // Escaping looks at one character at a time, so slices escape alike.
    for (;;) {
        const std::string_view slice = text.substr(0, kFlushSize);
        AppendQuoted(pending_, slice);
        text.remove_prefix(slice.size());
        if (text.empty()) return;
        FlushIfFull();
    }
}

void ScriptWriter::PutNameAndExtras(std::string_view call, const LogRecord& record,
                                    std::string_view middle, std::string_view value,
                                    bool quotedValue) {
    Put(call);
    Put("\"");
    PutQuoted(record.Name);
    Put("\"");
    Put(middle);
    if (quotedValue) {
        PutQuoted(value);
        Put("\"");
    } else {
        Put(value);
    }
    Put(", ");
    Put(record.Extra1);
    Put(", ");
    Put(record.Extra2);
    Put(", ");
    Put(record.Extra3);
    Put(");");
    Put(kEol);
}

void ScriptWriter::WriteRecord(const LogRecord& record, std::uint64_t line) {
    if (record.Kind == "INT") {
        PutNameAndExtras("    SetTSRYInt(", record, ", ", record.Value, false);
    } else if (record.Kind == "STR") {
        PutNameAndExtras("    SetTSRYString(", record, ", \"", record.Value, true);
    } else if (record.Kind == "FLT") {
        PutNameAndExtras("    SetTSRYFloat(", record, ", ", record.Value, false);
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
        Put("    oTYArea=GetObjectByTag(\"");
        PutQuoted(part[0]);
        Put("\");");
        Put(kEol);
        Put("    vTYVector=Vector(");
        Put(part[1]);
        Put(", ");
        Put(part[2]);
        Put(", ");
        Put(part[3]);
        Put(");");
        Put(kEol);
        Put("    lTYLoc=Location(oTYArea, vTYVector, ");
        Put(part[4]);
        Put(");");
        Put(kEol);
        PutNameAndExtras("    SetTSRYLocationC(", record, ", lTYLoc", {}, false);
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
