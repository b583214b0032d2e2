// The terminal's progress line at the widths terminals have.
#include "progress_label.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace lorvex {
namespace {

TEST(ProgressLine, GivesWayNameFirstThenTimeLeftAndNeverCutsANumber) {
    const std::string archive = std::string("in") + test::kSeparator + "Blue Harbor 8447.zip";
    const PassStatus status{14353, 113066, 8447, 0, archive};
    const auto tenSeconds = std::chrono::seconds(10);
    const std::pair<int, std::string> cases[] = {
        {90, "14353 of 113066 names checked, 8447 moved, about 1:09 left: Blue Harbor 8447.zip"},
        {70, "14353 of 113066 names checked, 8447 moved, about 1:09 left: Blue H..."},
        {60, "14353 of 113066 names checked, 8447 moved, about 1:09 left"},
        {52, "14353 of 113066 names checked, 8447 moved: Blue..."},
        {50, "14353 of 113066 names checked, 8447 moved"},
        {40, "14353 of 113066 checked, 8447 moved"},
        {30, "14353/113066, 8447 moved"},
        {15, "14353/113066,"},
    };
    for (const auto& [columns, line] : cases) {
        EXPECT_EQ(ProgressLine(status, tenSeconds, columns), line) << columns;
        EXPECT_LT(line.size(), static_cast<std::size_t>(columns));
    }
    // Before the pace is known there is no time left to give way.
    EXPECT_EQ(ProgressLine(status, std::chrono::seconds(1), 70),
              "14353 of 113066 names checked, 8447 moved: Blue Harbor 8447.zip");
    // An undo counts the archives of its journal, and what went back.
    PassStatus undo = status;
    undo.undoing = true;
    EXPECT_EQ(ProgressLine(undo, tenSeconds, 50),
              "14353 of 113066 archives checked, 8447 moved back");
    EXPECT_EQ(ProgressLine(undo, tenSeconds, 30), "14353/113066, 8447 moved back");
}

}  // namespace
}  // namespace lorvex
