// Finds the names a user probably meant when a typed one is not known.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex {

// Edits (insert, delete, replace a byte) that turn one text into the other.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The names of `known` nearest to `typed`, ignoring letter case and blanks, best first and
// at most `most` of them; none when nothing is near enough to be a slip of the keyboard.
std::vector<std::string> NearestNames(std::string_view typed, std::span<const std::string> known,
                                      std::size_t most = 3);

// As NearestNames, but a category one of whose words is `typed` (or within one letter of it,
// for a word of four letters or more) comes first: "Jazz" finds "Music / Jazz". A name equal
// to `typed` but for letter case and blanks comes before all.
std::vector<std::string> NearestCategories(std::string_view typed,
                                           std::span<const std::string> known,
                                           std::size_t most = 3);

// "; did you mean "A" or "B"?", or "" for no names.
std::string DidYouMean(std::span<const std::string> names);

}  // namespace lorvex
