// The text of --runs: local time, the terminal's width, paths as the user writes them.
#include "runs_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

namespace lorvex {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
void SetTimeZone(const char* zone) {
    _putenv_s("TZ", zone);
    _tzset();
}
#else
constexpr bool kWindows = false;
void SetTimeZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}
#endif

TEST(RunsList, ShowsLocalTimeAndFitsTheTerminalWithEveryNumberWhole) {
    SetTimeZone("XYZ-2");  // two hours east of UTC
    EXPECT_EQ(LocalTimeOf("2026-12-07 23:41:31 UTC"), "2026-12-08 01:41:31");
    EXPECT_EQ(LocalTimeOf("not a time"), "not a time");
    const std::string far(70, 'x');
    const RunLine runs[] = {{"20261207-234131", "2026-12-07 23:41:31 UTC", "--all",
                             "/home/ann/" + far + "/sorted/", 320, 318, true, 0},
                            {"20261207-120000", "2026-12-07 12:00:00 UTC", "--all", "/x/", 13, 13,
                             false, 0, "journal cut short: 13 archives readable"},
                            {"20261207-093005", "2026-12-07 09:30:05 UTC", "Music / Jazz",
                             "/home/ann/Jazz/", 24, 24, false, 0}};
    EXPECT_EQ(RunsListing(runs, 0),
              "20261207-234131  2026-12-08 01:41:31  --all  -> /home/ann/" + far +
                  "/sorted/  320 moved, 318 still there, undone\n"
                  "20261207-120000  2026-12-07 14:00:00  --all  -> /x/  13 moved, 13 still "
                  "there, journal cut short: 13 archives readable\n"
                  "20261207-093005  2026-12-07 11:30:05  Music / Jazz  -> /home/ann/Jazz/  24 "
                  "moved, 24 still there");
    for (const int columns : {80, 40}) {
        std::istringstream lines(RunsListing(runs, columns));
        std::string all;
        for (std::string line; std::getline(lines, line); all += line + "\n") {
            EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
        }
        EXPECT_NE(all.find("320 moved, 318 still there, undone\n  --all  -> /home/a"),
                  std::string::npos)
            << all;
        EXPECT_NE(all.find("xx/sorted/\n20261207-120000"), std::string::npos) << all;
        EXPECT_NE(all.find(columns == 80 ? "journal cut short: 13 archives readable\n"
                                         : "journal cut short: 13 archives\n  readable"),
                  std::string::npos)
            << all;
    }
    SetTimeZone("UTC0");
}

// Paths lose the long-path form Windows needs, which no user writes.
TEST(RunsList, PathsAreShownAsTheUserWritesThem) {
    const std::string text = "\\\\?\\E:\\sorted\\a.zip: gone\n\\\\?\\UNC\\srv\\share\\b.zip";
    EXPECT_EQ(PathsAsWritten(text),
              kWindows ? "E:\\sorted\\a.zip: gone\n\\\\srv\\share\\b.zip" : text);
}

}  // namespace
}  // namespace lorvex
