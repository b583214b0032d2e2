// The pass looks at the search folder once and measures only the names there: it must find
// exactly what looking each name up finds, on file systems that fold letter case and on
// those that do not, report failures in map order, and list where a dry run would.
#include <gtest/gtest.h>

#include <random>

#include "dry_run_file_system.h"
#include "memory_file_system.h"
#include "pass.h"
#include "progress_label.h"
#include "test_support.h"

namespace lorvex {
namespace {

using testing::Call;
using testing::MemoryFileSystem;

struct Ran {
    std::int64_t moved = 0;
    std::vector<std::string> failures;  // in the order reported
    std::vector<std::string> destination;
    bool operator==(const Ran&) const = default;
};

// A search folder with names in every case, links, folders named like archives, empty
// files, a name beyond ASCII and one with "~"; the map names them in other cases too.
void Build(MemoryFileSystem& files, std::string& map, unsigned seed, bool ignoresCase) {
    std::mt19937 random(seed);
    const std::vector<std::string> spellings{"song",        "Song",        "SONG", "tune~1",
                                             "caf\xc3\xa9", "CAF\xc3\x89", "x1",   "X1"};
    files.SetIgnoresCase(ignoresCase);
    files.AddFolder("/search");
    files.AddFolder("/out");
    files.AddFolder("/out/blocked.zip");  // its archive fails, in map order among others
    map = test::MapWithHeader("");
    for (int i = 0; i < 40; ++i) {
        const std::string stem = spellings[random() % spellings.size()] + std::to_string(i % 7);
        const std::string other = random() % 3 == 0 ? "SoNg" + std::to_string(i % 7) : stem;
        const std::string path = "/search/" + other + (random() % 4 == 0 ? ".ZIP" : ".zip");
        switch (files.Exists(path) ? 0 : random() % 6) {
            case 0:
                break;  // listed in the map only
            case 1:
                files.AddFolder(path);
                break;
            case 2:
                files.AddFile(path, "");
                break;
            case 3:
                files.AddLink(path, "/search/" + stem + ".zip");
                break;
            default:
                files.AddFile(path, std::string(100 + i, 'z'));
        }
        map += stem + "=Cat\n";
        if (i % 9 == 0) {
            files.AddFile("/search/blocked.zip", "bytes");
            map += "blocked=Cat\n";
        }
    }
}

Ran RunOver(MemoryFileSystem& files, const std::string& map, bool dryRun) {
    PassRequest request{"Cat", "/search/", "/out/"};
    request.dryRun = dryRun;
    DryRunFileSystem dry(files);
    fs::FileSystem& used = dryRun ? static_cast<fs::FileSystem&>(dry) : files;
    const PassResult result = Pass(used, map, request, nullptr).Run();
    Ran ran{result.moved, {}, {}};
    for (const auto& failure : result.failed) {
        ran.failures.push_back(failure.archive + ": " + failure.reason);
    }
    used.List("/out", [&](const fs::Entry& entry) { ran.destination.emplace_back(entry.name); });
    std::sort(ran.destination.begin(), ran.destination.end());
    return ran;
}

TEST(FolderListing, FindsWhatLookingEachNameUpFinds) {
    for (const bool ignoresCase : {false, true}) {
        for (unsigned seed = 1; seed <= 60; ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (ignoresCase ? ", case folded" : ""));
            for (const bool dryRun : {false, true}) {
                std::string map;
                MemoryFileSystem listed;
                Build(listed, map, seed, ignoresCase);
                // Without a listing the pass looks each name up, as it always did.
                MemoryFileSystem lookedUp;
                Build(lookedUp, map, seed, ignoresCase);
                lookedUp.FailCall(Call::List, "/search", {fs::Error::Io, {}}, testing::kEveryTime);
                EXPECT_EQ(RunOver(listed, map, dryRun), RunOver(lookedUp, map, dryRun));
            }
        }
    }
}

TEST(FolderListing, AbsentNamesAreNotLookedUp) {
    for (const bool ignoresCase : {false, true}) {
        MemoryFileSystem files;
        files.SetIgnoresCase(ignoresCase);
        std::string map = test::MapWithHeader("");
        for (int i = 0; i < 1000; ++i) {
            map += "name" + std::to_string(i) + "=Cat\n";
        }
        for (const char* present : {"/search/name7.zip", "/search/NAME8.zip", "/search/x.txt"}) {
            files.AddFile(present, "bytes");
        }
        files.AddFolder("/out");
        EXPECT_EQ(RunOver(files, map, false).moved, ignoresCase ? 2 : 1);
        // The archives there, the two of the check of letter case, and a few for the folder.
        EXPECT_LT(files.CallCount(Call::StatusOf), 12u);
    }
}

TEST(FolderListing, AFolderThatCannotTellItsCaseIsLookedUpNameByName) {
    MemoryFileSystem files;
    std::string map = test::MapWithHeader("");
    for (int i = 0; i < 100; ++i) {
        map += "a" + std::to_string(i) + "=Cat\n";
    }
    // Each archive's name with its case changed is listed too: no name to ask about.
    files.AddFile("/search/a7.zip", "bytes");
    files.AddFile("/search/A7.ZIP", "bytes");
    files.AddFolder("/out");
    EXPECT_EQ(RunOver(files, map, false).moved, 1);
    EXPECT_GE(files.CallCount(Call::StatusOf), 100u);
}

class Recorded : public PassProgress {
public:
    bool ContinuePass(const PassStatus& status) override {
        labels.push_back(ProgressLabel(status));
        return !status.listing || keepListing;
    }
    bool keepListing = true;
    std::vector<std::string> labels;
};

TEST(FolderListing, ProgressSaysTheFolderIsListedAndCanCancelIt) {
    MemoryFileSystem files;
    files.AddFile("/search/a.zip", "bytes");
    files.AddFolder("/out");
    const std::string map = test::MapWithHeader("a=Cat\nb=Cat\n");
    PassRequest request{"Cat", "/search/", "/out/"};
    Recorded progress;
    EXPECT_EQ(Pass(files, map, request, &progress).Run().moved, 1);
    EXPECT_EQ(progress.labels,
              (std::vector<std::string>{"Listing the search folder, 0 names so far",
                                        "1 of 2 names checked, 0 moved",
                                        "2 of 2 names checked, 1 moved"}));
    progress.keepListing = false;
    const PassResult cancelled = Pass(files, map, request, &progress).Run();
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(files.Names("/search"), (std::vector<std::string>{}));
}

TEST(FolderListing, ADryRunListsWhatTheRealFolderHoldsAfterTheRun) {
    MemoryFileSystem files;
    files.AddFile("/search/a.zip", "bytes");
    files.AddFile("/search/b.zip", "more bytes");
    files.AddFile("/out/old.zip", "");
    DryRunFileSystem dry(files);
    ASSERT_FALSE(dry.RenameNoReplace("/search/a.zip", "/out/a.zip"));
    const auto listed = [&](const std::string& folder) {
        std::vector<std::string> names;
        dry.List(folder, [&](const fs::Entry& entry) {
            names.push_back(std::string(entry.name) + " " + std::to_string(entry.size.value_or(9)));
        });
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(listed("/search/"), (std::vector<std::string>{"b.zip 10"}));
    EXPECT_EQ(listed("/out"), (std::vector<std::string>{"a.zip 5", "old.zip 0"}));
}

}  // namespace
}  // namespace lorvex
