// Type-ahead in the category list, as in a file manager's list: keys typed within a second
// of each other make one name, blanks included, and the first category it begins (in any
// letter case) is chosen. A list's own search would look at the last key alone.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex {

class TypeAhead {
public:
    using Clock = std::chrono::steady_clock;
    // Keys typed within this time of each other make one name.
    static constexpr Clock::duration kPause = std::chrono::seconds(1);

    // True when a key typed at `now` goes on with the name typed so far, so that a blank
    // belongs to the name instead of opening the list.
    bool Continues(Clock::time_point now) const;
    // Adds `key` (UTF-8) to the name typed at `now`; returns the place of the first of
    // `items` that begins with the name, or -1 when none does (the choice then stays).
    int Type(std::string_view key, const std::vector<std::string>& items, Clock::time_point now);

private:
    std::string typed_;
    Clock::time_point lastKey_{};
    bool typing_ = false;
};

// True when `text` begins with `prefix`, both UTF-8, letter case aside (Latin, Greek and
// Cyrillic letters).
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

}  // namespace lorvex
