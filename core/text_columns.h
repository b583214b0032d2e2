// How much room UTF-8 text takes on a terminal, and cutting it to fit.
#pragma once

#include <string>
#include <string_view>

namespace lorvex {

// Columns `text` takes: two for each character of the wide scripts of East Asia, else one.
int ColumnsTaken(std::string_view text);

// The longest start of `text` that takes at most `columns`, cut between characters; true in
// `cut` when that is not all of it.
std::string_view FitColumns(std::string_view text, int columns, bool& cut);

// The longest end of `text` that takes at most `columns`.
std::string_view EndWithin(std::string_view text, int columns);

// `text` whole when it fits `columns`, else its start and end around "...".
std::string ShortenedInTheMiddle(std::string_view text, int columns);

}  // namespace lorvex
