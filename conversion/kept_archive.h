#pragma once

#include <filesystem>
#include <memory>

#include "conversion/platform/file_lock.h"
#include "conversion/read_log_set.h"

// The archive of a server's history: every variable ever read, newest value
// first appeared first, in the list's format (reading/kept_list.h), which a
// run reads as the earliest part of its set and then replaces with the
// merged list, so that values outlive the logs that held them.

namespace tsry {

// One run's hold on an archive. The sequence of a run that keeps one:
//
//     KeptArchive archive(path);        // locked: another run waits here
//     SetRecords records;
//     archive.Read(records);            // the archive first, where it exists
//     ReadLogSet(set, progress, records);  // then the logs, in their order
//     archive.Replace(records);         // the merged list, safely
//     ... the script from records ...   // the lock goes with the object
//
// Reading the same logs into an archive twice gives the same archive: a
// name keeps its slot of first appearance, a row its original source, and a
// record read again changes nothing. The set's logs must leave the archive
// out (ExpandLogSetFor with the archive among the files written) and be
// checked with RefuseToKeepALog.
class KeptArchive {
  public:
    // Locks the archive at `path` for the life of the object, with the file
    // "<name>.lock" beside the archive (links followed; ArchiveLock): another
    // KeptArchive of the same archive, in this program or another, waits in
    // its constructor until this one is gone, so that neither loses the
    // other's records. Throws ConversionError where it cannot lock, and for
    // "-", which cannot be replaced.
    explicit KeptArchive(std::filesystem::path path);

    // Reads the archive, where it exists, into `records`, which must be empty
    // still: the archive is the earliest part of the set. Throws
    // ConversionError "PATH:LINE: ..." for a file that is no list, having
    // read nothing.
    void Read(SetRecords& records);

    // Replaces the archive with the list of `records` (WriteList), as a
    // script is replaced (ReplacementFile: a temporary file, flushed,
    // renamed; links followed, the mode kept). Where the file holds these
    // very bytes already (compared whole, byte for byte, with the file the
    // replacement would replace), it is left as it is, its modification
    // time too, and nothing is flushed. Throws ConversionError, leaving the
    // archive as it was.
    void Replace(const SetRecords& records);

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    // Whether another run held the archive when this one came: it waited.
    [[nodiscard]] bool waited() const noexcept { return lock_->waited(); }

  private:
    std::filesystem::path path_;
    std::unique_ptr<platform::FileLock> lock_;
};

// The lock file of the archive at `path`: "<name>.lock" beside the file the
// archive's path finally names. Empty where that cannot be known.
[[nodiscard]] std::filesystem::path ArchiveLock(const std::filesystem::path& path);

// Refuses, before anything is read or written, an archive that is one of the
// logs (under any name) or the file the run writes as its output.
void RefuseToKeepALog(const LogSet& logs, const std::filesystem::path& archive,
                      const std::filesystem::path& output);

}  // namespace tsry
