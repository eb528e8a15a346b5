#include "conversion/script/script_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "conversion/platform/conversion_error.h"

namespace tsry {

namespace {

constexpr std::size_t kFlushSize = std::size_t{256} * 1024;
// The buffer holds this much more than the flush size: a group begun below
// the flush size puts its short pieces without a flush.
constexpr std::size_t kBufferRoom = 4096;
// The longest text that PutLiteral looks at byte by byte.
constexpr std::size_t kShortLiteral = 64;

template <class Word>
void CopyWord(char* to, const char* from) noexcept {
    Word word;
    std::memcpy(&word, from, sizeof word);
    std::memcpy(to, &word, sizeof word);
}

// Whether [p, p + n) holds a quote or a backslash: eight bytes at a time,
// the last eight overlapping the ones before.
bool HasQuoteOrBackslash(const char* p, std::size_t n) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const auto has = [](std::uint64_t word) {
        // A byte of the word equal to c gives a zero byte in word ^ c...c.
        const std::uint64_t quote = word ^ (kOnes * '"');
        const std::uint64_t backslash = word ^ (kOnes * '\\');
        return (((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash)) & kHighs;
    };
    const auto load = [p](std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, p + at, sizeof word);
        return word;
    };
    if (n < 8) return std::any_of(p, p + n, [](char c) { return c == '"' || c == '\\'; });
    for (std::size_t at = 0; at + 8 < n; at += 8) {
        if (has(load(at)) != 0) return true;
    }
    return has(load(n - 8)) != 0;
}

// memcpy, without a call for the short pieces that most fields are: loads
// that may overlap, none of them past the end of `from`.
void CopyBytes(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 8 && n <= 16) {
        CopyWord<std::uint64_t>(to, from);
        CopyWord<std::uint64_t>(to + n - 8, from + n - 8);
    } else if (n >= 4 && n < 8) {
        CopyWord<std::uint32_t>(to, from);
        CopyWord<std::uint32_t>(to + n - 4, from + n - 4);
    } else if (n < 4) {
        if (n != 0) {
            to[0] = from[0];
            to[n / 2] = from[n / 2];
            to[n - 1] = from[n - 1];
        }
    } else {
        std::memcpy(to, from, n);
    }
}

constexpr std::string_view kHeader =
    "/* Persistent World Tessary System\r\n"
    "   DESC: Contains the function that brings in the persistent data from another module.\r\n"
    "   ORIGINAL CREATOR, v1.8: vesper_ashgrove\r\n"
    "   v2.0 CHANGES: KestrelMoor\r\n"
    "*/\r\n"
    "#include \"tsry_functions\"\r\n"
    " \r\n";

// What follows the name of a function that restores values.
constexpr std::string_view kFunctionStart =
    "()\r\n"
    "{\r\n"
    "    object oTYArea;\r\n"
    "    vector vTYVector;\r\n"
    "    location lTYLoc;\r\n"
    " \r\n";

constexpr std::string_view kPartName = "TSRYRestorePart";

constexpr std::string_view kClosing =
    " \r\n"
    "}\r\n";

constexpr std::string_view kEol = "\r\n";

// A location value: AreaTag*PosX*PosY*PosZ*Facing*, anything after the fifth
// "*" ignored.
constexpr char kPartEnd = '*';
constexpr const char* kPartNames[5] = {"AreaTag", "PosX", "PosY", "PosZ", "Facing"};

enum class Statement { kInt, kString, kFloat, kLocation, kNone };

Statement StatementOf(std::string_view kind) noexcept {
    if (kind == "INT") return Statement::kInt;
    if (kind == "STR") return Statement::kString;
    if (kind == "FLT") return Statement::kFloat;
    if (kind == "LOC") return Statement::kLocation;
    return Statement::kNone;
}

// How much of a field a message shows.
constexpr std::size_t kShownBytes = 64;

// `text` for a message, between quotes: a quote or backslash escaped, a byte
// that is not printable ASCII as \xHH, and no more than kShownBytes of it.
std::string Shown(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown = "\"";
    for (const char c : text.substr(0, kShownBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    shown += '"';
    if (text.size() > kShownBytes) shown += "... (" + std::to_string(text.size()) + " bytes)";
    return shown;
}

[[noreturn]] void ThrowBadLocation(const LogRecord& record, std::uint64_t line, int found) {
    std::string message = "the location of variable ";
    message += Shown(record.Name);
    message += " is cut short: ";
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
    throw RecordError(line, message);
}

using LocationParts = std::array<std::string_view, 5>;

LocationParts SplitLocation(const LogRecord& record, std::uint64_t line) {
    LocationParts part;
    std::string_view rest = record.Value;
    for (int k = 0; k < 5; ++k) {
        const std::size_t end = rest.find(kPartEnd);
        if (end == std::string_view::npos) ThrowBadLocation(record, line, k);
        part[static_cast<std::size_t>(k)] = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    return part;
}

// The characters of a plain value: nothing in it can end an argument, call
// anything or start a comment.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = '0'; c <= '9'; ++c) plain[static_cast<std::size_t>(c)] = true;
    for (int c = 'A'; c <= 'Z'; ++c) plain[static_cast<std::size_t>(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c) plain[static_cast<std::size_t>(c)] = true;
    for (const char c : {'_', '.', '+', '-', ' '}) plain[static_cast<unsigned char>(c)] = true;
    return plain;
}();

bool IsPlain(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return kPlain[static_cast<unsigned char>(c)]; });
}

// How a field stands in the statement group.
enum class Written { kQuoted, kAsItStands, kFloat };

// One field as the statement group writes it.
struct WrittenField {
    const char* name;
    std::string_view text;
    Written as;
};

// Why a float field cannot be written, or nullptr.
const char* FloatFault(std::string_view text) noexcept {
    switch (ClassifyFloatField(text)) {
        case FloatField::kNumber:
        case FloatField::kName:
            return nullptr;
        case FloatField::kBeyondRange:
            return " lies beyond the float range (no float is nearer it than infinity): ";
        case FloatField::kNotANumber:
            break;
    }
    return " is not a number (digits with a point, or a name): ";
}

bool HasNul(std::string_view text) noexcept {
    return std::memchr(text.data(), '\0', text.size()) != nullptr;
}

void CheckField(const LogRecord& record, std::uint64_t line, const WrittenField& field) {
    // A plain value, a number or a name holds no NUL byte: one pass over it
    // says both.
    switch (field.as) {
        case Written::kQuoted:
            if (!HasNul(field.text)) return;
            break;
        case Written::kAsItStands:
            if (IsPlain(field.text)) return;
            break;
        case Written::kFloat:
            if (FloatFault(field.text) == nullptr) return;
            break;
    }
    const char* fault = " is not a plain value: ";
    if (HasNul(field.text)) {
        fault = " holds a NUL byte, which no script can hold: ";
    } else if (field.as == Written::kFloat) {
        fault = FloatFault(field.text);
    }
    std::string message = std::string("the ") + field.name + " of ";
    message.append(record.Kind);
    message += " record " + Shown(record.Name);
    message += fault;
    message += Shown(field.text);
    throw RecordError(line, message);
}

}  // namespace

std::size_t& detail::MaxLiteralBytes() {
    static std::size_t bytes = 8191;
    return bytes;
}

bool WritesAGroup(const LogRecord& record) noexcept {
    return StatementOf(record.Kind) != Statement::kNone;
}

std::size_t ScriptLayout::RecordsPerPart(std::size_t groups) const noexcept {
    if (recordsPerPart) return *recordsPerPart;
    return groups > kMostGroupsInOneMain ? kRecordsPerPartBySize : 0;
}

void CheckRecord(const LogRecord& record, std::uint64_t line) {
    const Statement statement = StatementOf(record.Kind);
    if (statement == Statement::kNone) return;
    // In the order in which the group writes them, so that the first field
    // that fails is the one reported.
    std::array<WrittenField, 10> fields;  // the first `count` of them
    std::size_t count = 0;
    if (statement == Statement::kLocation) {
        const LocationParts part = SplitLocation(record, line);
        fields[count++] = {kPartNames[0], part[0], Written::kQuoted};
        for (std::size_t k = 1; k < 5; ++k) {
            fields[count++] = {kPartNames[k], part[k], Written::kFloat};
        }
    }
    fields[count++] = {"Name", record.Name, Written::kQuoted};
    if (statement == Statement::kString) {
        fields[count++] = {"Value", record.Value, Written::kQuoted};
    } else if (statement == Statement::kFloat) {
        fields[count++] = {"Value", record.Value, Written::kFloat};
    } else if (statement == Statement::kInt) {
        fields[count++] = {"Value", record.Value, Written::kAsItStands};
    }
    fields[count++] = {"Extra1", record.Extra1, Written::kAsItStands};
    fields[count++] = {"Extra2", record.Extra2, Written::kAsItStands};
    fields[count++] = {"Extra3", record.Extra3, Written::kAsItStands};
    for (std::size_t i = 0; i < count; ++i) CheckField(record, line, fields[i]);
}

ScriptWriter::ScriptWriter(ByteSink& sink)
    : sink_(sink), buffer_(std::make_unique<char[]>(kFlushSize + kBufferRoom)) {}

inline void ScriptWriter::Put(std::string_view text) {
    if (text.size() > kFlushSize + kBufferRoom - used_) return PutSlowly(text);
    CopyBytes(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
}

inline void ScriptWriter::Put(char c) {
    if (used_ == kFlushSize + kBufferRoom) Flush();
    buffer_[used_++] = c;
}

void ScriptWriter::WriteOpening() {
    Put(kHeader);
    Put("void main");
    Put(kFunctionStart);
    FlushIfFull();
}

void ScriptWriter::WriteHeader(std::size_t parts) {
    Put(kHeader);
    // A function is declared before the one that schedules it: each part
    // schedules the next.
    for (std::size_t part = 1; part <= parts; ++part) {
        PutPartName("void ", part, "();\r\n");
        FlushIfFull();
    }
    Put(" \r\n");
    FlushIfFull();
}

void ScriptWriter::WritePartStart(std::size_t part) {
    PutPartName("void ", part, "");
    Put(kFunctionStart);
    FlushIfFull();
}

void ScriptWriter::WritePartEnd(std::size_t part, std::size_t parts) {
    Put(" \r\n");
    if (part < parts) PutPartName("    DelayCommand(0.0, ", part + 1, "());\r\n");
    Put("}\r\n \r\n");
    FlushIfFull();
}

void ScriptWriter::WriteSchedule() {
    Put("void main()\r\n{\r\n");
    PutPartName("    DelayCommand(0.0, ", 1, "());\r\n");
    Put(kClosing);
    FlushIfFull();
}

void ScriptWriter::PutPartName(std::string_view before, std::size_t part, std::string_view after) {
    Put(before);
    Put(kPartName);
    Put(std::to_string(part));
    Put(after);
}

void ScriptWriter::WriteWritten(std::string_view bytes) {
    Flush();
    sink_.Write(bytes);
}

void ScriptWriter::WriteClosing() {
    Put(kClosing);
    FlushIfFull();
}

bool ScriptWriter::WriteRecord(const RecordTable& table, std::size_t index) {
    return WriteRecord(table[index], table.LineOf(index));
}

bool ScriptWriter::WriteCheckedRecord(const RecordTable& table, std::size_t index) {
    return WriteGroup(table[index], table.LineOf(index));
}

void ScriptWriter::PutSlowly(std::string_view text) {
    // A huge field goes out in slices, so the buffer stays small.
    while (!text.empty()) {
        FlushIfFull();
        const std::size_t n = std::min(text.size(), kFlushSize + kBufferRoom - used_);
        std::memcpy(buffer_.get() + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
    FlushIfFull();
}

void ScriptWriter::PutLiteral(std::string_view text) {
    // Most texts are short and hold nothing to escape: a look at each byte
    // says so sooner than a search for each special character.
    if (text.size() <= kShortLiteral && text.size() <= detail::MaxLiteralBytes() &&
        text.size() + 2 <= kFlushSize + kBufferRoom - used_ &&
        !HasQuoteOrBackslash(text.data(), text.size())) {
        char* at = buffer_.get() + used_;
        at[0] = '"';
        CopyBytes(at + 1, text.data(), text.size());
        at[text.size() + 1] = '"';
        used_ += text.size() + 2;
        return;
    }
    // Plain runs between the quotes and backslashes, each special character
    // found once with memchr, so that a long value costs two passes at memory
    // speed. A literal that is full is closed and another joined to it with
    // " + "; an escape pair is never cut in two.
    const std::size_t limit = std::max<std::size_t>(detail::MaxLiteralBytes(), 2);
    const char* p = text.data();
    const char* const end = p + text.size();
    auto next = [end](const char* from, char c) {
        const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return hit != nullptr ? static_cast<const char*>(hit) : end;
    };
    const char* quote = next(p, '"');
    const char* backslash = next(p, '\\');
    std::size_t used = 0;  // bytes in the current literal
    auto room = [&](std::size_t wanted) {
        if (limit - used >= wanted) return;
        Put("\" + \"");
        used = 0;
        FlushIfFull();
    };
    Put('"');
    for (;;) {
        const char* special = std::min(quote, backslash);
        while (p != special) {
            room(1);
            const std::size_t n =
                std::min({static_cast<std::size_t>(special - p), limit - used, kFlushSize});
            Put(std::string_view(p, n));
            p += n;
            used += n;
            FlushIfFull();
        }
        if (special == end) break;
        room(2);
        Put('\\');
        Put(*special);
        used += 2;
        p = special + 1;
        if (special == quote) quote = next(p, '"');
        if (special == backslash) backslash = next(p, '\\');
    }
    Put('"');
}

void ScriptWriter::PutNameAndExtras(std::string_view call, const LogRecord& record,
                                    std::string_view middle, std::string_view value,
                                    bool quotedValue) {
    Put(call);
    PutLiteral(record.Name);
    Put(middle);
    if (quotedValue) {
        PutLiteral(value);
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

bool ScriptWriter::WriteRecord(const LogRecord& record, std::uint64_t line) {
    CheckRecord(record, line);
    return WriteGroup(record, line);
}

bool ScriptWriter::WriteGroup(const LogRecord& record, std::uint64_t line) {
    switch (StatementOf(record.Kind)) {
        case Statement::kInt:
            PutNameAndExtras("    SetTSRYInt(", record, ", ", record.Value, false);
            break;
        case Statement::kString:
            PutNameAndExtras("    SetTSRYString(", record, ", ", record.Value, true);
            break;
        case Statement::kFloat:
            PutNameAndExtras("    SetTSRYFloat(", record, ", ", floats_.Exact(record.Value), false);
            break;
        case Statement::kLocation: {
            const LocationParts part = SplitLocation(record, line);
            Put("    oTYArea=GetObjectByTag(");
            PutLiteral(part[0]);
            Put(");");
            Put(kEol);
            Put("    vTYVector=Vector(");
            Put(floats_.Exact(part[1]));
            Put(", ");
            Put(floats_.Exact(part[2]));
            Put(", ");
            Put(floats_.Exact(part[3]));
            Put(");");
            Put(kEol);
            Put("    lTYLoc=Location(oTYArea, vTYVector, ");
            Put(floats_.Exact(part[4]));
            Put(");");
            Put(kEol);
            PutNameAndExtras("    SetTSRYLocationC(", record, ", lTYLoc", {}, false);
            break;
        }
        case Statement::kNone:
            return false;
    }
    FlushIfFull();
    return true;
}

void ScriptWriter::FlushIfFull() {
    if (used_ >= kFlushSize) Flush();
}

void ScriptWriter::Flush() {
    if (used_ == 0) return;
    sink_.Write({buffer_.get(), used_});
    used_ = 0;
}

}  // namespace tsry
