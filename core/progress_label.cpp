#include "progress_label.h"

namespace lorvex {

std::string ProgressLabel(const PassStatus& status) {
    return std::to_string(status.checked) + " of " + std::to_string(status.total) +
           " names checked, " + std::to_string(status.movedCount) + " moved";
}

}  // namespace lorvex
