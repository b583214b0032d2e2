#include "errors.h"

namespace lorvex {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace lorvex
