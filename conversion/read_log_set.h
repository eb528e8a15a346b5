#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/progress.h"
#include "conversion/reading/log_set.h"
#include "conversion/records/record_table.h"

// The reading of a run: the logs of a set into one table of records.

namespace tsry {

// Cuts the records of one block of whole lines into `batch` and stores them;
// returns how many lines the block held.
std::uint64_t ExtractBlock(std::string_view block, std::uint64_t linesBefore, RecordTable& table,
                           std::vector<PendingRecord>& batch);

// The records of a set of logs, and where their lines stand.
struct SetRecords {
    RecordTable table;
    LinePlaces places;
};

// The logs that `given` stands for (ExpandLogSet) in a run that writes the
// files `written` (its script or list, the archive it keeps): the files
// beneath a folder leave out each of them, and the temporary files and the
// lock (KeptArchive) a run keeps beside them, so that a folder that holds its
// own script or archive converts the same every time. A written file is left
// out under its own name, through a link to it, and as another name of it (a
// hard link), which is said in `notes` where given; but the file that a
// written path, a link, points to under another name is a log, kept for
// RefuseToOverwriteALog to refuse. A log named outright is kept, for the
// refusal to name it. Every run of a set (the conversion, the list, the
// count) expands it here, so that all read the same logs.
[[nodiscard]] LogSet ExpandLogSetFor(const LogSet& given,
                                     std::span<const std::filesystem::path> written,
                                     std::vector<std::string>* notes = nullptr);
[[nodiscard]] LogSet ExpandLogSetFor(const LogSet& given, const std::filesystem::path& output);

// Reads every log of `logs` (folders expanded), one after another, into
// `records`, the progress shown from the start of the reading on. Every
// record error names PATH:LINE.
void ReadLogSet(const LogSet& logs, ProgressSink& sink, SetRecords& records);

// Refuses, before anything is read or written, an output that is one of the
// logs under any name (a link, a hard link, another spelling, standard output
// sent into it): the script would take the place of its only source. Throws
// for a log that cannot be opened, too. `what` the output is, for the
// message: "script", "list", "archive".
void RefuseToOverwriteALog(const LogSet& logs, const std::filesystem::path& output,
                           std::string_view what = "script");

}  // namespace tsry
