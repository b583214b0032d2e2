// Copies, links, the journal of each move run and undoing runs, through the built program
// on real directories and file systems.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>

#include "mounts.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ListDirectory;
using test::ReadFile;
using test::RunResult;
using test::WriteFile;
using Names = std::vector<std::string>;
using Contents = std::map<std::string, std::string>;  // file name -> bytes

constexpr const char* kOtherFileSystem =
    "the destination is on another file system, and a hard link cannot cross file systems "
    "(--link=symbolic can)";

// Every file of a directory tree with its bytes, by path below the tree.
Contents Snapshot(const fs::path& top) {
    Contents contents;
    if (fs::exists(top)) {
        for (const auto& entry : fs::recursive_directory_iterator(top)) {
            if (!entry.is_directory()) {
                contents[entry.path().lexically_relative(top).string()] = ReadFile(entry.path());
            }
        }
    }
    return contents;
}

// The program beside the test data (Night Ferries and Slow Tide are "Music / Jazz",
// Saltmarsh "Music / Rock", Gas 2024 "Letters, Bills"), every archive in the search
// directory, and a state folder of the test's own.
class Runs : public ::testing::Test, protected test::ProgramFiles {
protected:
    Runs() {
        fs::copy_file(test::LorvexExecutable(), lorvex);
        for (const char* name : {"Night Ferries", "Slow Tide", "Saltmarsh", "Gas 2024"}) {
            WriteArchive(std::string(name) + ".zip", std::string("PK ") + name);
        }
        before = Snapshot(search);
    }

    RunResult Lorvex(std::vector<std::string> arguments) {
        return test::Run(lorvex.string(), arguments, {test::StateEnvironment(state)},
                         std::chrono::seconds(60));
    }
    RunResult Sort(const fs::path& into, std::vector<std::string> extra = {},
                   const std::vector<std::string>& category = {"-c", "Music / Jazz"}) {
        extra.insert(extra.begin(), category.begin(), category.end());
        extra.insert(extra.end(), {"-e", search.string(), "-d", into.string()});
        return Lorvex(extra);
    }
    // The ids of the runs with a journal, oldest first.
    Names Journals() const {
        Names ids;
        if (fs::exists(test::RunsFolder(state))) {
            for (const auto& name : ListDirectory(test::RunsFolder(state))) {
                ids.push_back(name.substr(0, name.find('.')));
            }
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    fs::path lorvex = program / "lorvex";
    fs::path state = root / "state";
    Contents before;
};

TEST_F(Runs, CopiesAndLinksLeaveTheSourcesAsTheyWereOnOneFileSystemAndAcross) {
    const test::Tmpfs other(root / "other-fs", "size=16m");
    // A name listed twice is copied or linked once: its source is still there the second time.
    WriteMap(
        "Night Ferries=Music / Jazz\r\nSlow Tide=Music / Jazz\r\nSaltmarsh=Music / Rock\r\n"
        "Night Ferries=Music / Jazz\r\n");
    struct Case {
        const char* option;
        const char* done;
        bool hardLink;
    };
    const Case cases[] = {{"--copy", "copied", false},
                          {"--link", "linked", true},
                          {"--link=symbolic", "linked", false}};
    std::vector<fs::path> places{root.path()};
    if (other.mounted()) {
        places.push_back(root / "other-fs");
    }
    for (const Case& c : cases) {
        for (const fs::path& place : places) {
            const fs::path into = place / (std::string("out") + c.option);
            SCOPED_TRACE(into);
            // A hard link that cannot work anywhere stops before anything is made, dry or not.
            const bool cannot = c.hardLink && place != root.path();
            for (const bool dryRun : {true, false}) {
                const auto run = Sort(into, dryRun ? std::vector<std::string>{c.option, "--dry-run"}
                                                   : std::vector<std::string>{c.option});
                EXPECT_EQ(run.exitStatus, cannot ? 2 : 0) << run.err;
                EXPECT_EQ(run.err, cannot ? "lorvex: cannot link into \"" + into.string() +
                                                "/\": " + kOtherFileSystem + " (nothing was done)\n"
                                          : "");
                EXPECT_EQ(fs::exists(into), !dryRun && !cannot);
                EXPECT_EQ(Snapshot(search), before);
                if (dryRun && !cannot) {
                    EXPECT_TRUE(
                        run.out.ends_with(std::string(" 2 files would be ") + c.done + ".\n"))
                        << run.out;
                }
            }
            if (cannot) {
                continue;
            }
            fs::remove_all(into);
            const auto run = Sort(into, {c.option});
            EXPECT_EQ(run.out, std::string(" 2 files were ") + c.done + ".\n");
            EXPECT_EQ(Snapshot(into), (Contents{{"Night Ferries.zip", "PK Night Ferries"},
                                                {"Slow Tide.zip", "PK Slow Tide"}}));
            const fs::path made = into / "Slow Tide.zip";
            EXPECT_EQ(fs::equivalent(made, search / "Slow Tide.zip"), c.done[0] == 'l');
            EXPECT_EQ(fs::is_symlink(made), std::string(c.option) == "--link=symbolic");
            if (fs::is_symlink(made)) {
                EXPECT_EQ(fs::read_symlink(made), search / "Slow Tide.zip");
            }
        }
    }
    EXPECT_EQ(Journals(), Names{});  // only a move can be undone, so only a move is journalled
}

TEST_F(Runs, UndoPutsEveryArchiveBackAndRemovesTheFoldersTheRunMade) {
    struct Case {
        std::vector<std::string> category;
        bool destinationThere;
    };
    const Case cases[] = {{{"-c", "Music / Jazz"}, false}, {{"--all"}, false}, {{"--all"}, true}};
    for (const Case& c : cases) {
        const fs::path into = root / ("sorted " + std::to_string(Journals().size()));
        SCOPED_TRACE(into);
        if (c.destinationThere) {
            fs::create_directory(into);
        }
        const auto run = Sort(into, {}, c.category);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const std::string id = Journals().back();
        const std::string moved = c.category[0] == "--all" ? "4" : "2";
        const std::string runs = Lorvex({"--runs"}).out;
        EXPECT_EQ(runs.rfind(id + "  ", 0), 0u) << runs;  // the newest first
        EXPECT_NE(runs.find("  " + c.category.back() + "  -> " + into.string() + "/  " + moved +
                            " moved, " + moved + " still there\n"),
                  std::string::npos)
            << runs;

        const Contents sorted = Snapshot(into);
        const auto dry = Lorvex({"--undo", "--dry-run"});
        EXPECT_EQ(dry.exitStatus, 0) << dry.err;
        EXPECT_TRUE(
            dry.out.ends_with(" " + moved + " files would be moved back (run " + id + ").\n"))
            << dry.out;
        EXPECT_EQ(Snapshot(into), sorted);

        const auto undo = Lorvex({"--undo", id});
        EXPECT_EQ(undo.exitStatus, 0) << undo.out << undo.err;
        EXPECT_EQ(Snapshot(search), before);
        EXPECT_EQ(fs::exists(into), c.destinationThere);
        EXPECT_EQ(Snapshot(into), Contents{});
        EXPECT_NE(Lorvex({"--runs"}).out.find(moved + " moved, 0 still there, undone"),
                  std::string::npos);
    }
    const auto nothingLeft = Lorvex({"--undo"});
    EXPECT_EQ(nothingLeft.exitStatus, 2);
    EXPECT_EQ(nothingLeft.err.rfind("lorvex: no run to undo in ", 0), 0u) << nothingLeft.err;
}

TEST_F(Runs, UndoLeavesAChangedArchiveAndNeverReplacesAndMakesAGoneFolderAgain) {
    const fs::path into = root / "sorted";
    ASSERT_EQ(Sort(into, {}, {"--all"}).exitStatus, 0);
    const fs::path jazz = into / "Music" / "Jazz";
    WriteFile(jazz / "Night Ferries.zip", "PK Night Ferries, edited since");
    WriteFile(search / "Slow Tide.zip", "PK another Slow Tide");
    const auto undo = Lorvex({"--undo"});
    EXPECT_EQ(undo.exitStatus, 0);  // both left by the user's own doing: settled
    EXPECT_NE(undo.out.find("2 files could not be moved back:\n" +
                            (jazz / "Slow Tide.zip").string() + ": " + test::FileExistsReason() +
                            "\n" + (jazz / "Night Ferries.zip").string() +
                            ": changed since the run (its size or modification time is not the "
                            "recorded one); left where it is\n"),
              std::string::npos)
        << undo.out;
    EXPECT_EQ(ReadFile(search / "Slow Tide.zip"), "PK another Slow Tide");
    EXPECT_EQ(ListDirectory(jazz), (Names{"Night Ferries.zip", "Slow Tide.zip"}));
    EXPECT_EQ(ListDirectory(search), (Names{"Gas 2024.zip", "Saltmarsh.zip", "Slow Tide.zip"}));

    // The search directory itself is gone: the next run's undo makes it again.
    fs::remove_all(search);
    fs::remove_all(into);
    fs::create_directory(search);
    for (const auto& [name, contents] : before) {
        WriteFile(search / name, contents);
    }
    ASSERT_EQ(Sort(into, {}, {"--all"}).exitStatus, 0);
    fs::remove(search);
    EXPECT_EQ(Lorvex({"--undo"}).exitStatus, 0);
    EXPECT_EQ(Snapshot(search), before);
}

TEST_F(Runs, AJournalThatCannotBeWrittenStopsTheRunAndNoJournalMovesWithoutOne) {
    WriteFile(state, "a file where the state folder would be");
    const fs::path into = root / "sorted";
    const auto stopped = Sort(into);
    EXPECT_EQ(stopped.exitStatus, 2);
    EXPECT_EQ(stopped.err.rfind("lorvex: cannot write the run's journal \"" + state.string() +
                                    "/lorvex/runs/\": Not a directory",
                                0),
              0u)
        << stopped.err;
    EXPECT_EQ(Snapshot(search), before);
    EXPECT_FALSE(fs::exists(into));

    const auto moved = Sort(into, {"--no-journal"});
    EXPECT_EQ(moved.exitStatus, 0) << moved.err;
    EXPECT_EQ(ListDirectory(into), (Names{"Night Ferries.zip", "Slow Tide.zip"}));
}

TEST_F(Runs, TheLastHundredJournalsAreKept) {
    fs::create_directories(test::RunsFolder(state));
    for (int i = 0; i < 100; ++i) {
        WriteFile(test::RunsFolder(state) / ("20000101-000" + std::to_string(100 + i) + ".log"),
                  "lorvex run\n");
    }
    ASSERT_EQ(Sort(root / "sorted").exitStatus, 0);
    const Names ids = Journals();
    EXPECT_EQ(ids.size(), 100u);
    EXPECT_EQ(ids.front(), "20000101-000101");   // the oldest one went
    EXPECT_NE(ids.back().rfind("2000", 0), 0u);  // the new one is there
}

// Search folder, destination and journals on one XFS image, cut as by a power failure right
// after the run and again right after its undo: every archive stays whole in exactly one
// place, and a run said to be undone is.
TEST_F(Runs, APowerCutAfterARunAndAfterItsUndoKeepsWhatReachedTheLog) {
    test::LoopXfs disk(root / "xfs.img", root / "disk");
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot loop-mount an XFS image (needs root and xfsprogs)";
    }
    const fs::path in = root / "disk" / "in";
    const fs::path out = root / "disk" / "out";
    state = root / "disk" / "state";
    fs::create_directories(in);
    std::string map;
    Contents albums;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "album " + std::to_string(i);
        map += name + "=Music / Jazz\n";
        albums[name + ".zip"] = std::string(4096 + i, static_cast<char>('a' + i % 26));
        WriteFile(in / (name + ".zip"), albums[name + ".zip"]);
    }
    WriteMap(map);
    ::sync();
    // Each archive whole in exactly one place: the names of those not whole, or in both.
    const auto notInOnePlace = [&] {
        Contents found = Snapshot(in);
        Names wrong;
        for (const auto& [name, bytes] : Snapshot(out)) {
            if (!name.starts_with(".") && !found.emplace(name, bytes).second) {
                wrong.push_back(name + " in both places");
            }
        }
        for (const auto& [name, bytes] : albums) {
            if (!found.contains(name) || found[name] != bytes) {
                wrong.push_back(name);
            }
        }
        return wrong;
    };
    EXPECT_EQ(Lorvex({"-c", "Music / Jazz", "-e", in.string(), "-d", out.string()}).exitStatus, 0);
    disk.PowerCut();
    ASSERT_EQ(notInOnePlace(), Names{});
    EXPECT_NE(Lorvex({"--runs"}).out.find(" 60 moved"), std::string::npos);
    const auto undo = Lorvex({"--undo"});
    EXPECT_EQ(undo.exitStatus, 0) << undo.out << undo.err;
    disk.PowerCut();
    ASSERT_EQ(notInOnePlace(), Names{});
    if (Lorvex({"--runs"}).out.find("undone") == std::string::npos) {
        EXPECT_EQ(Lorvex({"--undo"}).exitStatus, 0);
    }
    Contents back = Snapshot(in);
    std::erase_if(back, [](const auto& file) { return file.first.starts_with("."); });
    EXPECT_TRUE(back == albums);
}

TEST_F(Runs, ARunKilledBetweenBatchesIsUndoneWithEveryArchiveBack) {
#ifndef LORVEX_POWER_CUT_FS
    GTEST_SKIP() << "built without libfuse3: no power-cut file system";
#else
    WriteAlbums(100);  // batches of 64 across file systems
    const Contents albums = Snapshot(search);
    const fs::path disk = root / "disk";
    {
        // Killed at the 70th removal of a source: the first batch is complete, the second
        // copied, recorded and partly removed.
        const test::PowerCutFs source(LORVEX_POWER_CUT_FS, search, disk,
                                      {"--kill-at", "unlink:70"});
        if (!source.mounted()) {
            GTEST_SKIP() << "cannot mount power_cut_fs (needs root and /dev/fuse)";
        }
        const auto killed =
            Lorvex({"-c", "Music / Jazz", "-e", disk.string(), "-d", dest.string()});
        EXPECT_EQ(killed.exitStatus, 128 + SIGKILL) << killed.out << killed.err;
        EXPECT_EQ(ListDirectory(dest).size(), 101u);  // and the lock the killed run held
        const auto undo = Lorvex({"--undo"});
        EXPECT_EQ(undo.exitStatus, 0) << undo.out << undo.err;
        EXPECT_TRUE(undo.out.ends_with(" 100 files moved back where run " + Journals().back() +
                                       " found them.\n"))
            << undo.out;
    }
    EXPECT_EQ(Snapshot(search), albums);  // what the disk holds after the power cut
    EXPECT_EQ(Snapshot(dest), Contents{});
#endif
}

// A tree --all filled, sorted again after a new map and undone; a folder that is no
// sorted tree is refused.
TEST_F(Runs, AResortMovesWhatTheNewMapChangedAndItsUndoPutsTheOldTreeBack) {
    ASSERT_EQ(Sort(dest, {}, {"--all"}).exitStatus, 0);
    const Contents sorted = Snapshot(dest);
    // "Music / Rock" is renamed, Slow Tide goes there too, Gas 2024 leaves the map.
    WriteFile(program / "cats.txt", "Music / Jazz\r\nMusic / Indie\r\n\"Letters, Bills\"\r\n");
    WriteMap(
        "Night Ferries=Music / Jazz\r\nSlow Tide=Music / Indie\r\nSaltmarsh=Music / Indie\r\n");
    const auto run = Lorvex({"--resort", "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out,
              " 2 files were successfully found and moved!\nMusic / Indie: 2\n"
              "1 file stays where it is, no longer in the map:\n"
              "  Letters, Bills/Gas 2024.zip\nRemoved the folder \"" +
                  (dest / "Music" / "Rock").string() + "\", which the run left empty.\n");
    EXPECT_EQ(Snapshot(dest), (Contents{{"Letters, Bills/Gas 2024.zip", "PK Gas 2024"},
                                        {"Music/Indie/Saltmarsh.zip", "PK Saltmarsh"},
                                        {"Music/Indie/Slow Tide.zip", "PK Slow Tide"},
                                        {"Music/Jazz/Night Ferries.zip", "PK Night Ferries"}}));
    const auto undo = Lorvex({"--undo"});
    EXPECT_EQ(undo.exitStatus, 0) << undo.out << undo.err;
    EXPECT_EQ(Snapshot(dest), sorted);
    EXPECT_EQ(ListDirectory(dest / "Music"), (Names{"Jazz", "Rock"}));

    WriteArchive("Slow Tide.zip", "PK again");
    const auto refused = Lorvex({"--resort", "-d", search.string()});
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "lorvex: \"" + search.string() +
                               "/\" is not a sorted tree: none of its folders is the folder of a "
                               "category of \"" +
                               (program / "cats.txt").string() +
                               "\", as --all makes them (nothing was done)\n");
    EXPECT_EQ(Snapshot(search), (Contents{{"Slow Tide.zip", "PK again"}}));
}

}  // namespace
}  // namespace lorvex
