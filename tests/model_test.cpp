// The engine against the plain model of the conversion, on many generated logs.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/log_generator.h"
#include "conversion/parse_log.h"
#include "conversion/platform/conversion_error.h"
#include "tests/model.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using model::Model;
using model::ModelLines;
using model::ModelResult;

class StringSink final : public ByteSink {
  public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

ModelResult Engine(const std::string& log, std::vector<std::size_t> pieces, bool keeping,
                   LineDetail detail, std::uint64_t& steps) {
    test::ChunkedSource source(log, std::move(pieces), keeping);
    LineReader reader(source, detail);
    StringSink sink;
    NoProgress progress;
    try {
        steps = ConvertLog(reader, sink, progress).steps;
    } catch (const ConversionError& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("line ", 0), 0u) << message;
        return {"", std::stoull(message.substr(5))};
    }
    return {sink.text, 0};
}

void ExpectSameAsModel(const std::string& log, const std::string& what) {
    const ModelResult expected = Model(log);
    const std::uint64_t lines = ModelLines(log).size();
    const std::vector<std::vector<std::size_t>> readings = {{},   {1},    {2, 3},     {7, 1, 300},
                                                            {64}, {4096}, {65536, 13}};
    // Lines gathered from pieces are condensed from a few bytes on.
    test::ScopedSetting<std::size_t> condense(detail::CondenseFrom(), 9);
    for (const auto& pieces : readings) {
        for (const int way : {0, 1, 2}) {
            const bool keeping = way == 1;
            const LineDetail detail = way == 2 ? LineDetail::kRecordsOnly : LineDetail::kWhole;
            std::uint64_t steps = 0;
            const ModelResult actual = Engine(log, pieces, keeping, detail, steps);
            ASSERT_EQ(actual.failedLine, expected.failedLine) << what;
            ASSERT_TRUE(actual.script == expected.script)
                << what << ", pieces " << pieces.size() << ", way " << way;
            if (expected.failedLine == 0) {
                const auto records = static_cast<std::uint64_t>(
                    std::count(expected.script.begin(), expected.script.end(), '\n'));
                ASSERT_GE(steps, lines) << what;
                ASSERT_LE(steps - lines, records) << what;
            }
        }
    }
    for (const LineDetail detail : {LineDetail::kWhole, LineDetail::kRecordsOnly}) {
        test::ChunkedSource source(log, {3, 1, 5});
        LineReader reader(source, detail);
        EXPECT_EQ(reader.CountRemainingLines(), lines) << what;
    }
}

TEST(EngineMatchesModel, OnGeneratedLogsOfEveryLineEnd) {
    for (const char* end : {"\r\n", "\n", "\r"}) {
        for (std::uint64_t seed = 1; seed <= 8; ++seed) {
            bench::LogShape shape;
            shape.bytes = 60000 + seed * 7000;
            shape.names = seed * 40;
            shape.taggedShare = 0.05 * static_cast<double>(seed);
            shape.lineEnd = end;
            shape.seed = seed;
            shape.tricky = seed % 2 == 0;
            std::ostringstream out;
            bench::GenerateLog(shape, out);
            ExpectSameAsModel(out.str(), "seed " + std::to_string(seed) + " end " +
                                             std::to_string(shape.lineEnd.size()));
        }
    }
}

TEST(EngineMatchesModel, OnRandomBytesWithTagsAndSeparators) {
    // Mostly noise built from the characters that matter, so that records,
    // broken records and broken locations all turn up.
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    static constexpr std::string_view kPieces[] = {"<TS_RY>",
                                                   "#",
                                                   "#",
                                                   "*",
                                                   "\r",
                                                   "\n",
                                                   "\r\n",
                                                   "INT",
                                                   "STR",
                                                   "LOC",
                                                   "FLT",
                                                   "a",
                                                   "b",
                                                   "\"",
                                                   "\\",
                                                   "<TS_R",
                                                   std::string_view("\0", 1)};
    for (int round = 0; round < 300; ++round) {
        std::string log;
        const auto length = next() % 200;
        for (std::uint64_t i = 0; i < length; ++i) {
            log += kPieces[next() % std::size(kPieces)];
        }
        ExpectSameAsModel(log, "round " + std::to_string(round));
    }
}

}  // namespace
}  // namespace tsry
