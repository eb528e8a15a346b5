#include "conversion/record_table.h"

#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "conversion/conversion_error.h"

namespace tsry {

namespace {

constexpr const char* kFieldNames[6] = {"Kind", "Name", "Value", "Extra1", "Extra2", "Extra3"};

[[noreturn]] void ThrowMissingFields(std::uint64_t line, int found) {
    std::string message = "line " + std::to_string(line) + ": the record after " +
                          std::string(kRecordTag) + " is cut short: ";
    if (found == 0) {
        message += "none of its 6 fields ends with \"#\"";
    } else {
        message += "only " + std::to_string(found) + " of its 6 fields (";
        for (int k = 0; k < found; ++k) {
            if (k != 0) message += ", ";
            message += kFieldNames[k];
        }
        message += ") end";
        if (found == 1) message += 's';
        message += " with \"#\"";
    }
    message += "; missing: ";
    for (int k = found; k < 6; ++k) {
        if (k != found) message += ", ";
        message += kFieldNames[k];
    }
    message += ". A record line must read Kind#Name#Value#Extra1#Extra2#Extra3# after the tag.";
    throw ConversionError(message);
}

}  // namespace

RecordTable::RecordTable() : buckets_(64, 0) {}

LogRecord RecordTable::operator[](std::size_t index) const noexcept {
    const Slot& slot = slots_[index];
    const std::string_view f = slot.fields;
    LogRecord record;
    record.Name = slot.name;
    record.Kind = f.substr(0, slot.ends[0]);
    record.Value = f.substr(slot.ends[0], slot.ends[1] - slot.ends[0]);
    record.Extra1 = f.substr(slot.ends[1], slot.ends[2] - slot.ends[1]);
    record.Extra2 = f.substr(slot.ends[2], slot.ends[3] - slot.ends[2]);
    record.Extra3 = f.substr(slot.ends[3], slot.ends[4] - slot.ends[3]);
    return record;
}

void RecordTable::Fill(Slot& slot, const LogRecord& record, std::uint64_t line) {
    // assign() reuses the slot's storage, so updating a name costs no allocation
    // once its values have been seen at their longest.
    slot.fields.assign(record.Kind);
    slot.ends[0] = slot.fields.size();
    slot.fields.append(record.Value);
    slot.ends[1] = slot.fields.size();
    slot.fields.append(record.Extra1);
    slot.ends[2] = slot.fields.size();
    slot.fields.append(record.Extra2);
    slot.ends[3] = slot.fields.size();
    slot.fields.append(record.Extra3);
    slot.ends[4] = slot.fields.size();
    slot.line = line;
}

void RecordTable::Store(const LogRecord& record, std::uint64_t line) {
    const std::uint64_t hash = std::hash<std::string_view>{}(record.Name);
    const std::size_t mask = buckets_.size() - 1;
    for (std::size_t b = hash & mask;; b = (b + 1) & mask) {
        const std::uint32_t entry = buckets_[b];
        if (entry == 0) {
            if (slots_.size() >= std::numeric_limits<std::uint32_t>::max() - 1) {
                throw ConversionError("The log holds more variable names than can be kept.");
            }
            buckets_[b] = static_cast<std::uint32_t>(slots_.size() + 1);
            Slot& slot = slots_.emplace_back();
            slot.name.assign(record.Name);
            slot.hash = hash;
            Fill(slot, record, line);
            // Keep the load at most one half so that probes stay short.
            if (slots_.size() * 2 > buckets_.size()) Grow();
            return;
        }
        Slot& slot = slots_[entry - 1];
        if (slot.hash == hash && slot.name == record.Name) {
            Fill(slot, record, line);
            return;
        }
    }
}

void RecordTable::Grow() {
    std::vector<std::uint32_t> grown(buckets_.size() * 2, 0);
    const std::size_t mask = grown.size() - 1;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        std::size_t b = slots_[i].hash & mask;
        while (grown[b] != 0) b = (b + 1) & mask;
        grown[b] = static_cast<std::uint32_t>(i + 1);
    }
    buckets_.swap(grown);
}

void ExtractRecordAt(std::string_view text, std::size_t tag, std::uint64_t line,
                     RecordTable& table) {
    std::string_view fields[6];
    std::size_t pos = tag + kRecordTag.size();
    for (int k = 0; k < 6; ++k) {
        const std::size_t end = text.find(kFieldEnd, pos);
        if (end == std::string_view::npos) ThrowMissingFields(line, k);
        fields[k] = text.substr(pos, end - pos);
        pos = end + 1;
    }
    const LogRecord record{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
    StoreRecord(table, record, line);
}

bool ExtractRecord(std::string_view text, std::uint64_t line, RecordTable& table) {
    const std::size_t tag = text.find(kRecordTag);
    if (tag == std::string_view::npos) return false;
    ExtractRecordAt(text, tag, line, table);
    return true;
}

}  // namespace tsry
