#include "conversion/reading/log_set.h"

#include <algorithm>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry {

namespace {

namespace fs = std::filesystem;

bool Hidden(const fs::path& path) {
    const fs::path::string_type name = path.filename().native();
    return !name.empty() && name.front() == '.';
}

// What an entry of a folder is to the set.
enum class Kind {
    kFolder,  // gone into (a link to a folder is not)
    kFile,    // read: a regular file, or a link to one
    kOther,   // neither: a device, a pipe, a link that points nowhere
};

// The kind as the folder's listing gives it where the system says (no look
// at the entry itself), through a link the kind of what it points to. Sets
// `error` where the system will not say (a folder that can be listed but not
// searched); an entry gone meanwhile, or a link that points nowhere, is
// kOther.
Kind KindOf(const fs::directory_entry& entry, std::error_code& error, bool& link) {
    link = entry.is_symlink(error);
    const bool folder = !error && entry.is_directory(error);
    const bool file = !error && !folder && entry.is_regular_file(error);
    if (error == std::errc::no_such_file_or_directory) error.clear();
    if (error || (folder && link)) return Kind::kOther;
    return folder ? Kind::kFolder : file ? Kind::kFile : Kind::kOther;
}

// The files beneath `top`, in no particular order, but those left out; those
// reached through a link also in `links`. A folder that cannot be read at
// any depth is an error that names it: a history read in part would give an
// incomplete script.
void AddFilesBeneath(const fs::path& top, const LeaveOut& leaveOut, LogSet& logs,
                     std::vector<fs::path>& links) {
    std::vector<fs::path> folders{top};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
            const fs::path& path = it->path();
            if (Hidden(path)) continue;
            bool link = false;
            const Kind kind = KindOf(*it, error, link);
            // Before the next step, which would clear it.
            if (error) break;
            if (kind == Kind::kFolder) folders.push_back(path);
            if (kind == Kind::kFile && !(leaveOut && leaveOut(path))) {
                logs.push_back(path);
                if (link) links.push_back(path);
            }
        }
        if (error) throw FileError("Cannot read the folder", folder, error.value());
    }
}

// Leaves out of `logs` each file in `links` (reached through a link beneath a
// folder) that the set reads already: under another name, or through an
// earlier link. A history is read once.
void ReadEachFileOnce(LogSet& logs, std::vector<fs::path>& links) {
    if (links.empty()) return;
    std::sort(links.begin(), links.end());
    const auto linked = [&](const fs::path& log) {
        return std::binary_search(links.begin(), links.end(), log);
    };
    const auto identity = [](const fs::path& log) -> std::optional<platform::FileIdentity> {
        try {
            return platform::PlainFileIdentity(log);
        } catch (const ConversionError&) {
            return std::nullopt;  // said when it is opened
        }
    };
    std::vector<platform::FileIdentity> read;
    for (const fs::path& log : logs) {
        if (linked(log)) continue;
        if (const auto file = identity(log)) read.push_back(*file);
    }
    LogSet kept;
    for (fs::path& log : logs) {
        if (linked(log)) {
            if (const auto file = identity(log)) {
                if (std::find(read.begin(), read.end(), *file) != read.end()) continue;
                read.push_back(*file);
            }
        }
        kept.push_back(std::move(log));
    }
    logs = std::move(kept);
}

}  // namespace

void SortOldestFirst(LogSet& logs) {
    struct Dated {
        fs::file_time_type time;
        std::string text;
        fs::path path;
    };
    std::vector<Dated> dated;
    dated.reserve(logs.size());
    for (fs::path& log : logs) {
        std::error_code error;
        fs::file_time_type time = fs::last_write_time(log, error);
        if (error) time = fs::file_time_type::min();
        dated.push_back({time, PathText(log), std::move(log)});
    }
    // std::string compares its bytes as unsigned, as memcmp does.
    std::sort(dated.begin(), dated.end(), [](const Dated& a, const Dated& b) {
        return a.time != b.time ? a.time < b.time : a.text < b.text;
    });
    logs.clear();
    for (Dated& log : dated) logs.push_back(std::move(log.path));
}

LogSet ExpandLogSet(const LogSet& given, const LeaveOut& leaveOut) {
    LogSet logs;
    std::vector<fs::path> links;
    bool standardInput = false;
    for (const fs::path& path : given) {
        if (path == fs::path(platform::kStandardInput)) {
            if (standardInput) {
                throw ConversionError(
                    "Standard input (-) can be read only once, but stands twice among the logs.");
            }
            standardInput = true;
        }
        std::error_code error;
        if (path.empty() || path == fs::path(platform::kStandardInput) ||
            !fs::is_directory(path, error)) {
            logs.push_back(path);
            continue;
        }
        LogSet found;
        AddFilesBeneath(path, leaveOut, found, links);
        if (found.empty()) {
            throw ConversionError("The folder " + QuotedPath(path) + " holds no logs.");
        }
        SortOldestFirst(found);
        logs.insert(logs.end(), found.begin(), found.end());
    }
    ReadEachFileOnce(logs, links);
    return logs;
}

void LinePlaces::Add(const fs::path& log, std::uint64_t lines) {
    files_.push_back({log, PathText(log), total_ + 1, kNotKept});
    total_ += lines;
}

void LinePlaces::AddKept(const fs::path& list, std::uint64_t lines, KeptOrigins origins) {
    files_.push_back({list, PathText(list), total_ + 1, kept_.size()});
    kept_.push_back(std::move(origins));
    total_ += lines;
}

void LinePlaces::Reading(const fs::path& log) {
    reading_ = log;
    readingText_ = PathText(log);
}

const LinePlaces::File* LinePlaces::FileOf(std::uint64_t line) const {
    // The last file that starts at or before the line; past them all, the
    // file being read.
    const auto after =
        std::upper_bound(files_.begin(), files_.end(), line,
                         [](std::uint64_t at, const File& file) { return at < file.first; });
    if ((after == files_.end() && line > total_) || after == files_.begin()) return nullptr;
    return &*(after - 1);
}

std::string LinePlaces::Name(std::uint64_t line) const {
    const File* const file = FileOf(line);
    if (file == nullptr) {
        return readingText_ + ":" + std::to_string(line > total_ ? line - total_ : line);
    }
    const std::uint64_t own = line - file->first + 1;
    std::string name = file->text + ":" + std::to_string(own);
    if (file->kept != kNotKept) name += " (logged at " + std::string(kept_[file->kept][own]) + ")";
    return name;
}

SourceParts LinePlaces::SourceOf(std::uint64_t line) const {
    const File* const file = FileOf(line);
    if (file == nullptr) return {readingText_, line > total_ ? line - total_ : line};
    const std::uint64_t own = line - file->first + 1;
    if (file->kept != kNotKept) return {kept_[file->kept][own], 0};
    return {file->text, own};
}

std::string LinePlaces::Source(std::uint64_t line) const {
    const SourceParts parts = SourceOf(line);
    std::string source(parts.text);
    if (parts.line != 0) {
        source += ':';
        source += std::to_string(parts.line);
    }
    return source;
}

}  // namespace tsry
