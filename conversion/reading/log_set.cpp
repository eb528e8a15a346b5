#include "conversion/reading/log_set.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"

namespace tsry {

namespace {

namespace fs = std::filesystem;

bool Hidden(const fs::path& path) {
    const fs::path::string_type name = path.filename().native();
    return !name.empty() && name.front() == '.';
}

// The files beneath `folder`, in no particular order.
void AddFilesBeneath(const fs::path& folder, LogSet& logs) {
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error);
    const fs::recursive_directory_iterator end;
    for (; !error && it != end; it.increment(error)) {
        if (Hidden(it->path())) {
            if (it->is_directory(error)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(error)) logs.push_back(it->path());
    }
    if (error) throw FileError("Cannot read the folder", folder, error.value());
}

}  // namespace

void SortOldestFirst(LogSet& logs) {
    std::vector<std::pair<fs::file_time_type, fs::path>> dated;
    dated.reserve(logs.size());
    for (fs::path& log : logs) {
        std::error_code error;
        fs::file_time_type time = fs::last_write_time(log, error);
        if (error) time = fs::file_time_type::min();
        dated.emplace_back(time, std::move(log));
    }
    std::sort(dated.begin(), dated.end());
    logs.clear();
    for (auto& [time, log] : dated) logs.push_back(std::move(log));
}

LogSet ExpandLogSet(const LogSet& given) {
    LogSet logs;
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
        AddFilesBeneath(path, found);
        if (found.empty()) {
            throw ConversionError("The folder " + QuotedPath(path) + " holds no logs.");
        }
        SortOldestFirst(found);
        logs.insert(logs.end(), found.begin(), found.end());
    }
    return logs;
}

void LinePlaces::Add(const fs::path& log, std::uint64_t lines) {
    files_.push_back({log, total_ + 1});
    total_ += lines;
}

std::string LinePlaces::Name(std::uint64_t line) const {
    // The last file that starts at or before the line; past them all, the
    // file being read.
    const auto after =
        std::upper_bound(files_.begin(), files_.end(), line,
                         [](std::uint64_t at, const File& file) { return at < file.first; });
    if (after == files_.end() && line > total_) {
        return PathText(reading_) + ":" + std::to_string(line - total_);
    }
    if (after == files_.begin()) return PathText(reading_) + ":" + std::to_string(line);
    const File& file = *(after - 1);
    return PathText(file.path) + ":" + std::to_string(line - file.first + 1);
}

}  // namespace tsry
