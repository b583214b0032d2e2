#include "category_census.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "category_map.h"
#include "errors.h"
#include "platform.h"

namespace lorvex {
namespace {

// As a category list must write it: in double quotes when it holds a comma.
std::string AsListed(const std::string& category) {
    return category.find(',') == std::string::npos ? category : "\"" + category + "\"";
}

bool HoldsTab(const std::string& category) { return category.find('\t') != std::string::npos; }

// The name with each tab shown as "\t", for a person to read.
std::string WithTabsShown(const std::string& category) {
    std::string shown;
    for (const char c : category) {
        shown += c == '\t' ? std::string("\\t") : std::string(1, c);
    }
    return shown;
}

std::string Counted(std::int64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

std::vector<CategoryNames> CountCategories(std::string_view mapText,
                                           std::span<const std::string> listed,
                                           const ArchivePresent& present) {
    std::vector<CategoryNames> counts;
    std::unordered_map<std::string_view, std::size_t> at;
    // A name listed twice under one category counts once there, as -c moves it once.
    std::unordered_set<std::string> seen;
    ScanCategoryMap(mapText, [&](const MapEntry& entry) {
        if (!platform::IsPlainFileName(entry.name)) {
            return true;
        }
        auto [place, added] = at.emplace(entry.category, counts.size());
        if (added) {
            counts.push_back({std::string(entry.category)});
        }
        std::string key(entry.category);
        key.append(1, '\0').append(entry.name);
        if (seen.insert(std::move(key)).second) {
            CategoryNames& count = counts[place->second];
            ++count.names;
            count.present += present && present(entry.name) ? 1 : 0;
        }
        return true;
    });
    for (const std::string& category : listed) {
        if (const auto found = at.find(category); found != at.end()) {
            counts[found->second].listed = true;
        } else {
            at.emplace(category, counts.size());
            counts.push_back({category, 0, 0, true});
        }
    }
    return counts;
}

std::string CategoryCountsText(std::span<const CategoryNames> counts, bool lookedFor) {
    std::string text;
    for (const CategoryNames& count : counts) {
        const bool tab = HoldsTab(count.category);
        text += (tab ? std::string() : AsListed(count.category)) + "\t" +
                Counted(count.names, "name", "names");
        if (lookedFor) {
            text += "\t" + std::to_string(count.present) + " here";
        }
        if (!count.listed) {
            text += "\tnot in the category list";
        }
        if (tab) {
            text += "\t" + Quoted(WithTabsShown(count.category)) +
                    " holds a tab (shown as \\t): type it into a category list by hand";
        }
        text += "\n";
    }
    return text;
}

std::size_t CategoriesWithTabs(std::span<const CategoryNames> counts) {
    return static_cast<std::size_t>(std::count_if(
        counts.begin(), counts.end(), [](const CategoryNames& c) { return HoldsTab(c.category); }));
}

}  // namespace lorvex
