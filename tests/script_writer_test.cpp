#include "conversion/script_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "conversion/conversion_error.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::CrLf;

class StringSink final : public ByteSink {
  public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// The statement lines written for the records of `log` (one record line each).
std::string Statements(const std::vector<std::string>& log) {
    RecordTable table;
    std::uint64_t number = 0;
    for (const auto& line : log) ExtractRecord(line, ++number, table);
    StringSink sink;
    ScriptWriter writer(sink);
    for (std::size_t i = 0; i < table.size(); ++i) writer.WriteRecord(table, i);
    writer.Flush();
    return sink.text;
}

TEST(ScriptWriter, WritesOpeningAndClosingBlocks) {
    StringSink sink;
    ScriptWriter writer(sink);
    writer.WriteOpening();
    writer.WriteClosing();
    writer.Flush();
    EXPECT_EQ(sink.text, test::ScriptOpening() + test::ScriptClosing());
    EXPECT_EQ(std::count(sink.text.begin(), sink.text.end(), '\n'), 15);
}

TEST(ScriptWriter, WritesTheStatementGroupOfEachKind) {
    EXPECT_EQ(Statements({
                  "[t] <TS_RY>INT#gold#150#0#0#x#",
                  "[t] <TS_RY>STR#title#Sir#0#0#x#",
                  "[t] <TS_RY>INT#gold#200#1#2#y#",
                  "[t] <TS_RY>LOC#home#area01*10.0*20.5*0.0*90.0*#0#0#z#",
                  "[t] <TS_RY>FLT#rate#1.5#3#4#5#",
              }),
              CrLf({
                  "    SetTSRYInt(\"gold\", 200, 1, 2, y);",
                  "    SetTSRYString(\"title\", \"Sir\", 0, 0, x);",
                  "    oTYArea=GetObjectByTag(\"area01\");",
                  "    vTYVector=Vector(10.0, 20.5, 0.0);",
                  "    lTYLoc=Location(oTYArea, vTYVector, 90.0);",
                  "    SetTSRYLocationC(\"home\", lTYLoc, 0, 0, z);",
                  "    SetTSRYFloat(\"rate\", 1.5, 3, 4, 5);",
              }));
}

TEST(ScriptWriter, WritesNothingForOtherKinds) {
    EXPECT_EQ(Statements({"x<TS_RY>int#a#1#0#0#0#", "x<TS_RY>INT #b#1#0#0#0#",
                          "x<TS_RY>OBJ#c#1#0#0#0#", "x<TS_RY>#d#1#0#0#0#"}),
              "");
}

TEST(ScriptWriter, WritesEmptyLocationParts) {
    EXPECT_EQ(Statements({"x<TS_RY>LOC#spot#*****tail#a#b#c#"}),
              CrLf({
                  "    oTYArea=GetObjectByTag(\"\");",
                  "    vTYVector=Vector(, , );",
                  "    lTYLoc=Location(oTYArea, vTYVector, );",
                  "    SetTSRYLocationC(\"spot\", lTYLoc, a, b, c);",
              }));
}

TEST(ScriptWriter, EscapesQuotedTextOnly) {
    // Name, the Value of a string and the area tag go between quotes; a quote
    // or backslash in them must not end the literal or escape its end.
    EXPECT_EQ(Statements({
                  R"(x<TS_RY>STR#say "hi"#C:\dir\#0#0#0#)",
                  R"(x<TS_RY>LOC#a\b#ar"1"*1*2*3*4*#0#0#0#)",
                  R"(x<TS_RY>INT#n#"1"\#"e1"#\#x#)",
                  R"(x<TS_RY>STR#end#"); DestroyObject(GetModule()); //#0#0#0#)",
              }),
              CrLf({
                  R"(    SetTSRYString("say \"hi\"", "C:\\dir\\", 0, 0, 0);)",
                  R"(    oTYArea=GetObjectByTag("ar\"1\"");)",
                  R"(    vTYVector=Vector(1, 2, 3);)",
                  R"(    lTYLoc=Location(oTYArea, vTYVector, 4);)",
                  R"(    SetTSRYLocationC("a\\b", lTYLoc, 0, 0, 0);)",
                  R"(    SetTSRYInt("n", "1"\, "e1", \, x);)",
                  R"(    SetTSRYString("end", "\"); DestroyObject(GetModule()); //", 0, 0, 0);)",
              }));
}

TEST(ScriptWriter, RejectsACutShortLocationBeforeWritingItsGroup) {
    RecordTable table;
    ExtractRecord("x<TS_RY>INT#gold#1#0#0#0#", 3, table);
    ExtractRecord("x<TS_RY>LOC#home#area01*10.0*20.5*0.0*90.0#0#0#0#", 9, table);
    StringSink sink;
    ScriptWriter writer(sink);
    writer.WriteRecord(table, 0);
    try {
        writer.WriteRecord(table, 1);
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "line 9: the location of variable \"home\" is cut short: only 4 of its 5 parts "
                  "(AreaTag, PosX, PosY, PosZ) end with \"*\"; missing: Facing. A location must "
                  "read AreaTag*PosX*PosY*PosZ*Facing*.");
    }
    writer.Flush();
    EXPECT_EQ(sink.text, CrLf({"    SetTSRYInt(\"gold\", 1, 0, 0, 0);"}));
}

TEST(ScriptWriter, HandsLargeOutputToTheSinkInPieces) {
    class CountingSink final : public ByteSink {
      public:
        void Write(std::string_view bytes) override {
            ++writes;
            text.append(bytes);
        }
        int writes = 0;
        std::string text;
    } sink;
    ScriptWriter writer(sink);
    const std::string value(1000, 'v');
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        writer.WriteRecord({"STR", "n", value, "0", "0", "0"}, 1);
        expected += "    SetTSRYString(\"n\", \"" + value + "\", 0, 0, 0);\r\n";
    }
    writer.Flush();
    EXPECT_GT(sink.writes, 1);
    EXPECT_EQ(sink.text, expected);
}

TEST(ScriptWriter, EscapesAHugeValueAcrossItsSlices) {
    std::string value(700000, 'v');
    for (std::size_t i = 0; i < value.size(); i += 4099) value[i] = (i / 4099) % 2 ? '"' : '\\';
    for (std::size_t i : {262143u, 262144u, 262145u, 524287u, 524288u}) value[i] = '"';
    value.back() = '\\';
    std::string escaped;
    for (char c : value) {
        if (c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    const std::string big(300000, 'x');
    EXPECT_TRUE(
        Statements({"x<TS_RY>STR#" + value + "#" + value + "#" + big + "#0#0#"}) ==
        CrLf({"    SetTSRYString(\"" + escaped + "\", \"" + escaped + "\", " + big + ", 0, 0);"}));
}

}  // namespace
}  // namespace tsry
