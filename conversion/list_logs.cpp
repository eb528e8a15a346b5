#include "conversion/list_logs.h"

#include <algorithm>
#include <memory>
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
    // Rows written straight into one buffer, handed on whenever the next row
    // might not fit; a row longer than the buffer gets one of its own size.
    constexpr std::size_t kBufferSize = std::size_t{256} << 10;
    std::size_t capacity = kBufferSize;
    std::unique_ptr<char[]> buffer(new char[capacity]);
    char* out = std::copy(kListHeader.begin(), kListHeader.end(), buffer.get());
    *out++ = '\n';
    const RecordTable& table = records.table;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const LogRecord record = table[i];
        const SourceParts source = records.places.SourceOf(table.LineOf(i));
        const std::size_t bound = ListRowBound(record, source);
        if (bound > capacity - static_cast<std::size_t>(out - buffer.get())) {
            sink.Write({buffer.get(), static_cast<std::size_t>(out - buffer.get())});
            out = buffer.get();
            if (bound > capacity) {
                capacity = bound;
                buffer.reset(new char[capacity]);
                out = buffer.get();
            }
        }
        out = PutListRow(out, record, source);
    }
    sink.Write({buffer.get(), static_cast<std::size_t>(out - buffer.get())});
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
