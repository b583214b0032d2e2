#include "category_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace lorvex {
namespace {

struct Seen {
    std::size_t number;
    std::string name;
    std::string category;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << s.number << ":[" << s.name << "]=[" << s.category << "]";
}

std::vector<Seen> Entries(const std::string& text, MapScan expected = MapScan::Complete) {
    std::vector<Seen> seen;
    const MapScan scan = ScanCategoryMap(text, [&](const MapEntry& e) {
        seen.push_back({e.number, std::string(e.name), std::string(e.category)});
        return true;
    });
    EXPECT_EQ(scan, expected);
    return seen;
}

using test::MapWithHeader;

TEST(CategoryMap, HeaderLinesAreNeverEntries) {
    EXPECT_EQ(Entries("a=Jazz\r\nb=Jazz\r\nc=Jazz\r\nd=Jazz\r\n"),
              (std::vector<Seen>{{1, "d", "Jazz"}}));
}

TEST(CategoryMap, FewerThanThreeLinesHaveNoHeader) {
    Entries("", MapScan::MissingHeader);
    Entries("one\r\n", MapScan::MissingHeader);
    Entries("one\r\ntwo\r\n", MapScan::MissingHeader);
    EXPECT_TRUE(Entries("one\ntwo\nthree").empty());
}

TEST(CategoryMap, SkippedLinesTakeNoNumberButAnEmptyNameDoes) {
    const auto seen = Entries(MapWithHeader(
        "first=A\r\n; comment=A\r\n[Section]\r\n\r\n=A\r\nno equals sign\r\n   \r\nsecond=A\r\n"));
    EXPECT_EQ(seen, (std::vector<Seen>{{1, "first", "A"}, {3, "second", "A"}}));
}

TEST(CategoryMap, ReadingEndsAtTheVerAddedLine) {
    EXPECT_EQ(Entries(MapWithHeader("a=A\r\n[VerAdded]\r\nb=A\r\n")),
              (std::vector<Seen>{{1, "a", "A"}}));
    EXPECT_EQ(Entries(MapWithHeader("a=A\r\n[VerAdded] 2024\r\nb=A\r\n")).size(), 1u);
    // Only the exact, case-sensitive ten characters end the map.
    EXPECT_EQ(Entries(MapWithHeader("a=A\r\n[veradded]\r\n[VerAdde]\r\nb=A\r\n")).size(), 2u);
    // A third header line that is "[VerAdded]" leaves nothing to read.
    EXPECT_TRUE(Entries("h\nh\n[VerAdded]\na=A\n").empty());
}

TEST(CategoryMap, StripsSpacesOutsideTheEntryOnly) {
    const auto seen = Entries(MapWithHeader("  padded=Jazz  \r\nname = Jazz\r\n\ttab=Jazz\t\r\n"));
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {1, "padded", "Jazz"}, {2, "name ", " Jazz"}, {3, "\ttab", "Jazz\t"}}));
}

TEST(CategoryMap, NameEndsAtTheFirstEqualsSign) {
    EXPECT_EQ(Entries(MapWithHeader("a=b=c\r\n")), (std::vector<Seen>{{1, "a", "b=c"}}));
}

TEST(CategoryMap, ReadsLfAndCrLfLineEndsAndALastLineWithoutEnd) {
    EXPECT_EQ(Entries("h\nh\nh\na=A\r\nb=B\nc=C"),
              (std::vector<Seen>{{1, "a", "A"}, {2, "b", "B"}, {3, "c", "C"}}));
    // However many CRs a transfer put before the line's end.
    EXPECT_EQ(Entries("h\nh\nh\na=Cat A\r\r\nb=B\r\r\r"),
              (std::vector<Seen>{{1, "a", "Cat A"}, {2, "b", "B"}}));
    // A CR that does not end a line stays in it.
    EXPECT_EQ(Entries(MapWithHeader("a=A\rB\r\n")), (std::vector<Seen>{{1, "a", "A\rB"}}));
}

TEST(CategoryMap, HasNoLimitOnTheNumberOfEntries) {
    std::string body;
    for (int i = 0; i < 70000; ++i) {
        body += "n" + std::to_string(i) + "=Big\n";
    }
    const auto seen = Entries(MapWithHeader(body));
    ASSERT_EQ(seen.size(), 70000u);
    EXPECT_EQ(seen.back(), (Seen{70000, "n69999", "Big"}));
}

TEST(CategoryMap, VisitorCanStopTheScan) {
    int visits = 0;
    const MapScan scan = ScanCategoryMap(MapWithHeader("a=A\nb=B\nc=C\n"),
                                         [&](const MapEntry&) { return ++visits < 2; });
    EXPECT_EQ(scan, MapScan::Stopped);
    EXPECT_EQ(visits, 2);
}

}  // namespace
}  // namespace lorvex
