#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "conversion/scans/line_scan.h"

// The scans of line_scan.h that the processor can do faster with its own
// vector instructions, in a file of their own per kind of processor.

namespace tsry::detail {

// One version of each scan, as declared in line_scan.h.
struct LineScans {
    const char* name;
    std::size_t (*findLineMarkers)(MarkerScan& scan, const char* end, std::string_view marker,
                                   MarkerPlace* found, std::size_t room) noexcept;
    int (*findInLine)(const char* p, const char* end, char c, const char** at, int count) noexcept;
};

// The versions of the processor the program runs on, fastest first; none when
// the portable ones are what it has.
[[nodiscard]] std::vector<LineScans> ProcessorLineScans();

// The portable versions, which every processor runs.
[[nodiscard]] LineScans PortableLineScans() noexcept;

}  // namespace tsry::detail
