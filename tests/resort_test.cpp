// Re-sorting a sorted tree after the map has changed, in memory: which archives are looked
// at, where each goes, what stays, the user's folders, the refusals, and the undo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "errors.h"
#include "memory_file_system.h"
#include "move_job.h"
#include "resort.h"
#include "run_history.h"
#include "run_journal.h"
#include "test_support.h"

namespace lorvex {
namespace {

using testing::Call;
using testing::MemoryFileSystem;
using Strings = std::vector<std::string>;

// Every file with its bytes and every folder ("/"), by path.
std::map<std::string, std::string> Snapshot(MemoryFileSystem& files, const std::string& folder) {
    std::map<std::string, std::string> all;
    if (!folder.empty() && !files.Exists(folder)) {
        return all;
    }
    for (const auto& name : files.Names(folder)) {
        const std::string path = folder + "/" + name;
        if (files.StatusOf(path).kind == fs::Kind::Directory) {
            all[path] = "/";
            all.merge(Snapshot(files, path));
        } else {
            all[path] = files.Contents(path).value_or("?");
        }
    }
    return all;
}

// The bytes of every file of the tree and of the incoming folder.
std::multiset<std::string> Bytes(MemoryFileSystem& files) {
    std::multiset<std::string> bytes;
    for (const char* folder : {"/sorted", "/in"}) {
        for (const auto& [path, contents] : Snapshot(files, folder)) {
            if (contents != "/") {
                bytes.insert(contents);
            }
        }
    }
    return bytes;
}

Strings Planned(const ResortResult& result) {
    Strings planned;
    for (const auto& move : result.pass.planned) {
        planned.push_back(move.archive + " -> " + move.target);
    }
    std::sort(planned.begin(), planned.end());
    return planned;
}

Strings Failures(const ResortResult& result) {
    Strings failures;
    for (const auto& failure : result.pass.failed) {
        failures.push_back(failure.archive + ": " + failure.reason);
    }
    return failures;
}

ResortResult RunResort(MemoryFileSystem& files, const std::string& mapBody, const Strings& list,
                       bool dryRun, const std::string& incoming = {}) {
    const std::string map = test::MapWithHeader(mapBody);
    return Resort(files, map,
                  ResortRequest{"/sorted", incoming, list, "/app/cats.txt", dryRun, true}, nullptr);
}

class Resorting : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", "/state", 1); }
    void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

    // Sorts 40 archives from /in into /sorted as --all does, by the map of `names`.
    static void SortAll(MemoryFileSystem& files, const std::string& mapBody, const Strings& list) {
        for (int i = 0; i < kNames; ++i) {
            files.AddFile("/in/" + Name(i) + ".zip", "PK " + Name(i));
        }
        files.AddFolder("/sorted");
        const std::string map = test::MapWithHeader(mapBody);
        PassRequest request{{}, "/in/", "/sorted/"};
        request.targets = TargetsOf(list, "/sorted/");
        Pass(files, map, request, nullptr).Run();
    }

    static std::string Name(int i) { return "n" + std::to_string(100 + i).substr(1); }

    // The old map gives four categories in turn; the new one renames "Music / Jazz", moves
    // a tenth of the names, drops three and adds three, and "Old / Tapes" leaves the list.
    static std::string OldCategory(int i) {
        return i < kNames
                   ? std::array{"Music / Jazz", "Music / Rock", "Books", "Old / Tapes"}[i % 4]
                   : "";
    }
    static std::string NewCategory(int i) {
        if (i >= kNames || i == 1 || i == 5) {
            return "Books";
        }
        if (i == 2 || i == 6) {
            return "Music / Rock";
        }
        const std::string old = OldCategory(i);
        return i == 10 || i == 14 || i == 18 ? ""
               : old == "Music / Jazz"       ? "Music / Modern Jazz"
                                             : old;
    }
    static std::string Map(std::string (*categoryOf)(int)) {
        std::string body;
        for (int i = 0; i < kNames + 3; ++i) {
            body += categoryOf(i).empty() ? "" : Name(i) + "=" + categoryOf(i) + "\n";
        }
        return body;
    }
    static std::string Folder(std::string category) {
        if (const auto at = category.find(" / "); at != std::string::npos) {
            category.replace(at, 3, "/");
        }
        return category;
    }
    void ResortsTheWholeTree(bool share);

    static constexpr int kNames = 40;
    const Strings oldList{"Music / Jazz", "Music / Rock", "Books", "Old / Tapes"};
    const Strings newList{"Music / Modern Jazz", "Music / Rock", "Books"};
};

TEST_F(Resorting, LeavesTheTreeAsAllWithTheNewMapWouldAndNamesWhatStays) {
    // On a share the tree's folders are listed side by side: the same decisions.
    for (const bool share : {false, true}) {
        SCOPED_TRACE(share ? "on a share" : "local");
        ResortsTheWholeTree(share);
    }
}

void Resorting::ResortsTheWholeTree(bool share) {
    MemoryFileSystem resorted;
    MemoryFileSystem fresh;
    SortAll(resorted, Map(OldCategory), oldList);
    SortAll(fresh, Map(NewCategory), newList);
    if (share) {
        resorted.SetRemote("/sorted");
    }
    // A run that died left a copy in one folder: only there does the pass look again.
    const std::string leftover = "/sorted/Books/.n01.zip.run-20200101-000000.AAAAAA.lorvex-partial";
    resorted.AddFile(leftover, "PK");
    auto listings = std::make_shared<std::map<std::string, int>>();
    resorted.FailCall(Call::List,
                      [listings](std::string_view path) {
                          ++(*listings)[std::string(path)];
                          return false;
                      },
                      {});
    const ResortResult result = RunResort(resorted, Map(NewCategory), newList, false);
    for (const auto& [folder, times] : *listings) {
        EXPECT_EQ(times, folder.starts_with("/sorted/Books") ? 2 : 1) << folder;
    }
    EXPECT_EQ(resorted.Exists(leftover), share);  // another machine's run may be writing it
    resorted.ClearFailures();
    EXPECT_EQ(result.pass.moved, 14);
    EXPECT_TRUE(result.pass.failed.empty());
    Strings notInMap{"Books/n10.zip", "Books/n14.zip", "Books/n18.zip"};
    EXPECT_EQ(result.plan.notInMap, notInMap);
    EXPECT_EQ(result.plan.notListed.size(), 10u);
    EXPECT_EQ(result.plan.notListed.front(), "Old/Tapes/n03.zip (Old / Tapes)");
    EXPECT_EQ(result.foldersRemoved, Strings{"/sorted/Music/Jazz"});
    // What stays is where the old map put it; all else is where --all with the new one puts it.
    auto files = Snapshot(resorted, "/sorted");
    std::erase_if(files, [&](const auto& file) {
        return file.second == "/" || file.first == leftover ||
               file.first.starts_with("/sorted/Old/") || file.first.ends_with("n10.zip") ||
               file.first.ends_with("n14.zip") || file.first.ends_with("n18.zip");
    });
    auto expected = Snapshot(fresh, "/sorted");
    std::erase_if(expected, [](const auto& file) { return file.second == "/"; });
    EXPECT_EQ(files, expected);
}

TEST_F(Resorting, ADryRunChangesNothingAndListsExactlyTheMoves) {
    MemoryFileSystem files;
    SortAll(files, Map(OldCategory), oldList);
    const auto before = Snapshot(files, "");
    const ResortResult dry = RunResort(files, Map(NewCategory), newList, true);
    EXPECT_EQ(Snapshot(files, ""), before);
    Strings expected;
    for (int i = 0; i < kNames; ++i) {
        const std::string folder = Folder(NewCategory(i));
        if (!folder.empty() && folder != "Old/Tapes" && folder != Folder(OldCategory(i))) {
            expected.push_back(Name(i) + ".zip -> /sorted/" + folder + "/" + Name(i) + ".zip");
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Planned(dry), expected);
    EXPECT_EQ(dry.foldersRemoved, Strings{"/sorted/Music/Jazz"});
}

TEST_F(Resorting, UndoPutsBackTheOldTreeWithItsFolders) {
    MemoryFileSystem files;
    SortAll(files, Map(OldCategory), oldList);
    const auto before = Snapshot(files, "/sorted");
    RunResort(files, Map(NewCategory), newList, false);
    ASSERT_NE(Snapshot(files, "/sorted"), before);
    std::string journal;
    files.ReadAll(RunsDirectory() + RunIds(files).back() + ".log", journal);
    EXPECT_EQ(ParseJournal(journal).removedFolders, Strings{"/sorted/Music/Jazz"});
    const UndoResult undo = UndoRun(files, "", false);
    EXPECT_EQ(undo.movedBack, 14);
    EXPECT_EQ(Snapshot(files, "/sorted"), before);
}

// One small tree per case, over the map a, c = "Music / Jazz" and b = "Music / Rock".
TEST_F(Resorting, DecidesEachArchiveOnce) {
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        Strings planned;
        Strings failures;
        Strings named;  // what stays, and the user's folders
        std::string incoming{};
        bool ignoresCase = false;
    };
    const std::string jazz = "/sorted/Music/Jazz/";
    const Row rows[] = {
        {"a folder of archives only, of a category renamed",
         {{jazz + "c.zip", "c"}, {"/sorted/Old/Jazz/a.zip", "a"}},
         {"a.zip -> " + jazz + "a.zip"},
         {},
         {}},
        {"a taken name",
         {{jazz + "a.zip", "other"}, {"/sorted/Music/Rock/a.zip", "a"}},
         {},
         {"a.zip: File exists"},
         {}},
        {"the user's folders and all in them",
         {{jazz + "c.zip", "c"},
          {"/sorted/Photos/me.jpg", "j"},
          {"/sorted/Photos/a.zip", "a"},
          {"/sorted/Photos/2020/b.zip", "b"},
          {"/sorted/Mixed/a.zip", "a"},
          {"/sorted/Mixed/Own/x.txt", "x"}},
         {},
         {},
         {"/sorted/Mixed", "/sorted/Photos"}},
        {"empty, hidden, unknown and loose archives",
         {{"/sorted/Music/Rock/a.zip", ""},
          {"/sorted/Music/Rock/.a.zip", "h"},
          {"/sorted/Music/Rock/z.zip", "z"},
          {"/sorted/Music/Rock/y.zip", ""},
          {"/sorted/Other/z.zip", "z"},
          {"/sorted/c.zip", "c"}},
         {},
         {},
         {"Music/Rock/z.zip"}},
        {"a category's folder in another case where the file system ignores it",
         {{"/sorted/music/jazz/a.zip", "a"}},
         {},
         {},
         {},
         "",
         true},
        {"incoming archives, one already in the tree",
         {{jazz + "c.zip", "c"}, {"/in/c.zip", "c"}, {"/in/b.zip", "b"}},
         {"b.zip -> /sorted/Music/Rock/b.zip"},
         {"c.zip: already in the destination with the same contents (both copies kept)"},
         {},
         "/in"},
    };
    const std::string map = "a=Music / Jazz\nb=Music / Rock\nc=Music / Jazz\n";
    const Strings list{"Music / Jazz", "Music / Rock"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MemoryFileSystem files;
        files.SetIgnoresCase(row.ignoresCase);
        for (const auto& [path, bytes] : row.files) {
            files.AddFile(path, bytes);
        }
        const ResortResult dry = RunResort(files, map, list, true, row.incoming);
        EXPECT_EQ(Planned(dry), row.planned);
        EXPECT_EQ(Failures(dry), row.failures);
        Strings named = dry.plan.notInMap;
        named.insert(named.end(), dry.plan.ownFolders.begin(), dry.plan.ownFolders.end());
        EXPECT_EQ(named, row.named);
        // The real run does what the dry run said, and no file is lost or replaced.
        const auto before = Bytes(files);
        const ResortResult real = RunResort(files, map, list, false, row.incoming);
        EXPECT_EQ(real.pass.moved, static_cast<std::int64_t>(row.planned.size()));
        EXPECT_EQ(Failures(real), row.failures);
        EXPECT_EQ(Bytes(files), before);
    }
}

TEST_F(Resorting, RefusesWhatIsNoSortedTreeBeforeDoingAnything) {
    const std::pair<std::string, std::string> rows[] = {
        {"",
         "\"/sorted/\" is not a sorted tree: none of its folders is the folder of a category "
         "of \"/app/cats.txt\", as --all makes them (nothing was done)"},
        {"/sorted/Music",
         "the incoming folder \"/sorted/Music\" is inside the sorted tree "
         "\"/sorted/\" (nothing was done)"},
    };
    for (const auto& [incoming, message] : rows) {
        MemoryFileSystem files;
        files.AddFile("/sorted/a.zip", "a");
        files.AddFile("/sorted/Music/b.zip", "b");
        files.AddFile("/sorted/Stuff/c.zip", "c");
        const auto before = Snapshot(files, "");
        try {
            RunResort(files, "a=Music / Jazz\nc=Music\n",
                      {incoming.empty() ? "Music / Jazz" : "Music"}, false, incoming);
            ADD_FAILURE() << "not refused: " << message;
        } catch (const LorvexError& error) {
            EXPECT_EQ(error.what(), message);
        }
        EXPECT_EQ(Snapshot(files, ""), before);
    }
}

}  // namespace
}  // namespace lorvex
