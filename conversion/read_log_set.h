#pragma once

#include <cstdint>
#include <filesystem>
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

// The logs that `given` stands for (ExpandLogSet) in a run that writes
// `output`: the files beneath a folder leave out the output itself, under any
// name (the same file, also through links, as RefuseToOverwriteALog compares
// them), and the temporary files a run writes beside it, so that a folder
// that holds its own script converts the same every time. A log named
// outright is kept, for the refusal to name it.
[[nodiscard]] LogSet ExpandLogSetFor(const LogSet& given, const std::filesystem::path& output);

// Reads every log of `logs` (folders expanded), one after another, into
// `records`, the progress shown from the start of the reading on. Every
// record error names PATH:LINE.
void ReadLogSet(const LogSet& logs, ProgressSink& sink, SetRecords& records);

// Refuses, before anything is read or written, an output that is one of the
// logs under any name (a link, a hard link, another spelling, standard output
// sent into it): the script would take the place of its only source. Throws
// for a log that cannot be opened, too.
void RefuseToOverwriteALog(const LogSet& logs, const std::filesystem::path& output);

}  // namespace tsry
