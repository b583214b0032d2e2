// Type-ahead in the category list: what a typed name chooses, letter case aside (the
// window tests type into the real lists, pauses included).
#include "type_ahead.h"

#include <gtest/gtest.h>

namespace lorvex {
namespace {

TEST(TypeAhead, ChoosesTheFirstCategoryBegunByTheNameInAnyLetterCase) {
    const std::vector<std::string> items{"Music / Jazz", "Music / Rock", "Électro", "Жанр", "Ńoir"};
    const struct {
        const char* typed;
        int chosen;
    } cases[] = {{"music / r", 1}, {"MUSIC", 0},   {"élec", 2}, {"жа", 3},
                 {"ńo", 4},        {"Musicx", -1}, {"", 0}};
    for (const auto& c : cases) {
        TypeAhead typeAhead;
        EXPECT_EQ(typeAhead.Type(c.typed, items, TypeAhead::Clock::time_point{}), c.chosen)
            << c.typed;
    }
}

}  // namespace
}  // namespace lorvex
