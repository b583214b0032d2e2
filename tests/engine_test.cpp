// The run engine's decisions, in-process. A dry run is the same steps over a file system
// that changes nothing, so for any collection it must name the same archives, with the same
// reasons, as the real run does afterwards: checked over generated collections in memory
// and over a real tmpfs with the awkward cases a user meets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "dry_run_file_system.h"
#include "errors.h"
#include "memory_file_system.h"
#include "mounts.h"
#include "move_job.h"
#include "pass.h"
#include "run_history.h"
#include "run_journal.h"
#include "system_file_system.h"
#include "test_support.h"

namespace lorvex {
namespace {

using namespace std::string_literals;

using testing::Call;
using testing::MemoryFileSystem;

// What a user compares between the dry run and the real one: the count and every archive
// named, with its reason.
struct Outcome {
    std::int64_t count = 0;
    std::vector<std::string> failures;  // "archive: reason", sorted
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    out << outcome.count << " moved";
    for (const auto& failure : outcome.failures) {
        out << "\n  " << failure;
    }
    return out;
}

Outcome RunPass(fs::FileSystem& system, const std::string& map, PassRequest request) {
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& used = request.dryRun ? dry.emplace(system) : system;
    used.MakeFolder(request.destdir);
    const PassResult result = Pass(used, map, request, nullptr).Run();
    Outcome outcome{result.moved, {}};
    for (const auto& failure : result.failed) {
        outcome.failures.push_back(failure.archive + ": " + failure.reason);
    }
    std::sort(outcome.failures.begin(), outcome.failures.end());
    return outcome;
}

// What is where, bytes included, under `folder` of a memory file system.
std::string Snapshot(MemoryFileSystem& files, const std::string& folder) {
    std::string text;
    for (const auto& name : files.Names(folder)) {
        const std::string path = folder + "/" + name;
        const auto status = files.StatusOf(path);
        text += path + (status.kind == fs::Kind::Directory ? "/\n" : "\n");
        if (status.kind == fs::Kind::Directory) {
            text += Snapshot(files, path);
        } else if (status.kind == fs::Kind::File) {
            text += files.Contents(path).value_or("?") + "\n";
        }
    }
    return text;
}

// One archive of a generated collection and what stands in its way.
enum class Trouble { None, Empty, Missing, Unreadable, TakenSame, TakenOther, Dangling, Fifo };

struct Collection {
    std::string map;
    std::vector<std::pair<std::string, Trouble>> archives;
    bool otherMount = false;
    std::uint64_t capacity = testing::kUnlimited;
    bool readOnlyDest = false;
    Transfer transfer = Transfer::Move;
    bool all = false;
};

Collection Generate(unsigned seed) {
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return static_cast<int>(random() % n); };
    Collection c;
    c.map = test::MapWithHeader("");
    const int count = 1 + pick(12);
    std::string listedAgain;  // names listed twice, far from their first line
    for (int i = 0; i < count; ++i) {
        const std::string name = "a" + std::to_string(i);
        const auto trouble = static_cast<Trouble>(pick(3) == 0 ? pick(8) : 0);
        c.archives.emplace_back(name, trouble);
        const char* category = pick(3) == 0 ? "Cat B" : "Cat A";
        c.map += name + "=" + category + "\n";
        if (pick(6) == 0) {
            c.map += name + "=" + category + "\n";  // listed twice
        } else if (pick(6) == 0) {
            listedAgain += name + "=" + category + "\n";
        }
    }
    c.map += listedAgain;
    c.otherMount = pick(2) == 0;
    c.capacity =
        pick(4) == 0 ? 4096 * static_cast<std::uint64_t>(1 + pick(6)) : testing::kUnlimited;
    c.readOnlyDest = pick(10) == 0;
    c.transfer = static_cast<Transfer>(pick(5) < 2 ? 0 : pick(4));
    c.all = pick(2) == 0;
    return c;
}

void Build(MemoryFileSystem& files, const Collection& c) {
    files.AddFolder("/search");
    files.AddFolder("/out");
    if (c.otherMount || c.capacity != testing::kUnlimited) {
        files.AddMount("/out", c.capacity);
    }
    for (const auto& [name, trouble] : c.archives) {
        const std::string source = "/search/" + name + ".zip";
        const std::string target = "/out/" + name + ".zip";
        const std::string bytes(1000 + 3000 * (name.size() % 3), 'z');
        if (trouble != Trouble::Missing) {
            files.AddFile(source, trouble == Trouble::Empty ? "" : bytes, {1'700'000'000, 1});
        }
        if (trouble == Trouble::Unreadable) {
            files.SetUnreadable(source);
        } else if (trouble == Trouble::TakenSame) {
            files.AddFile(target, bytes);
        } else if (trouble == Trouble::TakenOther) {
            files.AddFile(target, "other bytes");
        } else if (trouble == Trouble::Dangling) {
            files.AddLink(target, "/nowhere");
        } else if (trouble == Trouble::Fifo) {
            files.AddOther(target);
        }
    }
    if (c.readOnlyDest) {
        files.SetReadOnly("/out", true);
    }
}

PassRequest RequestFor(const Collection& c, bool dryRun) {
    PassRequest request{"Cat A", "/search/", "/out/"};
    if (c.all) {
        request.targets = {{"Cat A", "/out/"}, {"Cat B", "/out/B/"}};
    }
    request.dryRun = dryRun;
    request.transfer = c.transfer;
    return request;
}

TEST(Engine, TheDryRunNamesWhatTheRealRunThenDoesOverGeneratedCollections) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        const Collection c = Generate(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", transfer " +
                     std::to_string(static_cast<int>(c.transfer)) +
                     (c.otherMount ? ", another mount" : "") + (c.all ? ", all" : ""));
        MemoryFileSystem dryFiles;
        MemoryFileSystem realFiles;
        Build(dryFiles, c);
        Build(realFiles, c);
        // A share: calls side by side, the dry run asking ahead. Not with a disk that
        // fills up: which copies find room then depends on which comes first.
        if (seed % 3 == 0 && c.capacity == testing::kUnlimited) {
            dryFiles.SetRemote("/out");
            realFiles.SetRemote("/out");
        }
        const std::string before = Snapshot(dryFiles, "");
        const Outcome dry = RunPass(dryFiles, c.map, RequestFor(c, true));
        EXPECT_EQ(Snapshot(dryFiles, ""), before);
        ASSERT_EQ(dry, RunPass(realFiles, c.map, RequestFor(c, false))) << c.map;
    }
}

// A move with its journal, then what a user may have done since; then an undo.
enum class Since {
    Nothing,
    DestReadOnly,
    SearchReadOnly,
    Changed,
    NameTaken,
    SameBytesBack,
    PowerCut,
    JournalCut,
    Count
};

Outcome Undo(MemoryFileSystem& files, const Collection& c, Since since, bool dryRun) {
    RunJournalText run{"", "", "Cat A", "/search/", "/out/", {}, {}, {}};
    {
        RunJournal journal(files, run);
        Pass pass(files, c.map, RequestFor(c, false), nullptr);
        pass.SetJournal(&journal);
        pass.Run();
        journal.Finish();
    }
    const std::string first = "/" + c.archives.front().first + ".zip";
    switch (since) {
        case Since::Nothing:
            break;
        case Since::DestReadOnly:
            files.SetReadOnly("/out", true);
            break;
        case Since::SearchReadOnly:
            files.SetReadOnly("/search", true);
            break;
        case Since::Changed:
            files.AddFile("/out" + first, "changed", {1, 2});
            break;
        case Since::NameTaken:
            files.AddFile("/search" + first, "someone else's");
            break;
        case Since::SameBytesBack:
            if (const auto bytes = files.Contents("/out" + first)) {
                files.AddFile("/search" + first, *bytes);
            }
            break;
        case Since::PowerCut:
            files.PowerCut();
            break;
        case Since::JournalCut:
            for (const auto& name : files.Names(RunsDirectory())) {
                const std::string text = *files.Contents(RunsDirectory() + name);
                files.AddFile(RunsDirectory() + name, text.substr(0, text.size() * 2 / 3));
            }
            break;
        case Since::Count:
            break;
    }
    UndoResult result;
    try {
        result = UndoRun(files, "", dryRun);
    } catch (const LorvexError& error) {
        return {-1, {error.what()}};  // a run that moved nothing left no journal
    }
    Outcome outcome{dryRun ? static_cast<std::int64_t>(result.planned.size()) : result.movedBack,
                    {}};
    for (const auto& failure : result.failed) {
        outcome.failures.push_back(failure.archive + ": " + failure.reason);
    }
    std::sort(outcome.failures.begin(), outcome.failures.end());
    return outcome;
}

TEST(Engine, TheDryUndoNamesWhatTheRealUndoThenDoes) {
    ::setenv("XDG_STATE_HOME", "/state", 1);
    for (unsigned seed = 1; seed <= 120; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Collection c = Generate(seed);
        c.transfer = Transfer::Move;
        c.readOnlyDest = false;
        const auto since = static_cast<Since>(seed % static_cast<unsigned>(Since::Count));
        MemoryFileSystem dryFiles;
        MemoryFileSystem realFiles;
        Build(dryFiles, c);
        Build(realFiles, c);
        if (seed % 3 == 1 && c.capacity == testing::kUnlimited) {  // side by side on a share
            dryFiles.SetRemote("/search");
            realFiles.SetRemote("/search");
        }
        const Outcome dry = Undo(dryFiles, c, since, true);
        ASSERT_EQ(dry, Undo(realFiles, c, since, false)) << c.map;
    }
    ::unsetenv("XDG_STATE_HOME");
}

// Every step of a batch across mounts that can fail keeps each archive whole in exactly
// one place (in both, for a copy) and names it.
TEST(Engine, AFailedStepAcrossMountsLosesNoArchive) {
    struct Case {
        Call call;
        Transfer transfer;
    };
    const Case cases[] = {
        {Call::CopyToTemporary, Transfer::Move}, {Call::FlushFiles, Transfer::Move},
        {Call::RenameNoReplace, Transfer::Move}, {Call::FlushFolder, Transfer::Move},
        {Call::Remove, Transfer::Move},          {Call::FlushFiles, Transfer::Copy}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(testing::NameOf(c.call)));
        MemoryFileSystem files;
        files.AddMount("/out");
        for (const char* name : {"a", "b", "c"}) {
            files.AddFile(std::string("/search/") + name + ".zip", std::string("PK ") + name);
        }
        // A folder's flush fails for the folder, so for all of it.
        const bool wholeBatch = c.call == Call::FlushFiles || c.call == Call::FlushFolder;
        files.FailCall(c.call, c.call == Call::FlushFolder ? "/out" : "b.zip", {fs::Error::Io, ""});
        PassRequest request{"Cat A", "/search/", "/out/"};
        request.transfer = c.transfer;
        const Outcome outcome =
            RunPass(files, test::MapWithHeader("a=Cat A\nb=Cat A\nc=Cat A\n"), request);
        EXPECT_EQ(outcome.failures.size(), wholeBatch ? 3u : 1u);
        EXPECT_EQ(outcome.failures.back(),
                  "c.zip: Input/output error"s.replace(0, 1, wholeBatch ? "c" : "b"));
        for (const char* name : {"a", "b", "c"}) {
            const bool inSearch = files.Exists(std::string("/search/") + name + ".zip");
            const bool inOut = files.Exists(std::string("/out/") + name + ".zip");
            const bool moved = name[0] != 'b' && !wholeBatch;
            EXPECT_EQ(inSearch, c.transfer == Transfer::Copy || !moved) << name;
            EXPECT_EQ(inOut, moved) << name;
        }
        const std::vector<std::string> placed =
            wholeBatch ? std::vector<std::string>{} : std::vector<std::string>{"a.zip", "c.zip"};
        EXPECT_EQ(files.Names("/out"), placed);
    }
}

TEST(Engine, ModificationTimesOfAnyYearSurviveTheJournal) {
    const fs::FileTime times[] = {{0, 0},
                                  {-1, 999'999'999},
                                  {32'503'680'000, 1},           // 3000-01-01
                                  {-62'167'219'200 - 86400, 5},  // the day before year 0
                                  {9'000'000'000'000'000, 123},  // past year 285,000,000
                                  {-9'000'000'000'000'000, 0}};
    for (const auto time : times) {
        const std::string text = ReadableModified(time);
        EXPECT_EQ(ParseModified(text), time) << text;
    }
    EXPECT_EQ(ReadableModified({32'503'680'000, 0}), "3000-01-01 00:00:00.000000000 UTC");
    EXPECT_EQ(ReadableModified({-1, 120'000'007}), "1969-12-31 23:59:59.120000007 UTC");
    EXPECT_EQ(ParseModified("2026-02-30 00:00:00.000000000 UTC"), std::nullopt);
}

TEST(Engine, PathsWithTabsLineEndsAndBackslashesSurviveTheJournal) {
    for (const std::string name : {"plain", "\\lead", "tail\\", "a\tb\nc\rd\\\\e", "\t\n\r"}) {
        RunJournalText run;
        run.category = name;
        run.searchdir = "/s/" + name;
        const std::string text = JournalHeader(run) + CreatedFolderLine("/d/" + name);
        EXPECT_EQ(std::ranges::count(text, '\n'), 7) << text;  // each field on its own line
        const RunJournalText read = ParseJournal(text);
        EXPECT_EQ(read.category, name);
        EXPECT_EQ(read.searchdir, "/s/" + name);
        EXPECT_EQ(read.createdFolders, std::vector<std::string>{"/d/" + name});
    }
}

// The awkward cases a user meets, on a real tmpfs of this test's own: a dangling link and a
// FIFO where an archive goes, the same bytes already there, a search folder bind-mounted,
// a destination that fills up, a read-only destination, a file where a folder goes.
TEST(Engine, TheDryRunNamesWhatTheRealRunThenDoesOnARealFileSystem) {
    if (::geteuid() != 0 || !test::PrivateMountNamespace()) {
        GTEST_SKIP() << "needs root and a mount namespace of its own";
    }
    test::TempDir root;
    struct Row {
        const char* what;
        const char* mountOptions;  // of the destination's tmpfs; "" for none
        std::function<void(const std::filesystem::path& search, const std::filesystem::path& out)>
            prepare;
        Transfer transfer = Transfer::Move;
    };
    namespace stdfs = std::filesystem;
    const Row rows[] = {
        {"dangling link and FIFO", "",
         [](const stdfs::path&, const stdfs::path& out) {
             stdfs::create_symlink("/nowhere", out / "a1.zip");
             ::mkfifo((out / "a2.zip").c_str(), 0600);
         }},
        {"same bytes there, across", "size=1m",
         [](const stdfs::path& search, const stdfs::path& out) {
             stdfs::copy_file(search / "a1.zip", out / "a1.zip");
         }},
        {"fills up", "size=40k", [](const stdfs::path&, const stdfs::path&) {}},
        {"read-only", "size=1m,mode=0555",
         [](const stdfs::path&, const stdfs::path& out) { ::chmod(out.c_str(), 0555); }},
        {"hard links across", "size=1m", [](const stdfs::path&, const stdfs::path&) {},
         Transfer::HardLink},
        {"file where a folder goes", "",
         [](const stdfs::path&, const stdfs::path& out) { test::WriteFile(out / "B", "x"); }},
    };
    const std::string map = test::MapWithHeader(
        "a1=Cat A\na2=Cat A\na3=Cat B\na4=Cat A\na5=Cat A\na6=Cat B\na7=Cat A\na8=Cat A\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<Outcome> outcomes;
        for (const bool dryRun : {true, false}) {
            // The same paths both times, as the reasons name them.
            const stdfs::path place = root.path() / row.what;
            stdfs::remove_all(place);
            const stdfs::path search = place / "search";
            const stdfs::path out = place / "out";
            stdfs::create_directories(search);
            stdfs::create_directories(out);
            std::optional<test::Tmpfs> mount;
            if (*row.mountOptions) {
                mount.emplace(out, row.mountOptions);
                ASSERT_TRUE(mount->mounted());
            }
            for (int i = 1; i <= 8; ++i) {
                test::WriteFile(search / ("a" + std::to_string(i) + ".zip"),
                                std::string(6000 * i, 'z'));
            }
            row.prepare(search, out);
            if (std::string(row.what) == "read-only") {
                ASSERT_TRUE(mount->MakeReadOnly());
            }
            PassRequest request{"Cat A", search.string() + "/", out.string() + "/"};
            request.targets = {{"Cat A", request.destdir}, {"Cat B", request.destdir + "B/"}};
            request.dryRun = dryRun;
            request.transfer = row.transfer;
            outcomes.push_back(RunPass(platform::SystemFileSystem(), map, request));
        }
        EXPECT_EQ(outcomes[0], outcomes[1]);
    }
}

}  // namespace
}  // namespace lorvex

namespace lorvex {
namespace {

// Runs and undos that meet one another, and systems that answer badly: nothing is lost.
class Together : public ::testing::Test {
protected:
    void SetUp() override {
        // The data files are the program's, on the disk; the collection is in memory.
        ::setenv("XDG_STATE_HOME", "/state", 1);
        ::setenv("XDG_DATA_HOME", (program.path() / "no-user-data").c_str(), 1);
        files.AddMount("/out");
        for (const char* name : {"a", "b", "c", "d"}) {
            files.AddFile(std::string("/search/") + name + ".zip", std::string("PK ") + name);
        }
    }
    void TearDown() override {
        ::unsetenv("XDG_STATE_HOME");
        ::unsetenv("XDG_DATA_HOME");
    }

    void WriteMap(const std::string& body) {
        test::WriteFile(program.path() / "lorvex.ini", test::MapWithHeader(body));
    }

    // A move of `category` from /search to `destdir` as the command line runs it.
    PassResult Move(const std::string& category, const std::string& destdir = "/out",
                    bool dryRun = false) {
        MoveRequest request{category};
        request.searchdir = "/search";
        request.destdir = destdir;
        request.dryRun = dryRun;
        return MoveJob(files, program.path().string(), request).Run(nullptr);
    }

    test::TempDir program;
    MemoryFileSystem files;
};

TEST_F(Together, ARemovalThatFailsAfterActingKeepsTheOnlyCopyAndCountsIt) {
    WriteMap("a=A\nb=A\n");
    files.FailCall(Call::Remove, "/search/b.zip", {fs::Error::Io, ""}, 1, true);
    const PassResult result = Move("A");
    EXPECT_EQ(result.moved, 2);
    EXPECT_TRUE(result.failed.empty());
    EXPECT_EQ(files.Contents("/out/b.zip"), "PK b");
    // Looked at again and unknown: both stay, and the report says so.
    files.AddFile("/search/c.zip", "PK c");
    WriteMap("c=A\n");
    files.FailCall(Call::Remove, "/search/c.zip", {fs::Error::Io, ""});
    // The look before the move tells; the look after the failed removal does not.
    auto looks = std::make_shared<int>(0);
    files.FailCall(
        Call::StatusOf,
        [looks](std::string_view path) { return path == "/search/c.zip" && ++*looks == 2; },
        {fs::Error::Io, ""});
    const PassResult unknown = Move("A");
    ASSERT_EQ(unknown.failed.size(), 1u);
    EXPECT_EQ(unknown.failed[0].reason,
              "Input/output error; the archive may now be in both places (both copies kept)");
    EXPECT_TRUE(files.Exists("/out/c.zip") && files.Exists("/search/c.zip"));
}

TEST_F(Together, TwoRunsIntoOneFolderAndAnUndoOfARunStillGoing) {
    WriteMap("a=A\nb=A\nc=B\nd=B\n");
    // The first run held between copying its batch and flushing it.
    testing::Gate held = files.Hold(Call::FlushFiles, "/out/.a.zip");
    PassResult first;
    std::thread running([&] { first = Move("A"); });
    ASSERT_TRUE(held.WaitUntilHeld());
    const auto temporaries = files.Names("/out");
    EXPECT_EQ(temporaries.size(), 3u);                     // its two copies and its lock
    EXPECT_THROW(UndoRun(files, "", false), LorvexError);  // still going: refused
    const PassResult second = Move("B");
    EXPECT_EQ(second.moved, 2);
    EXPECT_EQ(second.leftoversRemoved, 0u);
    held.Release();
    running.join();
    EXPECT_EQ(first.moved, 2);
    EXPECT_TRUE(first.failed.empty() && second.failed.empty());
    EXPECT_EQ(files.Names("/out"), (std::vector<std::string>{"a.zip", "b.zip", "c.zip", "d.zip"}));
    EXPECT_EQ(UndoRun(files, "", false).movedBack, 2);  // the newest run, now ended
}

TEST_F(Together, ADeadRunsCopiesGoLocallyAndStayWhereOtherMachinesMayBeWriting) {
    WriteMap("a=A\n");
    files.AddFile("/out/.a.zip.run-20260101-000000.AAAAAA.lorvex-partial", "PK");
    files.AddFile("/out/.lorvex-run-20260101-000000.lock", "");
    files.AddFile("/share/.a.zip.run-20260101-000000.AAAAAA.lorvex-partial", "PK");
    files.SetRemote("/share");
    EXPECT_EQ(Move("A").leftoversRemoved, 1u);
    EXPECT_EQ(files.Names("/out"), std::vector<std::string>{"a.zip"});
    files.AddFile("/search/a.zip", "PK a");
    const PassResult remote = Move("A", "/share");
    EXPECT_EQ(remote.leftoversKept, std::vector<std::string>{"/share/"});
    EXPECT_TRUE(files.Exists("/share/.a.zip.run-20260101-000000.AAAAAA.lorvex-partial"));
}

TEST_F(Together, AJournalThatCannotBeWrittenStopsTheRunAndLosesNothing) {
    std::string map;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "n" + std::to_string(i);
        files.AddFile("/search/" + name + ".zip", "PK " + name);
        map += name + "=A\n";
    }
    WriteMap(map);
    files.AddMount("/state", 8192);  // room for the header and a few records, no more
    // The dry run cannot fill the disk, but tells.
    EXPECT_EQ(Move("A", "/out", true).journalRoom.rfind("The folder of the run journals", 0), 0u);
    EXPECT_EQ(Move("B", "/out", true).journalRoom, "");  // nothing to record
    const PassResult result = Move("A");
    EXPECT_EQ(result.stopped.rfind("cannot write the run's journal", 0), 0u) << result.stopped;
    EXPECT_NE(result.stopped.find("No space left on device"), std::string::npos);
    EXPECT_LT(result.moved, 300);
    for (int i = 0; i < 300; ++i) {
        const std::string name = "/n" + std::to_string(i) + ".zip";
        EXPECT_NE(files.Exists("/search" + name), files.Exists("/out" + name)) << name;
    }
}

TEST_F(Together, AnUndoThatAnErrorKeptLeavesTheRunToUndoAgain) {
    WriteMap("a=A\nb=A\nc=B\n");
    ASSERT_EQ(Move("B").moved, 1);  // an older run, which a plain undo must not reach
    ASSERT_EQ(Move("A").moved, 2);
    files.SetReadOnly("/out", true);
    const UndoResult kept = UndoRun(files, "", false);
    EXPECT_EQ(kept.unsettled, 2);
    EXPECT_NE(RunsListText(files).find("2 moved, 2 still there, 2 not back"), std::string::npos)
        << RunsListText(files);
    files.SetReadOnly("/out", false);
    files.AddFile("/search/a.zip", "someone else's");  // a taken name is the user's to decide
    const UndoResult again = UndoRun(files, "", false);
    EXPECT_EQ(again.runId, kept.runId);
    EXPECT_EQ(again.movedBack, 1);
    EXPECT_EQ(again.unsettled, 0);
    EXPECT_NE(RunsListText(files).find(", undone"), std::string::npos);
}

TEST_F(Together, EveryPlacedArchiveHasItsRecordOnDiskBeforeItTakesItsName) {
    WriteMap("a=A\nb=A\nc=A\nd=A\n");
    for (const std::string destdir : {"/sorted", "/out"}) {  // one mount, and another
        SCOPED_TRACE(destdir);
        // Held as the third archive takes its name, as a kill or a power cut may find it.
        testing::Gate held = files.Hold(Call::RenameNoReplace, destdir + "/c.zip");
        PassResult result;
        std::thread running([&] { result = Move("A", destdir); });
        ASSERT_TRUE(held.WaitUntilHeld());
        const std::string journal = RunsDirectory() + RunIds(files).back() + ".log";
        EXPECT_TRUE(files.DataFlushed(journal));
        for (const std::string name : {"/a.zip", "/b.zip"}) {
            ASSERT_TRUE(files.Exists(destdir + name));
            EXPECT_NE(files.Contents(journal)->find("moving\t" + destdir + name),
                      std::string::npos);
        }
        held.Release();
        running.join();
        EXPECT_EQ(result.moved, 4);
        EXPECT_NE(RunsListText(files).find("4 moved, 4 still there"), std::string::npos);
        ASSERT_EQ(UndoRun(files, "", false).movedBack, 4);
    }
}

// Journals that do not tell the whole run: each is listed for what it is, and undo puts back
// what it can read.
TEST_F(Together, AJournalCutShortOrNeverEndedIsNamedAndUndoneAsFarAsItGoes) {
    files.AddFile("/out/a.zip", "PK a");
    const auto record = [&](const char* name, bool made) {
        const std::string moved = "/out/"s + name + ".zip";
        const fs::FileFacts facts =
            files.Exists(moved) ? files.StatusOf(moved).facts : fs::FileFacts{4, {}};
        return RecordLine({moved, "/in/"s + name + ".zip", facts, made});
    };
    const std::string header = "lorvex run\tx\nends\tmarked\nstarted\t2026-12-07 10:00:00 UTC\n";
    struct Row {
        const char* what;
        std::string journal;
        const char* listed;
        std::int64_t unreadable;
    };
    const Row rows[] = {
        {"a batch recorded ahead and never made",
         header + record("a", false) + record("b", false) + "ended\tnow\n",
         "1 moved, 1 still there", 0},
        {"cut short", header + record("a", true) + "moved\t/out/b.zip\t/in",
         "1 moved, 1 still there, journal cut short: 1 archive readable", 1},
        {"never ended", header + record("a", true), "1 moved, 1 still there, interrupted", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        files.AddFile(RunsDirectory() + "20261207-100000.log", row.journal);
        EXPECT_NE(RunsListText(files).find(row.listed), std::string::npos) << RunsListText(files);
        const UndoResult undo = UndoRun(files, "", false);
        EXPECT_EQ(undo.movedBack, 1);
        EXPECT_TRUE(undo.failed.empty());
        EXPECT_EQ(undo.unreadable, row.unreadable);
        EXPECT_EQ(UndoSettled(undo), row.unreadable == 0);
        EXPECT_NE(RunsListText(files).find(", undone"), std::string::npos) << RunsListText(files);
        ASSERT_TRUE(files.Exists("/in/a.zip"));
        files.AddFile("/out/a.zip", *files.Contents("/in/a.zip"));
        files.Remove("/in/a.zip");
    }
}

class StopAt : public PassProgress {
public:
    explicit StopAt(std::int64_t archive) : archive_(archive) {}
    bool ContinuePass(const PassStatus& status) override { return status.checked < archive_; }

private:
    std::int64_t archive_;
};

TEST_F(Together, AnUndoStoppedOnRequestCleansUpAndIsTakenUpAgain) {
    WriteMap("a=A\nb=A\nc=A\n");
    ASSERT_EQ(Move("A").moved, 3);
    const std::string id = RunIds(files).back();
    // What a killed move and a killed undo of it left.
    files.AddFile("/out/.d.zip.run-" + id + ".AAAAAA.lorvex-partial", "PK");
    files.AddFile("/search/.a.zip.run-20260101-000000-undo.BBBBBB.lorvex-partial", "PK");
    StopAt stop(2);
    const UndoResult stopped = UndoRun(files, "", false, &stop);
    EXPECT_EQ(stopped.movedBack, 1);
    EXPECT_EQ(stopped.notTried, 2);
    EXPECT_FALSE(UndoSettled(stopped));
    EXPECT_NE(UndoReportText(stopped).find("Stopped on request: 2 files not looked at"),
              std::string::npos);
    EXPECT_EQ(files.Names("/out"), (std::vector<std::string>{"a.zip", "b.zip"}));
    EXPECT_EQ(files.Names("/search"), (std::vector<std::string>{"c.zip", "d.zip"}));
    // A run that only made a folder is never what a plain undo takes.
    WriteMap("z=A\n");
    Move("A", "/made");
    EXPECT_TRUE(RunIds(files).back().ends_with("-folders"));
    const UndoResult rest = UndoRun(files, "", false);
    EXPECT_EQ(rest.runId, id);
    EXPECT_EQ(rest.movedBack, 2);
    EXPECT_TRUE(UndoSettled(rest));
}

TEST_F(Together, AnUndoStoppedOnAShareStartsNothingMoreAndCountsWhatStayed) {
    WriteMap("a=A\nb=A\nc=A\nd=A\n");
    files.SetRemote("/out");
    ASSERT_EQ(Move("A").moved, 4);
    StopAt stop(3);
    const UndoResult stopped = UndoRun(files, "", false, &stop);
    EXPECT_EQ(stopped.movedBack + stopped.notTried, 4);  // the calls in flight returned
    EXPECT_EQ(files.Names("/search").size() + files.Names("/out").size(), 4u);
    const UndoResult rest = UndoRun(files, "", false);
    EXPECT_EQ(rest.movedBack, stopped.notTried);
    EXPECT_TRUE(UndoSettled(rest));
}

TEST_F(Together, AnUndoOnAShareAsksAheadAndLeavesOnlyWhatChanged) {
    std::string map;
    for (int i = 0; i < 70; ++i) {  // more than the statuses asked ahead at once
        const std::string name = "n" + std::to_string(i);
        files.AddFile("/search/" + name + ".zip", "PK " + name);
        map += name + "=A\n";
    }
    WriteMap(map);
    files.SetRemote("/out");
    ASSERT_EQ(Move("A").moved, 70);
    files.AddFile("/out/n66.zip", "changed", {1, 2});
    EXPECT_NE(RunsListText(files).find("70 moved, 69 still there"), std::string::npos);
    const UndoResult result = UndoRun(files, "", false);
    EXPECT_EQ(result.movedBack, 69);
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_EQ(result.failed[0].archive, "/out/n66.zip");
    EXPECT_EQ(files.Names("/out"), std::vector<std::string>{"n66.zip"});
}

TEST_F(Together, AHundredRunsThatMovedAreKeptAndTheFolderRunsSinceTheOldest) {
    const auto add = [&](const std::string& id) {
        files.AddFile(RunsDirectory() + id + ".log", "lorvex run\t" + id + "\n");
    };
    add("20000101-000000-folders");
    for (int i = 100; i < 200; ++i) {
        add("20000102-000" + std::to_string(i));
    }
    add("20000102-000150-folders");
    { RunJournal journal(files, {"", "", "A", "/search/", "/out/", {}, {}, {}}); }
    const auto ids = RunIds(files);
    ASSERT_EQ(ids.size(), 101u);
    EXPECT_EQ(ids.front(), "20000102-000101");
    EXPECT_EQ(std::count_if(ids.begin(), ids.end(),
                            [](const std::string& id) { return id.ends_with("-folders"); }),
              1);
}

TEST_F(Together, RunsStartedInOneSecondNeverShareAnId) {
    std::set<std::string> ids;
    for (int i = 0; i < 150; ++i) {
        RunJournal journal(files, {"", "", "A", "/search/", "/out/", {}, {}, {}});
        ids.insert(journal.Id());
    }
    EXPECT_EQ(ids.size(), 150u);
}

}  // namespace
}  // namespace lorvex
