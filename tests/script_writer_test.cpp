#include "conversion/script/script_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "conversion/platform/conversion_error.h"
#include "tests/model.h"
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

TEST(ScriptWriter, EscapesQuotedTextOnly) {
    // Name, the Value of a string and the area tag go between quotes; a quote
    // or backslash in them must not end the literal or escape its end.
    EXPECT_EQ(Statements({
                  R"(x<TS_RY>STR#say "hi"#C:\dir\#0#0#0#)",
                  R"(x<TS_RY>LOC#a\b#ar"1"*1*2*3*4*#0#0#0#)",
                  R"(x<TS_RY>STR#end#"); DestroyObject(GetModule()); //#0#0#0#)",
              }),
              CrLf({
                  R"(    SetTSRYString("say \"hi\"", "C:\\dir\\", 0, 0, 0);)",
                  R"(    oTYArea=GetObjectByTag("ar\"1\"");)",
                  R"(    vTYVector=Vector(1.0, 2.0, 3.0);)",
                  R"(    lTYLoc=Location(oTYArea, vTYVector, 4.0);)",
                  R"(    SetTSRYLocationC("a\\b", lTYLoc, 0, 0, 0);)",
                  R"(    SetTSRYString("end", "\"); DestroyObject(GetModule()); //", 0, 0, 0);)",
              }));
}

TEST(ScriptWriter, EscapesAQuoteOrBackslashAnywhereInTextOfAnyLength) {
    // Short texts are looked at a word at a time: a special character in
    // every place of every word, the last one overlapping, and past them.
    StringSink sink;
    ScriptWriter writer(sink);
    std::string expected;
    for (std::size_t length = 1; length <= 80; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            for (const char special : {'"', '\\'}) {
                std::string text(length, 'a');
                text[at] = special;
                writer.WriteRecord({"STR", text, "v", "0", "0", "0"}, 1);
                expected += "    SetTSRYString(" + model::Quoted(text) + ", \"v\", 0, 0, 0);\r\n";
            }
        }
    }
    writer.Flush();
    EXPECT_TRUE(sink.text == expected);
}

// `text` with every "@" turned into a NUL byte.
std::string Nul(std::string text) {
    std::replace(text.begin(), text.end(), '@', '\0');
    return text;
}

// The message of the error that writing the record of `line` ends with.
std::string Rejection(const std::string& line) {
    try {
        const std::string written = Statements({line});
        return "no error, wrote " + written;
    } catch (const ConversionError& e) {
        return e.what();
    }
}

TEST(ScriptWriter, WritesPlainValuesAsTheyStand) {
    EXPECT_EQ(Statements({
                  "x<TS_RY>FLT#pad#       1.500000000#-1#+2#TRUE#",
                  "x<TS_RY>INT#hex#0x1F#OBJECT_INVALID#1e-5#-#", "x<TS_RY>INT#empty######",
                  "x<TS_RY>LOC#at#ar_01*-0.5*+1.25*0*  90.0*#0#0#0#",
                  "x<TS_RY>FLT#pi#PI#0#0#0#",  // a float constant of the module
              }),
              CrLf({
                  "    SetTSRYFloat(\"pad\",        1.500000000, -1, +2, TRUE);",
                  "    SetTSRYInt(\"hex\", 0x1F, OBJECT_INVALID, 1e-5, -);",
                  "    SetTSRYInt(\"empty\", , , , );",
                  "    oTYArea=GetObjectByTag(\"ar_01\");",
                  "    vTYVector=Vector(-0.5, 1.25, 0.0);",
                  "    lTYLoc=Location(oTYArea, vTYVector,   90.0);",
                  "    SetTSRYLocationC(\"at\", lTYLoc, 0, 0, 0);",
                  "    SetTSRYFloat(\"pi\", PI, 0, 0, 0);",
              }));
}

TEST(ScriptWriter, WritesFloatsAsLiteralsTheCompilersReadAsLogged) {
    // Every float field, and only those: a Value of 0.05 or a coordinate of
    // 56.61 would arrive a step off if written as logged.
    EXPECT_EQ(Statements({
                  "x<TS_RY>FLT#rate#0.05#0.05#0#0#",
                  "x<TS_RY>FLT#pad#       0.699999988#0#0#0#",
                  "x<TS_RY>LOC#at#0.05*56.61*       0.699999988*-0.05*359.999999*#0#0#0.05#",
                  "x<TS_RY>LOC#same#a*1.5*-2.25*0*  90.0*#0#0#0#",
                  "x<TS_RY>LOC#far#b*3355541504*- 0.05*0.05 *1*#0#0#0#",
                  "x<TS_RY>INT#count#0.05#0#0#0#",
                  "x<TS_RY>STR#text#0.05#0#0#0#",
              }),
              CrLf({
                  "    SetTSRYFloat(\"rate\", 0.050000002, 0.05, 0, 0);",
                  "    SetTSRYFloat(\"pad\", 0.7, 0, 0, 0);",
                  "    oTYArea=GetObjectByTag(\"0.05\");",
                  "    vTYVector=Vector(56.610002, 0.7, -0.050000002);",
                  "    lTYLoc=Location(oTYArea, vTYVector, 360.0);",
                  "    SetTSRYLocationC(\"at\", lTYLoc, 0, 0, 0.05);",
                  "    oTYArea=GetObjectByTag(\"a\");",
                  "    vTYVector=Vector(1.5, -2.25, 0.0);",
                  "    lTYLoc=Location(oTYArea, vTYVector,   90.0);",
                  "    SetTSRYLocationC(\"same\", lTYLoc, 0, 0, 0);",
                  "    oTYArea=GetObjectByTag(\"b\");",
                  "    vTYVector=Vector((102403.0 * 32768.0), -0.050000002, 0.050000002);",
                  "    lTYLoc=Location(oTYArea, vTYVector, 1.0);",
                  "    SetTSRYLocationC(\"far\", lTYLoc, 0, 0, 0);",
                  "    SetTSRYInt(\"count\", 0.05, 0, 0, 0);",
                  "    SetTSRYString(\"text\", \"0.05\", 0, 0, 0);",
              }));
}

TEST(ScriptWriter, RejectsScriptCodeInFieldsWrittenAsTheyStand) {
    // A player who gets text into the log must not get a call into the script.
    const std::string code = "1, 0, 0, 0); SetTSRYInt(\"pwned\", 1";
    const std::string shown = R"("1, 0, 0, 0); SetTSRYInt(\"pwned\", 1")";
    const struct {
        std::string line;
        std::string message;
    } cases[] = {
        {"x<TS_RY>INT#a#" + code + "#0#0#0#",
         "line 1: the Value of INT record \"a\" is not a plain value: " + shown},
        {"x<TS_RY>FLT#a#" + code + "#0#0#0#", "line 1: the Value of FLT record \"a\""},
        {"x<TS_RY>STR#a#ok#" + code + "#0#0#", "line 1: the Extra1 of STR record \"a\""},
        {"x<TS_RY>INT#a#1#0#" + code + "#0#", "line 1: the Extra2 of INT record \"a\""},
        {"x<TS_RY>INT#a#1#0#0#" + code + "#", "line 1: the Extra3 of INT record \"a\""},
        {"x<TS_RY>LOC#h#t*" + code + "*0*0*0*#0#0#0#", "line 1: the PosX of LOC record \"h\""},
        {"x<TS_RY>LOC#h#t*0*" + code + "*0*0*#0#0#0#", "line 1: the PosY of LOC record \"h\""},
        {"x<TS_RY>LOC#h#t*0*0*" + code + "*0*#0#0#0#", "line 1: the PosZ of LOC record \"h\""},
        {"x<TS_RY>LOC#h#t*0*0*0*" + code + "*#0#0#0#", "line 1: the Facing of LOC record \"h\""},
        {"x<TS_RY>LOC#h#t*0*0*0*0*#0#0#" + code + "#", "line 1: the Extra3 of LOC record \"h\""},
        // A float field holds a number or a name, or no compiler takes it.
        {"x<TS_RY>FLT#a#1e5#0#0#0#",
         "line 1: the Value of FLT record \"a\" is not a number (digits with a point, or a "
         "name): \"1e5\""},
        {"x<TS_RY>LOC#spot#*****tail#a#b#c#", "line 1: the PosX of LOC record \"spot\" is not a"},
        {"x<TS_RY>LOC#h#t*0*.*0*0*#0#0#0#", "line 1: the PosY of LOC record \"h\" is not a"},
        {"x<TS_RY>LOC#h#t*0*0*1_000*0*#0#0#0#", "line 1: the PosZ of LOC record \"h\" is not a"},
        {"x<TS_RY>LOC#h#t*0*0*0*-*#0#0#0#", "line 1: the Facing of LOC record \"h\" is not a"},
        {"x<TS_RY>FLT#a#-1" + std::string(39, '0') + "#0#0#0#",
         "line 1: the Value of FLT record \"a\" lies beyond the float range (no float is "
         "nearer it than infinity): \"-1000000000000000000000000000000000000000\""},
        // Comments, other quotes and odd bytes are not plain either.
        {"x<TS_RY>INT#a#1 //#0#0#0#",
         "line 1: the Value of INT record \"a\" is not a plain value: "
         "\"1 //\""},
        {"x<TS_RY>INT#a\x01#\x80\t#0#0#0#",
         R"(line 1: the Value of INT record "a\x01" is not a plain value: "\x80\x09")"},
        {"x<TS_RY>INT#a#" + std::string(100, '(') + "#0#0#0#",
         "line 1: the Value of INT record \"a\" is not a plain value: \"" + std::string(64, '(') +
             "\"... (100 bytes)"},
        // No NUL byte in any field that is written, quoted or not.
        {Nul("x<TS_RY>STR#a#b@c#0#0#0#"),
         R"(line 1: the Value of STR record "a" holds a NUL byte, which no script can hold: "b\x00c")"},
        {Nul("x<TS_RY>INT#a@#1#0#0#0#"), "line 1: the Name of INT record \"a\\x00\""},
        {Nul("x<TS_RY>INT#a#1@#0#0#0#"), "line 1: the Value of INT record \"a\" holds a NUL byte"},
        {Nul("x<TS_RY>LOC#h#t@*0*0*0*0*#0#0#0#"),
         "line 1: the AreaTag of LOC record \"h\" holds a NUL byte"},
    };
    for (const auto& c : cases) {
        const std::string message = Rejection(c.line);
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << message;
    }
    // A value shown whole says nothing of its length.
    EXPECT_EQ(Rejection("x<TS_RY>INT#a#" + std::string(64, '(') + "#0#0#0#"),
              "line 1: the Value of INT record \"a\" is not a plain value: \"" +
                  std::string(64, '(') + "\"");
    // Kinds that write nothing, and the parts of a line that are never
    // written, may hold anything.
    EXPECT_EQ(Statements({Nul("x<TS_RY>OBJ#a#@);#@#@#@#")}), "");
    EXPECT_EQ(Statements({Nul("@<TS_RY>INT#a#1#0#0#0#@ (")}),
              CrLf({"    SetTSRYInt(\"a\", 1, 0, 0, 0);"}));
}

TEST(ScriptWriter, WritesLongTextAsLiteralsTheCompilerTakes) {
    // At most 8191 bytes between the quotes of a literal, which every
    // compiler in use takes; longer text in pieces joined with " + ", an
    // escape pair never cut.
    const std::string limit(8191, 'a');
    EXPECT_EQ(Statements({"x<TS_RY>STR#n#" + limit + "#0#0#0#"}),
              CrLf({"    SetTSRYString(\"n\", \"" + limit + "\", 0, 0, 0);"}));
    EXPECT_EQ(Statements({"x<TS_RY>STR#n#" + limit + "b#0#0#0#"}),
              CrLf({"    SetTSRYString(\"n\", \"" + limit + "\" + \"b\", 0, 0, 0);"}));
    const std::string piece(8191, 'h');
    const std::string huge = piece + piece + piece + "tail";
    const std::string literals =
        "\"" + piece + "\" + \"" + piece + "\" + \"" + piece + "\" + \"tail\"";
    EXPECT_EQ(Statements({"x<TS_RY>LOC#" + huge + "#" + huge + "*0*0*0*0*#0#0#0#"}),
              CrLf({"    oTYArea=GetObjectByTag(" + literals + ");",
                    "    vTYVector=Vector(0.0, 0.0, 0.0);",
                    "    lTYLoc=Location(oTYArea, vTYVector, 0.0);",
                    "    SetTSRYLocationC(" + literals + ", lTYLoc, 0, 0, 0);"}));
    // An escape pair that would straddle the limit starts the next literal.
    const std::string before(8190, 'a');
    EXPECT_EQ(Statements({"x<TS_RY>STR#n#" + before + "\"\\#0#0#0#"}),
              CrLf({"    SetTSRYString(\"n\", \"" + before + "\" + \"\\\"\\\\\", 0, 0, 0);"}));
    EXPECT_EQ(Statements({"x<TS_RY>STR#n#" + before.substr(1) + "\\\\x#0#0#0#"}),
              CrLf({"    SetTSRYString(\"n\", \"" + before.substr(1) +
                    "\\\\\" + \"\\\\x\", 0, "
                    "0, 0);"}));
}

TEST(ScriptWriter, LiteralsInPiecesReadBackAsTheField) {
    // Whatever the limit and wherever the quotes and backslashes fall.
    test::ScopedSetting<std::size_t> limit(detail::MaxLiteralBytes(), 0);
    std::string mixed;
    for (int i = 0; i < 300; ++i) mixed += "ab\"\\c"[(i * 7 + i / 3) % 5];
    // Short plain text too, which is put without a search.
    for (const std::string& value : {mixed, std::string(10, 'p'), std::string(64, 'p')}) {
        for (const std::size_t bytes : {2u, 3u, 4u, 7u, 64u, 299u, 1000u}) {
            detail::MaxLiteralBytes() = bytes;
            const std::string line = Statements({"x<TS_RY>STR#n#" + value + "#0#0#0#"});
            const std::string prefix = "    SetTSRYString(\"n\", ";
            ASSERT_EQ(line.substr(0, prefix.size()), prefix);
            std::string read;
            std::size_t at = prefix.size();
            for (;;) {
                ASSERT_EQ(line[at], '"');
                const std::size_t start = ++at;
                for (; line[at] != '"'; ++at) {
                    if (line[at] == '\\') ++at;
                    read += line[at];
                }
                EXPECT_LE(at - start, bytes);
                if (line.compare(++at, 4, " + \"") != 0) break;
                at += 3;
            }
            EXPECT_EQ(read, value) << bytes;
            EXPECT_EQ(line.substr(at), ", 0, 0, 0);\r\n");
        }
    }
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
    const std::string big(300000, 'x');
    EXPECT_TRUE(Statements({"x<TS_RY>STR#" + value + "#" + value + "#" + big + "#0#0#"}) ==
                CrLf({"    SetTSRYString(" + model::Quoted(value) + ", " + model::Quoted(value) +
                      ", " + big + ", 0, 0);"}));
}

}  // namespace
}  // namespace tsry
