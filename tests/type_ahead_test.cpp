// Type-ahead in the category list: what a typed name chooses, and when it starts anew.
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

TEST(TypeAhead, APauseStartsANewName) {
    const std::vector<std::string> items{"Group 1", "Group 2", "Other"};
    TypeAhead typeAhead;
    TypeAhead::Clock::time_point now{};
    EXPECT_FALSE(typeAhead.Continues(now));
    EXPECT_EQ(typeAhead.Type("Group", items, now), 0);
    now += TypeAhead::kPause / 2;
    EXPECT_TRUE(typeAhead.Continues(now));
    EXPECT_EQ(typeAhead.Type(" 2", items, now), 1);
    now += TypeAhead::kPause;
    EXPECT_FALSE(typeAhead.Continues(now));
    EXPECT_EQ(typeAhead.Type("o", items, now), 2);
}

}  // namespace
}  // namespace lorvex
