// Where a category's archives go when a whole collection is sorted: one folder per
// category, one level per " / " part of its name. Does no I/O.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lorvex {

// One part of a category made into a name the platform accepts for a folder: every
// character a file name cannot hold becomes "_", and a part that would name no folder
// of its own ("", "." or "..") is "_".
std::string SafeFolderName(std::string_view part);

// The folder names of a category, outermost first: "Sports / Football" gives "Sports"
// and "Football".
std::vector<std::string> CategoryFolderNames(std::string_view category);

}  // namespace lorvex
