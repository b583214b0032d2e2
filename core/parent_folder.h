// The folders above a path, from its text alone: where a folder picker opens for a folder
// lorvex would still create, and which folder a destination that cannot be made lacks.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace lorvex {

// `path` without its last level, keeping a root's separator ("/", "C:\"); "" when there
// is no level left to take away. On Windows either separator counts, as a typed path may
// hold either.
std::string ParentFolder(std::string_view path);

// `directory` ending in the system's separator, and `path` without the separators at its
// end (a root keeps its one).
std::string WithSeparator(const std::string& directory);
std::string WithoutSeparator(std::string path);

// The highest of the folders above `folder` that are missing, going up from its parent
// while `exists` says no: the one the user has to make (or mistyped). "" when the parent
// exists.
std::string HighestMissingParent(std::string_view folder,
                                 const std::function<bool(const std::string&)>& exists);

}  // namespace lorvex
