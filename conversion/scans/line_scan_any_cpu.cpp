#include "conversion/scans/line_scan_cpu.h"

// Processors without versions of their own run the portable scans.

namespace tsry::detail {

std::vector<LineScans> ProcessorLineScans() { return {}; }

}  // namespace tsry::detail
