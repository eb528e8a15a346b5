#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "conversion/line_scan.h"

// The scans of line_scan.h that the processor can do faster with its own
// vector instructions, in a file of their own per kind of processor.

namespace tsry::detail {

// As FindLineMarkers in line_scan.h.
using FindLineMarkersFunction = std::size_t (*)(MarkerScan& scan, const char* end,
                                                std::string_view marker, MarkerPlace* found,
                                                std::size_t room) noexcept;

// The versions of the processor the program runs on, fastest first; none when
// the portable one is what it has.
[[nodiscard]] std::vector<FindLineMarkersFunction> ProcessorFindLineMarkers();

// The portable version, which every processor runs.
std::size_t PortableFindLineMarkers(MarkerScan& scan, const char* end, std::string_view marker,
                                    MarkerPlace* found, std::size_t room) noexcept;

}  // namespace tsry::detail
