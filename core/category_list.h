// Reader of the category list: fields ended by comma, CR or LF; leading and trailing
// spaces dropped; a field may be put in double quotes to hold commas and spaces.
#pragma once

#include <functional>
#include <string_view>

namespace lorvex {

// Calls `visit` for every non-empty field, in file order. Does no I/O.
void ForEachCategory(std::string_view text, const std::function<void(std::string_view)>& visit);

}  // namespace lorvex
