#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "conversion/records/record_format.h"
#include "conversion/records/table_memory.h"

// Tagged log lines (see record_format.h) and the table of the newest value of
// every variable name. Fields are taken verbatim and may be empty.

namespace tsry {

// The six fields of one record, as cut from its line.
struct LogRecord {
    std::string_view Kind;
    std::string_view Name;
    std::string_view Value;
    std::string_view Extra1;
    std::string_view Extra2;
    std::string_view Extra3;
};

// What is wrong with the record of log line `line`: "line <line>: <detail>".
// A run that knows which file the line is in names it instead (PATH:LINE).
class RecordError : public ConversionError {
  public:
    RecordError(std::uint64_t line, std::string detail);
    [[nodiscard]] std::uint64_t line() const noexcept { return line_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }

  private:
    std::uint64_t line_;
    std::string detail_;
};

// A tagged line with fewer than six fields, `fieldsFound` of them complete.
class MalformedRecord : public RecordError {
  public:
    MalformedRecord(std::uint64_t line, int fieldsFound);
    [[nodiscard]] int fieldsFound() const noexcept { return fieldsFound_; }

  private:
    int fieldsFound_;
};

// A record cut from a block of lines, waiting to be stored. Its fields point
// into the block.
struct PendingRecord {
    LogRecord record;
    std::uint64_t line = 0;
    std::uint64_t hash = 0;
};

// One record per Name, in the order in which the names first appeared. A later
// record of a Name keeps the slot of the first and replaces its Kind, Value and
// extras. Finding a Name costs a hash look-up, not a scan.
class RecordTable {
  public:
    RecordTable();

    [[nodiscard]] std::size_t size() const noexcept { return slots_.size(); }
    [[nodiscard]] bool empty() const noexcept { return slots_.size() == 0; }

    // The record in slot `index` (0-based, in order of first appearance).
    [[nodiscard]] LogRecord operator[](std::size_t index) const noexcept;
    // The number of the log line that gave slot `index` its current values.
    [[nodiscard]] std::uint64_t LineOf(std::size_t index) const noexcept {
        return slots_[index].line;
    }

    // Adds `record`, or merges it into the slot of an earlier record with the
    // same Name (exact comparison).
    void Store(const LogRecord& record, std::uint64_t line);

    // Stores `records` in order, as Store would one by one, while fetching
    // the memory of the later ones ahead of time.
    void StoreAll(std::span<PendingRecord> records);

    // Stores the records of `later` after this table's, in its slot order,
    // their line numbers raised by `lineOffset`: as if they had been stored
    // here one by one. Their names are not hashed again.
    void StoreAllOf(const RecordTable& later, std::uint64_t lineOffset);

    // Asks for the memory of slot `index` ahead of a pass in slot order,
    // whose records lie scattered once their values have grown.
    void Prefetch(std::size_t index) const noexcept {
        if (index >= slots_.size()) return;
        const Slot& slot = slots_[index];
        __builtin_prefetch(slot.text);
        __builtin_prefetch(slot.text + slot.ends[5]);
    }

    // Forgets every record, keeping the memory for the next ones.
    void Clear() noexcept;

  private:
    struct Slot {
        // The record as in its line: Kind#Name#Value#Extra1#Extra2#Extra3,
        // with the end of each field, in a piece of `capacity` bytes of the
        // arena. The Name never changes once stored.
        char* text = nullptr;
        std::uint64_t line = 0;
        std::uint32_t capacity = 0;
        std::uint32_t ends[6] = {};
        // The Name's first bytes, so that most look-ups decide on the slot
        // alone, without reading the text it points to.
        char nameHead[16] = {};
        // The lower half of the Name's hash, which places it in the buckets.
        std::uint32_t key = 0;
    };
    static_assert(sizeof(Slot) <= 64, "a slot in one cache line");

    static bool HasName(const Slot& slot, std::string_view name) noexcept;

    void Fill(Slot& slot, const LogRecord& record, std::uint64_t line);
    static std::string_view TextOf(const Slot& slot) noexcept { return {slot.text, slot.ends[5]}; }
    static std::string_view NameOf(const Slot& slot) noexcept {
        return TextOf(slot).substr(slot.ends[0] + 1, slot.ends[1] - slot.ends[0] - 1);
    }
    void Store(const LogRecord& record, std::uint64_t line, std::uint64_t hash);
    // StoreAll of records whose hashes are known.
    void StoreHashed(std::span<PendingRecord> records);
    void Grow();

    TextArena text_;
    BlockArray<Slot> slots_;
    // Open addressing; 0 marks a free bucket.
    TableVector<std::uint64_t> buckets_;
};

// Examines one log line (without its terminator; a line end in `text` is taken
// as the end of the line). If it holds the tag, cuts the
// record that follows its first occurrence and stores it. `line` is the line's
// number in the log, for the table and for the message of a malformed record,
// which throws ConversionError. Returns whether the line was a record line.
bool ExtractRecord(std::string_view text, std::uint64_t line, RecordTable& table);

// Cuts the record whose tag starts at `tag`, in a run of whole lines that ends
// at `end`, into `record`. `line` is the line's number, for the message of a
// malformed record (which throws ConversionError).
void CutRecord(const char* tag, const char* end, std::uint64_t line, LogRecord& record);

// Puts a record that has been cut from line `line` into the table.
inline void StoreRecord(RecordTable& table, const LogRecord& record, std::uint64_t line) {
    table.Store(record, line);
}

}  // namespace tsry
