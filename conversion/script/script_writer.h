#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/records/record_table.h"
#include "conversion/script/byte_sink.h"
#include "conversion/script/float_literal.h"

// The restore script: an opening block, one statement group per record, and a
// closing block. Every line, the last included, ends with CR LF.
//
// The script is compiled by the game's own compiler, so nothing of a record
// may turn into code: text written between quotes is escaped, and a field
// written as it stands (a number, a flag, a coordinate) must be a plain value,
// made of ASCII letters and digits, "_", ".", "+", "-" and spaces alone. No
// field that is written may hold a NUL byte, where the compiler would stop
// reading. A string longer than the compiler's longest literal is written as
// several literals joined by " + ". A float (the Value of a FLT record, the
// PosX, PosY, PosZ and Facing of a location) must be a decimal number within
// the float range or a name, and a number is written as what the game turns
// into the float nearest the logged text (FloatLiterals::Exact), which is
// most often the text itself.

namespace tsry {

// Throws ConversionError, naming log line `line`, the record's Name and the
// field, when `record` cannot be written as the statements of a script: a
// location cut short, a float that is neither a decimal number within the
// float range nor a name (ClassifyFloatField), another field written as it
// stands that is not a plain value, or a NUL byte in any field that is written. Records of a Kind
// that writes nothing always pass.
void CheckRecord(const LogRecord& record, std::uint64_t line);

// Whether `record` writes a statement group: a record of Kind INT, STR, FLT or
// LOC.
[[nodiscard]] bool WritesAGroup(const LogRecord& record) noexcept;

// How the statement groups stand in the script.
struct ScriptLayout {
    // The game stops a script that runs more instructions than its limit
    // allows, and a restore of more statement groups than this in one main
    // may stop before its end.
    static constexpr std::size_t kMostGroupsInOneMain = 4096;
    // The records of a part when the size of the script chooses the layout:
    // well within the lowest limit a server can set.
    static constexpr std::size_t kRecordsPerPartBySize = 2000;

    // Empty: chosen by the size of the script (RecordsPerPart). 0: all of
    // them in main. N: in functions TSRYRestorePart1, 2, ... of the groups of
    // at most N records each, in table order, run one after another with
    // DelayCommand (main schedules the first, each part the next), so that
    // each runs with the game's instruction limit to itself.
    std::optional<std::size_t> recordsPerPart;

    // The records of a part of a script of `groups` statement groups, 0 for
    // one main: recordsPerPart when set; otherwise kRecordsPerPartBySize for
    // more than kMostGroupsInOneMain groups, and 0 for as many or fewer.
    [[nodiscard]] std::size_t RecordsPerPart(std::size_t groups) const noexcept;
};

class ScriptWriter {
  public:
    explicit ScriptWriter(ByteSink& sink);

    // The opening comment, the include and main up to its first statement.
    void WriteOpening();
    // The script in parts: WriteHeader, then for each part WritePartStart,
    // its groups and WritePartEnd, then WriteSchedule. Each part schedules
    // the next at its end and main only the first, so that main's cost does
    // not grow with the number of parts.
    //
    // The opening comment, the include and a declaration of each of the
    // `parts` parts.
    void WriteHeader(std::size_t parts);
    void WritePartStart(std::size_t part);
    // The end of part `part` of `parts`, scheduling the next if there is one.
    void WritePartEnd(std::size_t part, std::size_t parts);
    // main, scheduling part 1.
    void WriteSchedule();
    // The statement group of one record; a record of any other Kind than INT,
    // STR, FLT or LOC writes nothing. `line` is the log line that gave the
    // record its values. Runs CheckRecord first, so that a record that fails
    // writes nothing of its group. Returns whether it wrote a group.
    bool WriteRecord(const LogRecord& record, std::uint64_t line);
    // The statement group of slot `index` of `table`.
    bool WriteRecord(const RecordTable& table, std::size_t index);
    // The same for a record that CheckRecord has already passed, as every
    // record of a table has before a script of it is begun: the check is not
    // run twice.
    bool WriteCheckedRecord(const RecordTable& table, std::size_t index);
    void WriteClosing();
    // Bytes that another ScriptWriter wrote for a run of groups, put here as
    // they stand.
    void WriteWritten(std::string_view bytes);

    // Hands everything written so far to the sink.
    void Flush();

  private:
    void FlushIfFull();
    void Put(std::string_view text);
    void Put(char c);
    // Put for text that does not fit in the room left.
    void PutSlowly(std::string_view text);
    // `before`, the name of part `part`, `after`.
    void PutPartName(std::string_view before, std::size_t part, std::string_view after);
    // `text` as one or more string literals, quotes included.
    void PutLiteral(std::string_view text);
    // call "Name" middle value, Extra1, Extra2, Extra3);
    void PutNameAndExtras(std::string_view call, const LogRecord& record, std::string_view middle,
                          std::string_view value, bool quotedValue);
    // WriteRecord after the check.
    bool WriteGroup(const LogRecord& record, std::uint64_t line);

    ByteSink& sink_;
    // The bytes not yet handed to the sink: buffer_[0, used_). Past the
    // flush size there is room for a group's short pieces, so that putting
    // one costs a comparison and a copy.
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    FloatLiterals floats_;
};

namespace detail {
// The most bytes the writer puts between the quotes of one string literal:
// 8191, the longest token that every compiler in use takes (the older one
// stops at 8191 characters; today's misreads much longer ones). At least 2.
// For tests.
std::size_t& MaxLiteralBytes();
}  // namespace detail

}  // namespace tsry
