#include "conversion/reading/kept_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry {

namespace {

constexpr std::size_t kFields = 7;

// Undoes the escapes of a field in place (the text only shrinks); false for
// a backslash that escapes nothing.
bool Unescape(char* field, std::size_t& size) {
    std::size_t to = 0;
    for (std::size_t from = 0; from < size; ++from, ++to) {
        char c = field[from];
        if (c == '\\') {
            if (++from == size) return false;
            switch (field[from]) {
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
        field[to] = c;
    }
    size = to;
    return true;
}

std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file) {
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        file.seekg(0, std::ios::beg);
        if (size > 0) {
            text.resize(static_cast<std::size_t>(size));
            file.read(text.data(), size);
        }
    }
    if (!file) {
        const int error = errno;
        std::error_code folder;
        if (std::filesystem::is_directory(path, folder)) {
            throw ConversionError("Cannot read the list " + QuotedPath(path) + ": it is a folder");
        }
        throw FileError("Cannot read the list", path, error);
    }
    return text;
}

}  // namespace

void AppendListRow(std::string& rows, const LogRecord& record, std::string_view source) {
    const auto put = [&rows](std::string_view field) {
        for (const char c : field) {
            switch (c) {
                case '\\':
                    rows += "\\\\";
                    break;
                case '\t':
                    rows += "\\t";
                    break;
                case '\r':
                    rows += "\\r";
                    break;
                case '\n':
                    rows += "\\n";
                    break;
                default:
                    rows += c;
            }
        }
    };
    for (const std::string_view field :
         {record.Name, record.Kind, record.Value, record.Extra1, record.Extra2, record.Extra3}) {
        put(field);
        rows += '\t';
    }
    put(source);
    rows += '\n';
}

bool ReadKeptList(const std::filesystem::path& path, RecordTable& table, LinePlaces& places) {
    // No file yet, or a link to one still to be made: nothing kept so far.
    std::error_code missing;
    if (std::filesystem::status(path, missing).type() == std::filesystem::file_type::not_found) {
        return false;
    }
    std::string text = ReadWhole(path);
    const std::uint64_t before = places.lines();
    const auto refuse = [&](std::uint64_t line, std::string_view why) {
        return ConversionError(PathText(path) + ":" + std::to_string(line) +
                               ": not a list of variables: " + std::string(why));
    };

    KeptOrigins origins;
    // The records first, stored in batches; nothing is stored before the
    // whole file is known to be a list.
    std::vector<PendingRecord> rows;
    std::uint64_t line = 0;
    char* at = text.data();
    char* const end = text.data() + text.size();
    while (at < end) {
        ++line;
        char* lineEnd =
            static_cast<char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        if (lineEnd == nullptr) lineEnd = end;
        char* const next = lineEnd == end ? end : lineEnd + 1;
        if (lineEnd > at && lineEnd[-1] == '\r') --lineEnd;
        const std::string_view row(at, static_cast<std::size_t>(lineEnd - at));
        if (line == 1) {
            if (row != kListHeader) {
                throw refuse(line, "its first line is not the header \"" +
                                       std::string("name, kind, value, extra1, extra2, extra3, "
                                                   "source\" in tab-separated values"));
            }
            origins.Add({});
            at = next;
            continue;
        }
        std::string_view fields[kFields];
        std::size_t count = 0;
        char* field = at;
        for (char* c = at;; ++c) {
            if (c == lineEnd || *c == '\t') {
                std::size_t size = static_cast<std::size_t>(c - field);
                if (count < kFields) {
                    if (!Unescape(field, size)) {
                        throw refuse(line, "field " + std::to_string(count + 1) +
                                               " holds a backslash that is none of the escapes "
                                               "\\\\, \\t, \\r, \\n");
                    }
                    fields[count] = {field, size};
                }
                ++count;
                field = c + 1;
                if (c == lineEnd) break;
            }
        }
        if (count != kFields) {
            throw refuse(line, std::to_string(count) + (count == 1 ? " field" : " fields") +
                                   " where a row has 7");
        }
        rows.push_back({LogRecord{fields[1], fields[0], fields[2], fields[3], fields[4], fields[5]},
                        before + line, 0});
        origins.Add(fields[6]);
        at = next;
    }
    for (std::size_t i = 0; i < rows.size(); i += 256) {
        table.StoreAll(std::span(rows).subspan(i, std::min<std::size_t>(256, rows.size() - i)));
    }
    places.AddKept(path, line, std::move(origins));
    return true;
}

}  // namespace tsry
