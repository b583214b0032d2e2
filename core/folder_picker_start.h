// Where a folder picker opens for the text of a directory field, the same in every window.
#pragma once

#include <string>
#include <string_view>

namespace lorvex {

// The folder the field names when it exists (at any length), else its nearest existing
// parent, as lorvex creates a missing destination; "" when no part of it exists.
std::string FolderPickerStart(std::string_view fieldText);

}  // namespace lorvex
