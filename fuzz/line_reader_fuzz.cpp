// The line reader on arbitrary bytes and read boundaries: the same lines as
// the plain model, none holding a CR or LF, and the same count.
#include <cstdio>
#include <cstdlib>

#include "conversion/reading/line_reader.h"
#include "fuzz/fuzz_input.h"
#include "tests/model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const tsry::fuzz::Input input = tsry::fuzz::SplitInput(bytes, size);
    const std::vector<std::string> expected = tsry::model::ModelLines(input.data);

    tsry::fuzz::PieceSource source(input);
    tsry::LineReader reader(source);
    std::size_t index = 0;
    reader.ForEachLine([&](std::string_view line, std::uint64_t number) {
        TSRY_FUZZ_CHECK(number == index + 1);
        TSRY_FUZZ_CHECK(index < expected.size());
        TSRY_FUZZ_CHECK(line == expected[index]);
        TSRY_FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
        ++index;
    });
    TSRY_FUZZ_CHECK(index == expected.size());

    tsry::fuzz::PieceSource again(input);
    tsry::LineReader counter(again);
    TSRY_FUZZ_CHECK(counter.CountRemainingLines() == expected.size());
    TSRY_FUZZ_CHECK(tsry::CountLines(input.data.data(), input.data.data() + input.data.size()) ==
                    expected.size());
    return 0;
}
