// Counts the lines of a gzip-compressed log as a conversion reads it: the
// compressed file through a FileSource, inflated by a GzipSource, scanned by a
// LineReader. For timing against `gzip -dc LOG > /dev/null`.
//
//   tsry-gzip-count LOG [BUFFER_KIB]

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/reading/file_source.h"
#include "conversion/reading/gzip_source.h"
#include "conversion/reading/line_reader.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: tsry-gzip-count LOG [BUFFER_KIB]\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path path = tsry::PathFromUtf8(argv[1]);
        const std::size_t bufferSize = argc == 3 ? std::strtoul(argv[2], nullptr, 10) * 1024
                                                 : tsry::GzipSource::kDefaultBufferSize;
        tsry::FileSource file(path);
        const std::string_view first = file.NextChunk();
        if (!tsry::StartsLikeGzip(first)) {
            std::fputs("not a gzip file\n", stderr);
            return 1;
        }
        tsry::GzipSource source(file, path, first, bufferSize);
        tsry::LineReader reader(source);
        const std::uint64_t lines = reader.CountRemainingLines();
        std::printf("%llu lines, %llu compressed bytes\n", static_cast<unsigned long long>(lines),
                    static_cast<unsigned long long>(source.compressedBytesRead()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
