#include "conversion/list_logs.h"

#include <string>
#include <string_view>

#include "conversion/platform/conversion_error.h"
#include "conversion/read_log_set.h"
#include "conversion/script/replacement_file.h"

namespace tsry {

namespace {

// A field of a list row: a backslash, tab, CR or LF written as \\, \t, \r
// or \n, so that the row stays one line of tab-separated values.
void PutListField(std::string& row, std::string_view field) {
    for (const char c : field) {
        switch (c) {
            case '\\':
                row += "\\\\";
                break;
            case '\t':
                row += "\\t";
                break;
            case '\r':
                row += "\\r";
                break;
            case '\n':
                row += "\\n";
                break;
            default:
                row += c;
        }
    }
}

}  // namespace

std::size_t ListLogs(const LogSet& logs, ProgressSink& progress,
                     const std::filesystem::path& outputPath) {
    try {
        const LogSet set = ExpandLogSetFor(logs, outputPath);
        RefuseToOverwriteALog(set, outputPath);
        ReplacementFile output(outputPath);
        SetRecords records;
        ReadLogSet(set, progress, records);
        const RecordTable& table = records.table;

        std::string rows = "name\tkind\tvalue\textra1\textra2\textra3\tsource\n";
        for (std::size_t i = 0; i < table.size(); ++i) {
            const LogRecord record = table[i];
            for (const std::string_view field : {record.Name, record.Kind, record.Value,
                                                 record.Extra1, record.Extra2, record.Extra3}) {
                PutListField(rows, field);
                rows += '\t';
            }
            PutListField(rows, records.places.Name(table.LineOf(i)));
            rows += '\n';
            if (rows.size() >= (std::size_t{256} << 10)) {
                output.Write(rows);
                rows.clear();
            }
        }
        output.Write(rows);
        output.Commit();
        progress.Hide();
        return table.size();
    } catch (...) {
        RethrowAsConversionError();
    }
}

}  // namespace tsry
