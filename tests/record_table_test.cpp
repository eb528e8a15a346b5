#include "conversion/records/record_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "conversion/platform/conversion_error.h"

namespace tsry {
namespace {

struct Fields {
    std::string Kind, Name, Value, Extra1, Extra2, Extra3;
    bool operator==(const Fields&) const = default;
};

Fields At(const RecordTable& table, std::size_t index) {
    const LogRecord r = table[index];
    return {std::string(r.Kind),   std::string(r.Name),   std::string(r.Value),
            std::string(r.Extra1), std::string(r.Extra2), std::string(r.Extra3)};
}

std::string ErrorOf(std::string_view line, std::uint64_t number = 7) {
    RecordTable table;
    try {
        ExtractRecord(line, number, table);
    } catch (const ConversionError& e) {
        return e.what();
    }
    return "no error";
}

TEST(ExtractRecord, CutsTheSixFieldsAfterTheTag) {
    RecordTable table;
    EXPECT_TRUE(ExtractRecord("[t] <TS_RY>INT#gold#150#0#0#x#", 1, table));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(At(table, 0), (Fields{"INT", "gold", "150", "0", "0", "x"}));
    EXPECT_EQ(table.LineOf(0), 1u);
}

TEST(ExtractRecord, IgnoresLinesWithoutTheTag) {
    RecordTable table;
    EXPECT_FALSE(ExtractRecord("", 1, table));
    EXPECT_FALSE(ExtractRecord("[t] Player joined", 2, table));
    EXPECT_FALSE(ExtractRecord("[t] <ts_ry>INT#a#1#0#0#0#", 3, table));  // letter case counts
    EXPECT_FALSE(ExtractRecord("[t] <TS_RY INT#a#1#0#0#0#", 4, table));
    EXPECT_TRUE(table.empty());
}

TEST(ExtractRecord, RecognisesTheTagAtTheFirstCharacter) {
    RecordTable table;
    EXPECT_TRUE(ExtractRecord("<TS_RY>INT#gold#1#0#0#0#", 1, table));
    EXPECT_EQ(At(table, 0), (Fields{"INT", "gold", "1", "0", "0", "0"}));
}

TEST(ExtractRecord, IgnoresTheTailAndKeepsEmptyFields) {
    RecordTable table;
    ExtractRecord("x<TS_RY>STR#a#b#c#d#e#f#g# trailing", 1, table);
    ExtractRecord("x<TS_RY>######", 2, table);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(At(table, 0), (Fields{"STR", "a", "b", "c", "d", "e"}));
    EXPECT_EQ(At(table, 1), (Fields{}));
}

TEST(ExtractRecord, UsesOnlyTheFirstTagOfALine) {
    RecordTable table;
    ExtractRecord("x<TS_RY>STR#a#<TS_RY>INT#b#0#0#", 1, table);
    EXPECT_EQ(At(table, 0), (Fields{"STR", "a", "<TS_RY>INT", "b", "0", "0"}));
}

TEST(ExtractRecord, TakesFieldsVerbatim) {
    RecordTable table;
    static constexpr char kLine[] = "x<TS_RY> INT #\"q\\ \x80#\0#\t##\xff#";
    ExtractRecord(std::string_view(kLine, sizeof kLine - 1), 1, table);
    EXPECT_EQ(At(table, 0),
              (Fields{" INT ", "\"q\\ \x80", std::string(1, '\0'), "\t", "", "\xff"}));
}

TEST(ExtractRecord, NamesTheLineAndTheMissingFields) {
    EXPECT_EQ(ErrorOf("x<TS_RY>INT#gold#150#0#0#", 1234),
              "line 1234: the record after <TS_RY> is cut short: only 5 of its 6 fields (Kind, "
              "Name, Value, Extra1, Extra2) end with \"#\"; missing: Extra3. A record line must "
              "read Kind#Name#Value#Extra1#Extra2#Extra3# after the tag.");
    EXPECT_EQ(ErrorOf("x<TS_RY>INT#gold"),
              "line 7: the record after <TS_RY> is cut short: only 1 of its 6 fields (Kind) ends "
              "with \"#\"; missing: Name, Value, Extra1, Extra2, Extra3. A record line must read "
              "Kind#Name#Value#Extra1#Extra2#Extra3# after the tag.");
    // A line end in the text ends the line, wherever it stands.
    for (const auto& [text, fields] : {std::pair{"x<TS_RY>#\r#####", "only 1 "},
                                       std::pair{"x<TS_RY>INT#gold#1#0#\n0#0#", "only 4 "}}) {
        EXPECT_EQ(ErrorOf(text).substr(0, 54),
                  std::string("line 7: the record after <TS_RY> is cut short: ") + fields)
            << text;
    }
    EXPECT_EQ(ErrorOf("<TS_RY>"),
              "line 7: the record after <TS_RY> is cut short: none of its 6 fields ends with "
              "\"#\"; missing: Kind, Name, Value, Extra1, Extra2, Extra3. A record line must read "
              "Kind#Name#Value#Extra1#Extra2#Extra3# after the tag.");
}

TEST(RecordTable, KeepsTheFirstSlotAndTheNewestValuesOfAName) {
    RecordTable table;
    ExtractRecord("x<TS_RY>INT#A#1#0#0#0#", 1, table);
    ExtractRecord("x<TS_RY>INT#B#2#0#0#0#", 2, table);
    ExtractRecord("x<TS_RY>FLT#A#3.5#7#8#9#", 3, table);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(At(table, 0), (Fields{"FLT", "A", "3.5", "7", "8", "9"}));
    EXPECT_EQ(table.LineOf(0), 3u);
    EXPECT_EQ(At(table, 1), (Fields{"INT", "B", "2", "0", "0", "0"}));
    EXPECT_EQ(table.LineOf(1), 2u);
}

TEST(RecordTable, TakesFieldsFromWhereverTheyLie) {
    // Through the table's own Store: fields cut from one line, or one of
    // them from somewhere else, which the table must not take from the line.
    const std::string line = "INT#name#value#e1#e2#e3";
    const std::string elsewhere = "other";
    const Fields inLine{"INT", "name", "value", "e1", "e2", "e3"};
    for (int apart = -1; apart < 6; ++apart) {
        LogRecord record;
        std::string_view* const fields[6] = {&record.Kind,   &record.Name,   &record.Value,
                                             &record.Extra1, &record.Extra2, &record.Extra3};
        std::size_t at = 0;
        for (int k = 0; k < 6; ++k) {
            const std::size_t end = std::min(line.find('#', at), line.size());
            *fields[k] = std::string_view(line).substr(at, end - at);
            at = end + 1;
        }
        Fields expected = inLine;
        if (apart >= 0) {
            *fields[apart] = elsewhere;
            std::string* const wanted[6] = {&expected.Kind,   &expected.Name,   &expected.Value,
                                            &expected.Extra1, &expected.Extra2, &expected.Extra3};
            *wanted[apart] = elsewhere;
        }
        RecordTable table;
        table.Store(record, 1);
        EXPECT_EQ(At(table, 0), expected) << "field " << apart << " apart";
    }
}

TEST(RecordTable, EmptiedKeepsNothingOfItsRecordsButItsMemory) {
    // As the table of a set's second halves is emptied for every log, then
    // destroyed: a huge value's memory is given back once, when it goes, and
    // every log's text takes the place of the last's instead of growing.
    RecordTable table;
    const char* firstText = nullptr;
    for (std::size_t log = 0; log < 3; ++log) {
        table.Store({"STR", "huge", std::string(100000 + log, 'h'), "", "", ""}, 1);
        table.Store({"STR", "small", "s", "", "", ""}, 2);
        ASSERT_EQ(table.size(), 2u);
        EXPECT_EQ(table[0].Value, std::string(100000 + log, 'h'));
        EXPECT_EQ(table[1].Value, "s");
        if (log == 0) firstText = table[1].Kind.data();
        EXPECT_EQ(table[1].Kind.data(), firstText);
        table.Clear();
        EXPECT_TRUE(table.empty());
    }
    table.Clear();
}

TEST(RecordTable, ComparesNamesExactly) {
    RecordTable table;
    ExtractRecord("x<TS_RY>INT#gold#1#0#0#0#", 1, table);
    ExtractRecord("x<TS_RY>INT#Gold#2#0#0#0#", 2, table);
    ExtractRecord("x<TS_RY>INT#gold #3#0#0#0#", 3, table);
    ExtractRecord("x<TS_RY>INT##4#0#0#0#", 4, table);
    ExtractRecord("x<TS_RY>INT##5#0#0#0#", 5, table);
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(At(table, 3).Value, "5");
}

TEST(RecordTable, HoldsManyNamesInOrderOfFirstAppearance) {
    // Far past any fixed capacity, with updates that must find their slot after
    // the index has grown many times.
    RecordTable table;
    constexpr int kNames = 120000;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kNames; ++i) {
            const std::string name = "name" + std::to_string(i * 7919 % kNames);
            const std::string value = std::to_string(round);
            table.Store({"INT", name, value, "", "", ""}, static_cast<std::uint64_t>(round));
        }
    }
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kNames));
    for (int i = 0; i < kNames; i += 997) {
        EXPECT_EQ(table[static_cast<std::size_t>(i)].Name,
                  "name" + std::to_string(i * 7919 % kNames));
        EXPECT_EQ(table[static_cast<std::size_t>(i)].Value, "1");
    }
}

TEST(RecordTable, KeepsEveryValueWhateverItsLengthOverTime) {
    // A value that grows, shrinks and turns huge, between two neighbours whose
    // text must not be touched; the table moved half-way.
    RecordTable table;
    table.Store({"STR", "before", "b", "", "", ""}, 1);
    table.Store({"STR", "name", "", "", "", ""}, 2);
    table.Store({"STR", "after", "a", "", "", ""}, 3);
    std::uint64_t line = 4;
    for (const std::size_t length : {1u, 10u, 9u, 300u, 100000u, 5u, 250000u, 250001u, 3u, 0u}) {
        const std::string value(length, static_cast<char>('a' + length % 26));
        table.Store({"STR", "name", value, "x", "", std::string(length % 7, 'e')}, line);
        if (line == 8) {
            RecordTable moved(std::move(table));
            table = std::move(moved);
        }
        ASSERT_EQ(table.size(), 3u);
        EXPECT_EQ(table[1].Value, value);
        EXPECT_EQ(table[1].Extra1, "x");
        EXPECT_EQ(table[1].Extra3, std::string(length % 7, 'e'));
        EXPECT_EQ(table.LineOf(1), line++);
        EXPECT_EQ(table[0].Value, "b");
        EXPECT_EQ(table[2].Value, "a");
    }
    // Cut from log lines, of every length around the short copies' sizes.
    for (std::size_t length = 0; length < 100; ++length) {
        std::string value;
        for (std::size_t k = 0; k < length; ++k)
            value += static_cast<char>('a' + (k + length) % 26);
        ASSERT_TRUE(ExtractRecord("<TS_RY>STR#name#" + value + "#x##e#", line, table));
        EXPECT_EQ(table[1].Value, value);
        EXPECT_EQ(table[1].Extra3, "e");
    }
}

}  // namespace
}  // namespace tsry
