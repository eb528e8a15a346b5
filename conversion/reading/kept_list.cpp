#include "conversion/reading/kept_list.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <system_error>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry {

namespace {

constexpr std::size_t kFields = 7;
// The bytes read at once.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;

// Undoes the escapes of a field in place (the text only shrinks); false for
// a backslash that escapes nothing.
bool Unescape(char* field, std::size_t& size) {
    // Most fields hold no backslash at all.
    char* from = static_cast<char*>(std::memchr(field, '\\', size));
    if (from == nullptr) return true;
    char* to = from;
    char* const end = field + size;
    for (; from < end; ++from, ++to) {
        char c = *from;
        if (c == '\\') {
            if (++from == end) return false;
            switch (*from) {
                case '\\':
                    c = '\\';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 'n':
                    c = '\n';
                    break;
                default:
                    return false;
            }
        }
        *to = c;
    }
    size = static_cast<std::size_t>(to - field);
    return true;
}

// The letter that stands after a backslash for each byte a field escapes;
// 0 for the bytes that stand as they are.
constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> letters{};
    letters['\\'] = '\\';
    letters['\t'] = 't';
    letters['\r'] = 'r';
    letters['\n'] = 'n';
    return letters;
}();

// The special bytes of some text: how many tabs, where the first of them
// stand, and whether it holds any other byte looked for.
struct Specials {
    std::size_t tabs = 0;
    bool others = false;
};

// Looks over `size` bytes at `text` for tabs, putting the offsets of the
// first `room` in `tabAt`, and for backslashes, and CR and LF too where
// `kLineEnds`. Eight bytes at a time where the machine allows it, the last
// ones in a word that overlaps the one before: a row is long, its fields
// short, and a call or a loop per field costs more than the bytes.
template <bool kLineEnds>
Specials FindSpecials(const char* text, std::size_t size, std::size_t* tabAt,
                      std::size_t room) noexcept {
    Specials found;
    const auto tab = [&](std::size_t at) {
        if (found.tabs < room) tabAt[found.tabs] = at;
        ++found.tabs;
    };
    if constexpr (std::endian::native == std::endian::little) {
        if (size >= 8) {
            constexpr std::uint64_t kOnes = 0x0101010101010101;
            constexpr std::uint64_t kLow = kOnes * 0x7F;
            constexpr std::uint64_t kHigh = kOnes * 0x80;
            // The high bit of each byte of `word` that is `byte`, no other.
            const auto exactly = [](std::uint64_t word, unsigned char byte) {
                const std::uint64_t x = word ^ (kOnes * byte);
                return ~(((x & kLow) + kLow) | x | kLow);
            };
            // Not 0 where a byte of `word` is `byte`.
            const auto any = [](std::uint64_t word, unsigned char byte) {
                const std::uint64_t x = word ^ (kOnes * byte);
                return (x - kOnes) & ~x & kHigh;
            };
            std::uint64_t others = 0;
            const auto look = [&](std::size_t at, std::uint64_t keep) {
                std::uint64_t word = 0;
                std::memcpy(&word, text + at, 8);
                std::uint64_t seen = any(word, '\\');
                if constexpr (kLineEnds) seen |= any(word, '\r') | any(word, '\n');
                // `any` may mark the bytes above one it finds; dropped bytes
                // are below all that are kept.
                others |= seen != 0 ? exactly(word, '\\') & keep : 0;
                if constexpr (kLineEnds) {
                    others |= seen != 0 ? (exactly(word, '\r') | exactly(word, '\n')) & keep : 0;
                }
                for (std::uint64_t tabs = exactly(word, '\t') & keep; tabs != 0; tabs &= tabs - 1) {
                    tab(at + static_cast<std::size_t>(std::countr_zero(tabs)) / 8);
                }
            };
            std::size_t i = 0;
            for (; i + 8 <= size; i += 8) look(i, ~std::uint64_t{0});
            if (i < size) look(size - 8, ~std::uint64_t{0} << (8 * (i + 8 - size)));
            found.others = others != 0;
            return found;
        }
    }
    for (std::size_t i = 0; i < size; ++i) {
        const char letter = kEscapes[static_cast<unsigned char>(text[i])];
        if (letter == 't') {
            tab(i);
        } else if (letter == '\\' || (kLineEnds && letter != 0)) {
            found.others = true;
        }
    }
    return found;
}

// Escapes a field into `out`; returns the end.
char* PutField(char* out, std::string_view field) noexcept {
    for (const char c : field) {
        const char letter = kEscapes[static_cast<unsigned char>(c)];
        if (letter != 0) *out++ = '\\';
        *out++ = letter != 0 ? letter : c;
    }
    return out;
}

char* Copy(char* out, std::string_view field) noexcept {
    if (!field.empty()) std::memcpy(out, field.data(), field.size());
    return out + field.size();
}

}  // namespace

std::size_t ListRowBound(const LogRecord& record, SourceParts source) noexcept {
    // Each byte escaped at worst, the tabs, ":" and a line number, the line end.
    return 2 * (record.Name.size() + record.Kind.size() + record.Value.size() +
                record.Extra1.size() + record.Extra2.size() + record.Extra3.size() +
                source.text.size()) +
           kFields - 1 + 1 + std::numeric_limits<std::uint64_t>::digits10 + 1 + 1;
}

char* PutListRow(char* out, const LogRecord& record, SourceParts source) noexcept {
    const std::string_view fields[] = {record.Name,   record.Kind,   record.Value,
                                       record.Extra1, record.Extra2, record.Extra3};
    char* const row = out;
    // Most rows need no escape: copied as they are, then looked over whole,
    // and written again, escaped, only where a field holds a special byte
    // (the tabs between the fields are the only ones allowed).
    for (const std::string_view field : fields) {
        out = Copy(out, field);
        *out++ = '\t';
    }
    out = Copy(out, source.text);
    const Specials found = FindSpecials<true>(row, static_cast<std::size_t>(out - row), nullptr, 0);
    if (found.tabs != kFields - 1 || found.others) {
        out = row;
        for (const std::string_view field : fields) {
            out = PutField(out, field);
            *out++ = '\t';
        }
        out = PutField(out, source.text);
    }
    if (source.line != 0) {
        *out++ = ':';
        out =
            std::to_chars(out, out + std::numeric_limits<std::uint64_t>::digits10 + 1, source.line)
                .ptr;
    }
    *out++ = '\n';
    return out;
}

bool ReadKeptList(const std::filesystem::path& path, RecordTable& table, LinePlaces& places) {
    // No file yet, or a link to one still to be made: nothing kept so far.
    std::error_code status;
    const std::filesystem::file_type type = std::filesystem::status(path, status).type();
    if (type == std::filesystem::file_type::not_found) return false;
    if (type == std::filesystem::file_type::directory) {
        throw ConversionError("Cannot read the list " + QuotedPath(path) + ": it is a folder");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) throw FileError("Cannot read the list", path, errno);

    const std::uint64_t before = places.lines();
    const auto refuse = [&](std::uint64_t line, std::string_view why) {
        return ConversionError(PathText(path) + ":" + std::to_string(line) +
                               ": not a list of variables: " + std::string(why));
    };
    KeptOrigins origins;
    std::uint64_t line = 0;
    // The records of a piece of the file, stored in batches before the next
    // piece is read over them.
    std::array<PendingRecord, 256> batch;
    std::size_t pending = 0;
    const auto store = [&] {
        table.StoreAll(std::span(batch.data(), pending));
        pending = 0;
    };
    // The line from `at` to `lineEnd` (its LF, or the end of the file).
    const auto readLine = [&](char* at, char* lineEnd) {
        ++line;
        if (lineEnd > at && lineEnd[-1] == '\r') --lineEnd;
        if (line == 1) {
            if (std::string_view(at, static_cast<std::size_t>(lineEnd - at)) != kListHeader) {
                throw refuse(line, "its first line is not the header \"" +
                                       std::string("name, kind, value, extra1, extra2, extra3, "
                                                   "source\" in tab-separated values"));
            }
            origins.Add({});
            return;
        }
        std::size_t tabAt[kFields];
        const Specials found =
            FindSpecials<false>(at, static_cast<std::size_t>(lineEnd - at), tabAt, kFields);
        const std::size_t count = found.tabs + 1;
        std::string_view fields[kFields];
        for (std::size_t k = 0; k < std::min(count, kFields); ++k) {
            char* const field = k == 0 ? at : at + tabAt[k - 1] + 1;
            std::size_t size =
                static_cast<std::size_t>((k < found.tabs ? at + tabAt[k] : lineEnd) - field);
            if (found.others && !Unescape(field, size)) {
                throw refuse(line, "field " + std::to_string(k + 1) +
                                       " holds a backslash that is none of the escapes "
                                       "\\\\, \\t, \\r, \\n");
            }
            fields[k] = {field, size};
        }
        if (count != kFields) {
            throw refuse(line, std::to_string(count) + (count == 1 ? " field" : " fields") +
                                   " where a row has 7");
        }
        batch[pending++] = {
            LogRecord{fields[1], fields[0], fields[2], fields[3], fields[4], fields[5]},
            before + line, 0};
        origins.Add(fields[6]);
        if (pending == batch.size()) store();
    };

    // Read in pieces into one buffer, the unfinished last line of a piece
    // moved to the front for the next; a line longer than the buffer grows it.
    std::size_t capacity = kPieceSize;
    std::unique_ptr<char[]> buffer(new char[capacity]);
    std::size_t held = 0;
    try {
        for (;;) {
            if (held == capacity) {
                std::unique_ptr<char[]> grown(new char[capacity * 2]);
                std::memcpy(grown.get(), buffer.get(), held);
                buffer = std::move(grown);
                capacity *= 2;
            }
            file.read(buffer.get() + held, static_cast<std::streamsize>(capacity - held));
            const std::size_t got = static_cast<std::size_t>(file.gcount());
            if (file.bad()) throw FileError("Cannot read the list", path, errno);
            char* at = buffer.get();
            char* const end = at + held + got;
            for (;;) {
                char* const lineEnd =
                    static_cast<char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
                if (lineEnd == nullptr) break;
                readLine(at, lineEnd);
                at = lineEnd + 1;
            }
            if (got == 0) {
                // The last line, without its line end.
                if (at < end) readLine(at, end);
                store();
                break;
            }
            store();
            held = static_cast<std::size_t>(end - at);
            std::memmove(buffer.get(), at, held);
        }
    } catch (...) {
        // Nothing of a file that is no list stays stored.
        table.Clear();
        throw;
    }
    places.AddKept(path, line, std::move(origins));
    return true;
}

}  // namespace tsry
