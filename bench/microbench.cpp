// Inner pieces of the conversion, one at a time, for tuning.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "bench/log_generator.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/line_reader.h"
#include "conversion/records/record_table.h"
#include "conversion/script/float_literal.h"
#include "conversion/script/script_writer.h"

namespace {

const std::string& Log() {
    static const std::string log = [] {
        tsry::bench::LogShape shape;
        shape.bytes = 64 << 20;
        std::ostringstream out;
        tsry::bench::GenerateLog(shape, out);
        return out.str();
    }();
    return log;
}

class MemorySource final : public tsry::ByteSource {
  public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    // Chunks as the file reader hands them out.
    std::string_view NextChunk() override {
        const std::string_view chunk = data_.substr(0, tsry::FileSource::kDefaultChunkSize);
        data_.remove_prefix(chunk.size());
        return chunk;
    }

  private:
    std::string_view data_;
};

void BM_CountLines(benchmark::State& state) {
    const std::string& log = Log();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tsry::CountLines(log.data(), log.data() + log.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
}
BENCHMARK(BM_CountLines);

void BM_LineReaderCount(benchmark::State& state) {
    const std::string& log = Log();
    for (auto _ : state) {
        MemorySource source(log);
        tsry::LineReader reader(source);
        benchmark::DoNotOptimize(reader.CountRemainingLines());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
}
BENCHMARK(BM_LineReaderCount);

void BM_ExtractEveryLine(benchmark::State& state) {
    const std::string& log = Log();
    for (auto _ : state) {
        MemorySource source(log);
        tsry::LineReader reader(source);
        tsry::RecordTable table;
        reader.ForEachLine([&](std::string_view line, std::uint64_t number) {
            tsry::ExtractRecord(line, number, table);
        });
        benchmark::DoNotOptimize(table.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(log.size()));
}
BENCHMARK(BM_ExtractEveryLine);

void BM_TableStore(benchmark::State& state) {
    const auto names = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < names; ++i) keys.push_back("PW_VAR_" + std::to_string(i * 7919));
    for (auto _ : state) {
        tsry::RecordTable table;
        for (int round = 0; round < 4; ++round) {
            for (const auto& key : keys) table.Store({"INT", key, "12345", "0", "0", "x"}, 1);
        }
        benchmark::DoNotOptimize(table.size());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(names * 4));
}
BENCHMARK(BM_TableStore)->Arg(20000)->Arg(200000);

void BM_WriteRecords(benchmark::State& state) {
    class NullSink final : public tsry::ByteSink {
      public:
        void Write(std::string_view bytes) override { benchmark::DoNotOptimize(bytes.data()); }
    } sink;
    tsry::RecordTable table;
    for (int i = 0; i < 20000; ++i) {
        const std::string name = "PW_VAR_" + std::to_string(i);
        table.Store({i % 2 ? "LOC" : "STR", name, "ar_area_1*1.5*2.5*3.5*4.5*", "0", "0", "x"}, 1);
    }
    for (auto _ : state) {
        tsry::ScriptWriter writer(sink);
        for (std::size_t i = 0; i < table.size(); ++i) writer.WriteRecord(table, i);
        writer.Flush();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(table.size()));
}
BENCHMARK(BM_WriteRecords);

// The literal written for a float as the game writes one: Arg(0) the texts
// the compilers already read as logged, Arg(1) those that need another.
void BM_FloatLiteral(benchmark::State& state) {
    const bool other = state.range(0) != 0;
    std::vector<std::string> texts;
    tsry::FloatLiterals literals;
    for (std::uint32_t i = 0; texts.size() < 4096; ++i) {
        char text[32];
        const auto value = static_cast<float>((i * 2654435761u % 3200000u) / 10000.0);
        std::snprintf(text, sizeof text, "%18.9f", static_cast<double>(value));
        if ((literals.Exact(text) != std::string_view(text)) == other) texts.emplace_back(text);
    }
    for (auto _ : state) {
        for (const std::string& text : texts) benchmark::DoNotOptimize(literals.Exact(text).data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_FloatLiteral)->Arg(0)->Arg(1);

// The search for a literal alone, for floats that need one: Arg(0) the game's
// floats from 0 to 320 (as above), Arg(1) floats near the top of the range
// (whose whole part has 39 digits), Arg(2) small floats that need 9 to 20
// digits after the point; the second Arg 1 for the full search that reads
// every continuation out, 0 for the bounds that Exact uses.
void BM_FloatSearch(benchmark::State& state) {
    const bool full = state.range(1) != 0;
    std::vector<float> values;
    tsry::FloatLiterals literals;
    std::uint64_t z = 7;
    while (values.size() < 1024) {
        z = z * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto high = static_cast<std::uint32_t>(z >> 32);
        float value = 0;
        switch (state.range(0)) {
            case 0:
                value = static_cast<float>(high % 3200000u / 10000.0);
                break;
            case 1:
                value = std::bit_cast<float>(0x7E800000u + high % 0x00FFFFFFu);
                break;
            default:
                value = static_cast<float>(std::pow(10.0, -2.0 - 10.0 * (high / 0x1p32)));
                break;
        }
        char text[80];
        std::snprintf(text, sizeof text, "%.9f", static_cast<double>(value));
        if (state.range(0) == 2)
            std::snprintf(text, sizeof text, "%.8g", static_cast<double>(value));
        if (literals.Exact(text) != std::string_view(text)) values.push_back(value);
    }
    for (auto _ : state) {
        for (const float value : values) {
            benchmark::DoNotOptimize(
                (full ? literals.ShortestByFullSearch(value) : literals.Shortest(value)).data());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}
BENCHMARK(BM_FloatSearch)->ArgsProduct({{0, 1, 2}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
