// The text that ends a pass, for the console and for a box, made from its result.
#pragma once

#include <cstddef>
#include <string>

#include "interfaces.h"
#include "pass.h"

namespace lorvex {

// The count, then any failures; a box's summary names at most `shownFailures` of them and
// keeps the rest apart. A dry run lists what would happen.
MoveReportText MoveReportParts(const PassResult& pass, std::size_t shownFailures = 5);

}  // namespace lorvex
