#include "category_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lorvex {
namespace {

std::vector<std::string> Categories(const std::string& text) {
    std::vector<std::string> items;
    ForEachCategory(text, [&](std::string_view field) { items.emplace_back(field); });
    return items;
}

using Items = std::vector<std::string>;

TEST(CategoryList, OneNamePerLineInFileOrderWithoutEmptyFields) {
    EXPECT_EQ(Categories("Jazz\r\n\r\nRock\r\n"), (Items{"Jazz", "Rock"}));
    EXPECT_EQ(Categories("Jazz\nRock"), (Items{"Jazz", "Rock"}));
    EXPECT_EQ(Categories("a,,b, ,\r\n   \r\nc,"), (Items{"a", "b", "c"}));
    EXPECT_TRUE(Categories("").empty());
}

TEST(CategoryList, CommaSeparatesNamesUnlessQuoted) {
    EXPECT_EQ(Categories("Jazz,Rock\r\n\"Letters, Invoices\"\r\n"),
              (Items{"Jazz", "Rock", "Letters, Invoices"}));
}

TEST(CategoryList, SpacesAroundAnUnquotedNameAreDropped) {
    EXPECT_EQ(Categories("   Music / Jazz   \r\n\"  kept  \"\r\n"),
              (Items{"Music / Jazz", "  kept  "}));
}

TEST(CategoryList, NamesKeepLeadingSemicolonsBracketsAndNumbers) {
    EXPECT_EQ(Categories(";Not a comment\r\n[Not a section]\r\n2024\r\n#2024-01-01#\r\nTrue\r\n"),
              (Items{";Not a comment", "[Not a section]", "2024", "#2024-01-01#", "True"}));
}

TEST(CategoryList, AByteOrderMarkIsNotPartOfTheFirstName) {
    EXPECT_EQ(Categories("\xEF\xBB\xBFMusic / Jazz\r\nRock\r\n"), (Items{"Music / Jazz", "Rock"}));
    EXPECT_EQ(Categories("Rock\r\n\xEF\xBB\xBFJazz\r\n"), (Items{"Rock", "\xEF\xBB\xBFJazz"}));
}

TEST(CategoryList, AStrayQuoteEndsAtTheLineEnd) {
    EXPECT_EQ(Categories("\"Open quote\r\nNext\r\n"), (Items{"Open quote", "Next"}));
    // Text after a closing quote up to the delimiter is dropped.
    EXPECT_EQ(Categories("\"Quoted\" tail,After\r\n"), (Items{"Quoted", "After"}));
    EXPECT_TRUE(Categories("\"\"\r\n").empty());
}

}  // namespace
}  // namespace lorvex
