#include "conversion/line_scan_cpu.h"

// Processors without a version of their own run the portable scans.

namespace tsry::detail {

std::vector<FindLineMarkersFunction> ProcessorFindLineMarkers() { return {}; }

}  // namespace tsry::detail
