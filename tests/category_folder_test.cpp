// The folder a category's archives go to when a whole collection is sorted.
#include "category_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lorvex {
namespace {

TEST(CategoryFolder, EachLevelBecomesASafeFolderName) {
    const std::vector<std::pair<std::string_view, std::vector<std::string>>> cases = {
        {"Sports / Football", {"Sports", "Football"}},
        {"Cards, Misc", {"Cards, Misc"}},
        {"Old /  / Tapes", {"Old", "_", "Tapes"}},
        {"..", {"_"}},
        {". / a/b", {"_", "a_b"}},
        {std::string_view("N\0L", 3), {"N_L"}},
        {"Sports/Football", {"Sports_Football"}},
    };
    for (const auto& [category, names] : cases) {
        EXPECT_EQ(CategoryFolderNames(category), names) << category;
    }
}

}  // namespace
}  // namespace lorvex
