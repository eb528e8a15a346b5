#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "conversion/record_table.h"

// The restore script: an opening block, one statement group per record, and a
// closing block. Every line, the last included, ends with CR LF.

namespace tsry {

// Where the script's bytes go.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Writes all of `bytes` or throws ConversionError.
    virtual void Write(std::string_view bytes) = 0;
};

class ScriptWriter {
  public:
    explicit ScriptWriter(ByteSink& sink);

    void WriteOpening();
    // The statement group of one record; a record of any other Kind than INT,
    // STR, FLT or LOC writes nothing. `line` is the log line that gave the
    // record its values, for the message of a malformed location (which throws
    // ConversionError before anything of the group is written).
    void WriteRecord(const LogRecord& record, std::uint64_t line);
    // The statement group of slot `index` of `table`.
    void WriteRecord(const RecordTable& table, std::size_t index);
    void WriteClosing();

    // Hands everything written so far to the sink.
    void Flush();

  private:
    void FlushIfFull();
    void Put(std::string_view text);
    void PutQuoted(std::string_view text);
    // call "Name" middle value, Extra1, Extra2, Extra3);
    void PutNameAndExtras(std::string_view call, const LogRecord& record, std::string_view middle,
                          std::string_view value, bool quotedValue);

    ByteSink& sink_;
    std::string pending_;
};

// Appends `text` for use between double quotes in the script: a backslash
// becomes two, a double quote becomes backslash quote.
void AppendQuoted(std::string& out, std::string_view text);

}  // namespace tsry
