// The categories a map names, counted: what `lorvex --categories` prints, and the start of
// a category list for a new map.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex {

struct CategoryNames {
    std::string category;
    std::int64_t names = 0;    // names the map lists under it, each once
    std::int64_t present = 0;  // of those, archives there to move
    bool listed = false;       // in the category list
};

// Is the archive of this map name there to be moved?
using ArchivePresent = std::function<bool(std::string_view name)>;

// The map's categories in the order they first appear, then the listed ones the map never
// names. `present` may be empty: nothing is then looked for.
std::vector<CategoryNames> CountCategories(std::string_view mapText,
                                           std::span<const std::string> listed,
                                           const ArchivePresent& present);

// One line a category: its name as a category list spells it, a tab, "N names", and with
// archives looked for a tab and "K here"; a tab and "not in the category list" when it is not.
// The first column is a category list's line, as `cut -f1` takes it. A name holding a tab
// cannot be one: its first column is empty (a list skips the line) and its last one says so.
std::string CategoryCountsText(std::span<const CategoryNames> counts, bool lookedFor);

// How many of the categories hold a tab, which `cut -f1` cannot carry into a category list.
std::size_t CategoriesWithTabs(std::span<const CategoryNames> counts);

}  // namespace lorvex
