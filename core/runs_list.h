// The text of `--runs`, made from runs already read from their journals: one run a line in
// the user's local time, fitted to the terminal's width, paths as the user writes them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lorvex {

struct RunLine {
    std::string id;
    std::string started;  // as the journal has it: "2026-12-07 16:41:31 UTC"
    std::string category;
    std::string destdir;
    std::int64_t moved = 0;
    std::int64_t stillThere = 0;
    bool undone = false;
    std::int64_t notBack = 0;  // archives the last undo could not put back
    std::string note{};        // what the journal does not tell: "interrupted", ...
};

// "2026-12-07 17:41:31" in the local time zone; `utc` as it is when it is no such time.
std::string LocalTimeOf(std::string_view utc);

// `text` with each path's \\?\ (or \\?\UNC\) start taken off, as Windows users write paths;
// elsewhere `text` as it is.
std::string PathsAsWritten(std::string_view text);

// The runs in the order given, each on one line when it fits in `columns` (0: any width),
// else its where on a second line, shortened in the middle; no number is ever cut.
std::string RunsListing(std::span<const RunLine> runs, int columns);

}  // namespace lorvex
