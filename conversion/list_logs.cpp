#include "conversion/list_logs.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/kept_archive.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/kept_list.h"
#include "conversion/script/replacement_file.h"

namespace tsry {

void WriteList(const SetRecords& records, ByteSink& sink) {
    const RecordTable& table = records.table;
    std::string rows;
    rows += kListHeader;
    rows += '\n';
    for (std::size_t i = 0; i < table.size(); ++i) {
        AppendListRow(rows, table[i], records.places.Source(table.LineOf(i)));
        if (rows.size() >= (std::size_t{256} << 10)) {
            sink.Write(rows);
            rows.clear();
        }
    }
    sink.Write(rows);
}

std::size_t ListLogs(const LogSet& logs, ProgressSink& progress,
                     const std::filesystem::path& outputPath,
                     const std::filesystem::path& archive) {
    try {
        // What a conversion here would read: its script is no log.
        std::vector<std::filesystem::path> written{std::filesystem::path(kDefaultScriptName),
                                                   outputPath};
        if (!archive.empty()) written.push_back(archive);
        const LogSet set = ExpandLogSetFor(logs, written);
        RefuseToOverwriteALog(set, outputPath, "list");
        if (!archive.empty()) RefuseToKeepALog(set, archive, outputPath);
        ReplacementFile output(outputPath, "list");
        std::optional<KeptArchive> kept;
        SetRecords records;
        if (!archive.empty()) kept.emplace(archive).Read(records);
        ReadLogSet(set, progress, records);
        if (kept) kept->Replace(records);
        WriteList(records, output);
        output.Commit();
        progress.Hide();
        return records.table.size();
    } catch (...) {
        RethrowAsConversionError();
    }
}

}  // namespace tsry
