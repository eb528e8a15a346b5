#include "conversion/records/record_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "conversion/platform/conversion_error.h"
#include "conversion/scans/line_scan.h"

namespace tsry {

namespace {

constexpr const char* kFieldNames[6] = {"Kind", "Name", "Value", "Extra1", "Extra2", "Extra3"};

std::string MissingFields(int found) {
    std::string message = "the record after " + std::string(kRecordTag) + " is cut short: ";
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
    return message;
}

}  // namespace

namespace {

// The longest record text a slot holds (its ends are 32-bit).
constexpr std::size_t kMaxRecordBytes = std::numeric_limits<std::uint32_t>::max();

// The table keys a name by the lower half of its hash: its home bucket is
// that key modulo the number of buckets.
constexpr std::uint32_t KeyOf(std::uint64_t hash) { return static_cast<std::uint32_t>(hash); }
constexpr std::size_t HomeOf(std::uint32_t key, std::size_t mask) { return key & mask; }

// A bucket holds the key beside the slot number + 1, so that a probe rejects
// other names without touching their slots, and a table that grows finds the
// new home of every name without reading its slot.
constexpr std::uint64_t Bucket(std::uint32_t key, std::size_t slot) {
    return (std::uint64_t{key} << 32) | (static_cast<std::uint64_t>(slot) + 1);
}
constexpr std::uint32_t KeyIn(std::uint64_t bucket) {
    return static_cast<std::uint32_t>(bucket >> 32);
}
constexpr bool SameHash(std::uint64_t bucket, std::uint64_t hash) {
    return KeyIn(bucket) == KeyOf(hash);
}
constexpr std::size_t SlotOf(std::uint64_t bucket) {
    return static_cast<std::size_t>(bucket & 0xffffffffULL) - 1;
}
}  // namespace

RecordError::RecordError(std::uint64_t line, std::string detail)
    : ConversionError("line " + std::to_string(line) + ": " + detail),
      line_(line),
      detail_(std::move(detail)) {}

MalformedRecord::MalformedRecord(std::uint64_t line, int fieldsFound)
    : RecordError(line, MissingFields(fieldsFound)), fieldsFound_(fieldsFound) {}

RecordTable::RecordTable() : buckets_(64, 0) {}

LogRecord RecordTable::operator[](std::size_t index) const noexcept {
    // Every end lies within the text and after the one before it.
    const Slot& slot = slots_[index];
    const char* f = slot.text;
    const std::uint32_t* e = slot.ends;
    LogRecord record;
    record.Kind = {f, e[0]};
    record.Name = {f + e[0] + 1, e[1] - e[0] - 1};
    record.Value = {f + e[1] + 1, e[2] - e[1] - 1};
    record.Extra1 = {f + e[2] + 1, e[3] - e[2] - 1};
    record.Extra2 = {f + e[3] + 1, e[4] - e[3] - 1};
    record.Extra3 = {f + e[4] + 1, e[5] - e[4] - 1};
    return record;
}

namespace {

template <class Word>
Word Load(const char* p) noexcept {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// a[0, n) == b[0, n) for n up to 16, in a few loads that may overlap instead
// of a call: most names are that short.
bool SameShortBytes(const char* a, const char* b, std::size_t n) noexcept {
    if (n >= 8) {
        return Load<std::uint64_t>(a) == Load<std::uint64_t>(b) &&
               Load<std::uint64_t>(a + n - 8) == Load<std::uint64_t>(b + n - 8);
    }
    if (n >= 4) {
        return Load<std::uint32_t>(a) == Load<std::uint32_t>(b) &&
               Load<std::uint32_t>(a + n - 4) == Load<std::uint32_t>(b + n - 4);
    }
    return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
}

// The hash of a Name: eight bytes at a time, the tail in loads that may
// overlap, and a final mix so that every bit of the name reaches the bucket
// bits. Short names are the rule, and cost a couple of multiplications.
std::uint64_t NameHash(std::string_view name) noexcept {
    constexpr std::uint64_t kOdd = 0x9e3779b97f4a7c15ULL;
    const char* p = name.data();
    std::size_t n = name.size();
    std::uint64_t h = (n + 1) * kOdd;
    auto mix = [&h](std::uint64_t word) {
        h = (h ^ word) * kOdd;
        h ^= h >> 32;
    };
    for (; n >= 8; p += 8, n -= 8) mix(Load<std::uint64_t>(p));
    if (n >= 4) {
        mix(Load<std::uint32_t>(p) | (std::uint64_t{Load<std::uint32_t>(p + n - 4)} << 32));
    } else if (n > 0) {
        const auto byte = [](char c) { return std::uint64_t{static_cast<unsigned char>(c)}; };
        mix(byte(p[0]) | byte(p[n / 2]) << 8 | byte(p[n - 1]) << 16);
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

// Copies the first and the last `Half` bytes of [from, from + n), which
// cover it: every byte is loaded before any is stored.
template <std::size_t Half>
void MoveCovered(char* to, const char* from, std::size_t n) noexcept {
    char head[Half];
    char tail[Half];
    std::memcpy(head, from, Half);
    std::memcpy(tail, from + n - Half, Half);
    std::memcpy(to, head, Half);
    std::memcpy(to + n - Half, tail, Half);
}

// memmove, without a call for the short runs that most records are.
void MoveBytes(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 32 && n <= 64) {
        MoveCovered<32>(to, from, n);
    } else if (n >= 16 && n < 32) {
        MoveCovered<16>(to, from, n);
    } else {
        std::memmove(to, from, n);
    }
}

}  // namespace

bool RecordTable::HasName(const Slot& slot, std::string_view name) noexcept {
    const std::size_t length = slot.ends[1] - slot.ends[0] - 1;
    if (length != name.size()) return false;
    const std::size_t head = std::min(length, sizeof slot.nameHead);
    static_assert(sizeof slot.nameHead == 16);
    if (!SameShortBytes(slot.nameHead, name.data(), head)) return false;
    return head == length || NameOf(slot).substr(head) == name.substr(head);
}

void RecordTable::Fill(Slot& slot, const LogRecord& record, std::uint64_t line) {
    const std::string_view* const fields[6] = {&record.Kind,   &record.Name,   &record.Value,
                                               &record.Extra1, &record.Extra2, &record.Extra3};
    std::size_t size = 5;
    for (const std::string_view* field : fields) size += field->size();
    if (size > kMaxRecordBytes) {
        throw RecordError(line, "the record is 4 GiB long or more, more than can be kept");
    }
    if (size > slot.capacity) {
        // A later value that is longer: a new piece, with room to grow, so
        // that a name whose values keep growing is not moved every time.
        const std::size_t capacity = std::min(
            std::max(size, std::size_t{slot.capacity} + slot.capacity / 2), kMaxRecordBytes);
        char* text = text_.Allocate(capacity);
        text_.Release(slot.text, slot.capacity);
        slot.text = text;
        slot.capacity = static_cast<std::uint32_t>(capacity);
    }
    // One copy of the record's text when its fields lie as in a log line, the
    // usual case.
    bool inLine = true;
    for (int k = 0; k < 5 && inLine; ++k) {
        const auto end = reinterpret_cast<std::uintptr_t>(fields[k]->data()) + fields[k]->size();
        inLine = fields[k]->data() != nullptr &&
                 end + 1 == reinterpret_cast<std::uintptr_t>(fields[k + 1]->data());
    }
    if (inLine) {
        const char* begin = record.Kind.data();
        MoveBytes(slot.text, begin, size);
        for (int k = 0; k < 6; ++k) {
            slot.ends[k] =
                static_cast<std::uint32_t>(fields[k]->data() + fields[k]->size() - begin);
        }
    } else {
        std::size_t at = 0;
        for (int k = 0; k < 6; ++k) {
            if (k != 0) slot.text[at++] = kFieldEnd;
            if (!fields[k]->empty())
                std::memcpy(slot.text + at, fields[k]->data(), fields[k]->size());
            at += fields[k]->size();
            slot.ends[k] = static_cast<std::uint32_t>(at);
        }
    }
    slot.line = line;
}

void RecordTable::Store(const LogRecord& record, std::uint64_t line) {
    Store(record, line, NameHash(record.Name));
}

void RecordTable::StoreAll(std::span<PendingRecord> records) {
    for (PendingRecord& pending : records) pending.hash = NameHash(pending.record.Name);
    StoreHashed(records);
}

void RecordTable::StoreAllOf(const RecordTable& later, std::uint64_t lineOffset) {
    // In batches, so that the look-ups of many names overlap.
    constexpr std::size_t kBatch = 256;
    PendingRecord batch[kBatch];
    for (std::size_t i = 0; i < later.size();) {
        const std::size_t count = std::min(kBatch, later.size() - i);
        for (std::size_t k = 0; k < count; ++k, ++i) {
            later.Prefetch(i + kBatch);
            batch[k] = {later[i], lineOffset + later.LineOf(i), later.slots_[i].key};
        }
        StoreHashed(std::span(batch, count));
    }
}

void RecordTable::StoreHashed(std::span<PendingRecord> records) {
    // Passes over the batch, so that the cache misses of many records
    // overlap instead of following one another: fetch the buckets, fetch the
    // slots they name, fetch the text those slots hold, then store.
    const std::size_t mask = buckets_.size() - 1;
    for (const PendingRecord& pending : records) {
        __builtin_prefetch(&buckets_[HomeOf(KeyOf(pending.hash), mask)]);
    }
    const auto slotOf = [&](const PendingRecord& pending) -> const Slot* {
        const std::uint64_t entry = buckets_[HomeOf(KeyOf(pending.hash), mask)];
        return entry != 0 && SameHash(entry, pending.hash) ? &slots_[SlotOf(entry)] : nullptr;
    };
    for (const PendingRecord& pending : records) {
        if (const Slot* slot = slotOf(pending)) {
            __builtin_prefetch(slot);
            __builtin_prefetch(reinterpret_cast<const char*>(slot) + sizeof(Slot) - 1);
        }
    }
    for (const PendingRecord& pending : records) {
        if (const Slot* slot = slotOf(pending)) {
            __builtin_prefetch(slot->text, 1);
            __builtin_prefetch(slot->text + slot->ends[5], 1);
        }
    }
    for (const PendingRecord& pending : records) Store(pending.record, pending.line, pending.hash);
}

void RecordTable::Store(const LogRecord& record, std::uint64_t line, std::uint64_t hash) {
    const std::size_t mask = buckets_.size() - 1;
    for (std::size_t b = HomeOf(KeyOf(hash), mask);; b = (b + 1) & mask) {
        const std::uint64_t entry = buckets_[b];
        if (entry == 0) {
            if (slots_.size() >= std::numeric_limits<std::uint32_t>::max() - 1) {
                throw ConversionError("The log holds more variable names than can be kept.");
            }
            buckets_[b] = Bucket(KeyOf(hash), slots_.size());
            Slot& slot = slots_.emplace_back();
            std::memcpy(slot.nameHead, record.Name.data(),
                        std::min(record.Name.size(), sizeof slot.nameHead));
            slot.key = KeyOf(hash);
            Fill(slot, record, line);
            // Keep the load at most one half so that probes stay short.
            if (slots_.size() * 2 > buckets_.size()) Grow();
            return;
        }
        if (SameHash(entry, hash)) {
            Slot& slot = slots_[SlotOf(entry)];
            if (HasName(slot, record.Name)) {
                Fill(slot, record, line);
                return;
            }
        }
    }
}

void RecordTable::Clear() noexcept {
    slots_.clear();
    text_.Rewind();
    std::fill(buckets_.begin(), buckets_.end(), 0);
}

void RecordTable::Grow() {
    TableVector<std::uint64_t> grown(buckets_.size() * 2, 0);
    const std::size_t mask = grown.size() - 1;
    // The buckets alone, in order: no slot is read.
    for (const std::uint64_t entry : buckets_) {
        if (entry == 0) continue;
        std::size_t b = HomeOf(KeyIn(entry), mask);
        while (grown[b] != 0) b = (b + 1) & mask;
        grown[b] = entry;
    }
    buckets_.swap(grown);
}

void CutRecord(const char* tag, const char* end, std::uint64_t line, LogRecord& record) {
    std::string_view* const fields[6] = {&record.Kind,   &record.Name,   &record.Value,
                                         &record.Extra1, &record.Extra2, &record.Extra3};
    const char* fieldEnds[kRecordFields];
    const char* pos = tag + kRecordTag.size();
    const int found = FindInLine(pos, end, kFieldEnd, fieldEnds, kRecordFields);
    if (found < kRecordFields) throw MalformedRecord(line, found);
    for (int k = 0; k < kRecordFields; ++k) {
        *fields[k] = std::string_view(pos, static_cast<std::size_t>(fieldEnds[k] - pos));
        pos = fieldEnds[k] + 1;
    }
}

bool ExtractRecord(std::string_view text, std::uint64_t line, RecordTable& table) {
    const std::size_t tag = text.find(kRecordTag);
    if (tag == std::string_view::npos) return false;
    LogRecord record;
    CutRecord(text.data() + tag, text.data() + text.size(), line, record);
    StoreRecord(table, record, line);
    return true;
}

}  // namespace tsry
