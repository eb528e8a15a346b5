#include "conversion/kept_archive.h"

#include <optional>
#include <utility>

#include "conversion/list_logs.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/reading/kept_list.h"
#include "conversion/script/replacement_file.h"

namespace tsry {

std::filesystem::path ArchiveLock(const std::filesystem::path& path) {
    std::filesystem::path lock = ReplacedFile(path);
    if (!lock.empty()) lock += ".lock";
    return lock;
}

KeptArchive::KeptArchive(std::filesystem::path path) : path_(std::move(path)) {
    if (path_.empty() || path_ == std::filesystem::path(kStandardOutput)) {
        throw ConversionError("The archive must be a file: " + QuotedPath(path_) +
                              " cannot be read and replaced.");
    }
    const std::filesystem::path lock = ArchiveLock(path_);
    if (lock.empty()) {
        throw ConversionError("Cannot lock the archive " + QuotedPath(path_) +
                              ": its folder cannot be found");
    }
    lock_ = std::make_unique<platform::FileLock>(lock, "the archive");
}

void KeptArchive::Read(SetRecords& records) { ReadKeptList(path_, records.table, records.places); }

void KeptArchive::Replace(const SetRecords& records) {
    ReplacementFile archive(path_, "archive");
    WriteList(records, archive);
    archive.Commit();
}

void RefuseToKeepALog(const LogSet& logs, const std::filesystem::path& archive,
                      const std::filesystem::path& output) {
    RefuseToOverwriteALog(logs, archive, "archive");
    const std::optional<platform::FileIdentity> kept = platform::OutputIdentity(archive);
    const std::filesystem::path final = ReplacedFile(archive);
    const bool same = kept ? kept == platform::OutputIdentity(output)
                           : !final.empty() && final == ReplacedFile(output);
    if (same) {
        throw ConversionError("the archive " + QuotedPath(archive) + " and the output " +
                              QuotedPath(output) + " are one file: name two");
    }
}

}  // namespace tsry
