// The file system in memory that the run engine's tests stand on: it must fail where a
// POSIX system fails, with its words, and lose on a power cut what a system would lose.
#include "memory_file_system.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace lorvex::testing {
namespace {

using fs::Error;

// A search folder, a destination, another mount, a read-only mount, a FAT mount and a
// folder without the right to change it.
void SetUpTree(MemoryFileSystem& files) {
    files.AddFile("/search/a.zip", "zip", {1'700'000'000, 5});
    files.AddFile("/search/secret.zip", "hidden");
    files.SetUnreadable("/search/secret.zip");
    files.AddLink("/search/link.zip", "a.zip");
    files.AddLink("/search/dangling.zip", "/nowhere");
    files.AddOther("/search/fifo");
    files.AddFile("/dest/taken.zip", "old");
    files.AddMount("/other");
    files.AddMount("/ro", kUnlimited, 4096, true);
    files.AddMount("/fat");
    files.SetWithoutLinks("/fat");
    files.AddFolder("/locked/in");
    files.SetReadOnly("/locked", true);
}

struct CallCase {
    const char* what;
    std::function<fs::Outcome(MemoryFileSystem&)> call;
    std::optional<Error> expected;
    std::string words = {};  // the system's words for the kind when empty
};

TEST(MemoryFileSystem, CallsFailAsPosixDoes) {
    using M = MemoryFileSystem;
    const std::string longName(256, 'n');
    const CallCase cases[] = {
        {"folder there", [](M& f) { return f.MakeFolder("/dest/"); }, std::nullopt},
        {"file in the way", [](M& f) { return f.MakeFolder("/search/a.zip"); },
         Error::NotDirectory},
        {"no parent", [](M& f) { return f.MakeFolder("/none/sub"); }, Error::NotFound},
        {"read-only mount", [](M& f) { return f.MakeFolder("/ro/sub"); }, Error::ReadOnly},
        {"locked folder", [](M& f) { return f.MakeFolder("/locked/sub"); }, Error::Permission},
        {"rename", [](M& f) { return f.RenameNoReplace("/search/a.zip", "/dest/a.zip"); },
         std::nullopt},
        {"taken", [](M& f) { return f.RenameNoReplace("/search/a.zip", "/dest/taken.zip"); },
         Error::Exists},
        {"dangling link taken",
         [](M& f) { return f.RenameNoReplace("/search/a.zip", "/search/dangling.zip"); },
         Error::Exists},
        {"no source", [](M& f) { return f.RenameNoReplace("/search/b.zip", "/dest/b.zip"); },
         Error::NotFound},
        {"across mounts", [](M& f) { return f.RenameNoReplace("/search/a.zip", "/other/a.zip"); },
         Error::CrossDevice},
        {"out of a locked folder", [](M& f) { return f.RenameNoReplace("/locked/in", "/in"); },
         Error::Permission},
        {"hard link across", [](M& f) { return f.Link("/search/a.zip", "/other/a", false); },
         Error::CrossDevice},
        {"link on FAT", [](M& f) { return f.Link("/search/a.zip", "/fat/a", true); },
         Error::NotSupported},
        {"remove a folder", [](M& f) { return f.Remove("/dest"); }, Error::Other, "Is a directory"},
        {"not empty", [](M& f) { return f.RemoveFolder("/search"); }, Error::Other,
         "Directory not empty"},
        {"remove folder of a file", [](M& f) { return f.RemoveFolder("/dest/taken.zip"); },
         Error::NotDirectory},
        {"remove in locked", [](M& f) { return f.RemoveFolder("/locked/in"); }, Error::Permission},
        {"unreadable",
         [](M& f) {
             std::string t;
             return f.ReadAll("/search/secret.zip", t);
         },
         Error::Permission},
        {"copy unreadable",
         [](M& f) {
             fs::CopyInProgress c;
             return f.CopyToTemporary("/search/secret.zip", "/dest/s", "", c);
         },
         Error::Permission},
        {"name too long", [&](M& f) { return f.CheckNameFits("/dest/" + longName); },
         Error::NameTooLong},
        {"name fits", [&](M& f) { return f.CheckNameFits("/dest/" + longName.substr(1)); },
         std::nullopt},
        {"no journal",
         [](M& f) {
             fs::Handle h;
             return f.OpenForAppend("/dest/j", false, h);
         },
         Error::NotFound},
        {"list a file", [](M& f) { return f.List("/search/a.zip", [](const fs::Entry&) {}); },
         Error::NotDirectory},
        {"add to read-only", [](M& f) { return f.CheckAccess("/ro/", fs::Access::AddTo); },
         Error::ReadOnly},
    };
    for (const CallCase& test : cases) {
        MemoryFileSystem files;
        SetUpTree(files);
        const fs::Outcome outcome = test.call(files);
        ASSERT_EQ(outcome.has_value(), test.expected.has_value())
            << test.what << ": " << (outcome ? outcome->reason : "done");
        if (outcome) {
            EXPECT_EQ(outcome->kind, *test.expected) << test.what;
            EXPECT_EQ(outcome->reason,
                      test.words.empty() ? files.Words(*test.expected) : test.words)
                << test.what;
        }
    }
}

TEST(MemoryFileSystem, StatusTellsLinksFromWhatTheyLeadTo) {
    MemoryFileSystem files;
    SetUpTree(files);
    const fs::Status file = files.StatusOf("/search/a.zip");
    EXPECT_EQ(file.kind, fs::Kind::File);
    EXPECT_EQ(file.facts, (fs::FileFacts{3, {1'700'000'000, 5}}));
    const fs::Status link = files.StatusOf("/search/link.zip");
    EXPECT_EQ(link.kind, fs::Kind::Link);
    EXPECT_EQ(link.target, fs::Kind::File);
    EXPECT_EQ(link.targetSize, 3U);
    EXPECT_EQ(files.StatusOf("/search/dangling.zip").target, fs::Kind::Missing);
    EXPECT_EQ(files.StatusOf("/search/fifo").kind, fs::Kind::Other);
    EXPECT_EQ(files.StatusOf("/search/none").kind, fs::Kind::Missing);
}

TEST(MemoryFileSystem, MountsAnswerWhereTheyBegin) {
    MemoryFileSystem files;
    SetUpTree(files);
    files.AddFolder("/other/sub");
    files.AddLink("/to-other", "/other/sub/");
    EXPECT_EQ(files.SameMount("/search", "/dest/"), true);
    EXPECT_EQ(files.SameMount("/other", "/to-other"), true);
    EXPECT_EQ(files.SameMount("/search", "/other/sub"), false);
    EXPECT_EQ(files.SameMount("/search", "/none"), std::nullopt);
    EXPECT_EQ(files.WithoutLinks("/fat/"), "FAT");
    EXPECT_EQ(files.WithoutLinks("/other"), std::nullopt);
    EXPECT_NE(files.FreeSpace("/other")->volume, files.FreeSpace("/search")->volume);
    EXPECT_EQ(files.FreeSpace("/search/a.zip"), std::nullopt);
}

TEST(MemoryFileSystem, LinksAreFollowedOnTheWay) {
    MemoryFileSystem files;
    SetUpTree(files);
    files.AddLink("/found", "search");
    files.AddLink("/loop", "/loop");
    std::string text;
    EXPECT_FALSE(files.ReadAll("/found/link.zip", text));
    EXPECT_EQ(text, "zip");
    std::vector<std::pair<std::string, fs::Kind>> entries;
    ASSERT_FALSE(files.List(
        "/found", [&](const fs::Entry& entry) { entries.emplace_back(entry.name, entry.kind); }));
    EXPECT_EQ(entries.size(), 5U);
    EXPECT_EQ(entries.front(), std::pair(std::string("a.zip"), fs::Kind::File));
    EXPECT_EQ(files.ReadAll("/loop", text)->reason, "Too many levels of symbolic links");
    ASSERT_FALSE(files.Link("/search/a.zip", "/search/hard.zip", false));
    EXPECT_TRUE(files.SameContents("/search/hard.zip", "/found/link.zip"));
    EXPECT_FALSE(files.SameContents("/search/a.zip", "/dest/taken.zip"));
}

TEST(MemoryFileSystem, LongNamesAreCutToFitAndOpenFilesAreBounded) {
    MemoryFileSystem files;
    SetUpTree(files);
    const std::string target = "/dest/" + std::string(250, 'x') + ".zip";
    files.SetOpenFileLimit(1);
    fs::CopyInProgress copy;
    ASSERT_FALSE(files.CopyToTemporary("/search/a.zip", target, "", copy));
    const std::string name = copy.temporary.substr(copy.temporary.rfind('/') + 1);
    EXPECT_TRUE(files.FillsNameLimit(name)) << name.size();
    EXPECT_EQ(files.CopyToTemporary("/search/a.zip", "/dest/b.zip", "", copy)->reason,
              "Too many open files");
    EXPECT_EQ(files.OpenFileLimit(), 1U);
    EXPECT_EQ(files.Absolute("dest"), "/dest");
}

TEST(MemoryFileSystem, CopyIsHiddenBesideItsTargetAndDurableOnlyOnceFlushed) {
    MemoryFileSystem files;
    SetUpTree(files);
    const std::string longName = std::string(300, 'x');
    fs::CopyInProgress copy;
    ASSERT_FALSE(files.CopyToTemporary("/search/a.zip", "/dest/a.zip", "", copy));
    EXPECT_TRUE(copy.temporary.starts_with("/dest/.a.zip.")) << copy.temporary;
    EXPECT_TRUE(copy.temporary.ends_with(".lorvex-partial")) << copy.temporary;
    EXPECT_EQ(copy.bytes, 3U);
    EXPECT_EQ(files.Contents(copy.temporary), "zip");
    EXPECT_FALSE(files.DataFlushed(copy.temporary));
    ASSERT_FALSE(files.FlushFiles(std::span(&copy.handle, 1)));
    EXPECT_TRUE(files.DataFlushed(copy.temporary));

    fs::CopyInProgress another;
    ASSERT_FALSE(files.CopyToTemporary("/search/a.zip", "/dest/a.zip", "", another));
    EXPECT_NE(another.temporary, copy.temporary);
    fs::CopyInProgress link;
    ASSERT_FALSE(files.CopyToTemporary("/search/link.zip", "/dest/link.zip", "", link));
    EXPECT_EQ(files.StatusOf(link.temporary).kind, fs::Kind::Link);
    EXPECT_EQ(link.handle, fs::kNoHandle);
    EXPECT_EQ(files.OpenFiles(), 2U);
}

TEST(MemoryFileSystem, FullMountRefusesCopyAndAppendAndKeepsNothingOfThem) {
    MemoryFileSystem files;
    SetUpTree(files);
    files.AddMount("/small", 8192, 4096);
    files.AddFile("/small/journal", std::string(4000, 'j'));
    files.AddFile("/small/big", std::string(4096, 'b'));  // a block each: the mount is full
    EXPECT_EQ(files.FreeSpace("/small/")->available, 0U);
    EXPECT_TRUE(files.FreeSpace("/small")->exact);

    fs::CopyInProgress copy;
    const fs::Outcome refused = files.CopyToTemporary("/search/a.zip", "/small/a.zip", "", copy);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, Error::NoSpace);
    EXPECT_EQ(refused->reason, "No space left on device");
    EXPECT_TRUE(copy.temporary.empty());
    EXPECT_EQ(files.Names("/small"), (std::vector<std::string>{"big", "journal"}));
    EXPECT_EQ(files.OpenFiles(), 0U);

    fs::Handle journal = fs::kNoHandle;
    ASSERT_FALSE(files.OpenForAppend("/small/journal", false, journal));
    EXPECT_FALSE(files.Append(journal, std::string(96, 'j')));  // within its block
    EXPECT_EQ(files.Append(journal, "one more")->kind, Error::NoSpace);
    EXPECT_EQ(files.Contents("/small/journal")->size(), 4096U);
}

TEST(MemoryFileSystem, FailureBeforeOrAfterActing) {
    for (const bool afterActing : {false, true}) {
        MemoryFileSystem files;
        SetUpTree(files);
        files.FailCall(Call::Remove, "a.zip", {Error::Io, {}}, 1, afterActing);
        const fs::Outcome failed = files.Remove("/search/a.zip");
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->reason, "Input/output error");
        EXPECT_EQ(files.Exists("/search/a.zip"), !afterActing);
        EXPECT_EQ(files.Remove("/search/a.zip").has_value(), afterActing);  // once only
        EXPECT_EQ(files.CallCount(Call::Remove), 2U);
    }
}

TEST(MemoryFileSystem, FailuresChosenByPathAndCount) {
    MemoryFileSystem files;
    SetUpTree(files);
    const auto intoDest = [](std::string_view path) { return path.starts_with("/dest/"); };
    files.FailCall(Call::RenameNoReplace, intoDest, {Error::NoSpace, {}}, kEveryTime);
    files.FailCall(Call::StatusOf, "b.zip", {Error::Io, {}});
    files.FailCall(Call::CopyToTemporary, "", {Error::Io, "Remote I/O error"}, 1, true);
    EXPECT_FALSE(files.RenameNoReplace("/search/a.zip", "/search/b.zip"));
    EXPECT_EQ(files.RenameNoReplace("/search/b.zip", "/dest/b.zip")->kind, Error::NoSpace);
    EXPECT_EQ(files.RenameNoReplace("/search/b.zip", "/dest/b.zip")->kind, Error::NoSpace);
    EXPECT_EQ(files.StatusOf("/search/b.zip").kind, fs::Kind::Unknown);  // the system cannot tell
    EXPECT_EQ(files.StatusOf("/search/b.zip").kind, fs::Kind::File);
    fs::CopyInProgress copy;
    EXPECT_EQ(files.CopyToTemporary("/search/b.zip", "/dest/b.zip", "", copy)->reason,
              "Remote I/O error");
    EXPECT_EQ(files.Contents(copy.temporary), "zip");  // made, then failed: left to remove
    EXPECT_EQ(copy.handle, fs::kNoHandle);
    EXPECT_EQ(files.OpenFiles(), 0U);
    EXPECT_THROW(files.FailCall(Call::Close, "", {}), std::logic_error);
    files.ClearFailures();
    EXPECT_FALSE(files.RenameNoReplace("/search/b.zip", "/dest/b.zip"));
    EXPECT_EQ(files.CallCount(Call::RenameNoReplace), 4U);
    EXPECT_EQ(NameOf(Call::RenameNoReplace), "RenameNoReplace");
}

TEST(MemoryFileSystem, HeldCallGoesOnWhenReleasedFromAnotherThread) {
    MemoryFileSystem files;
    SetUpTree(files);
    // Declared before the gate, so that a failed test releases the gate before joining.
    std::jthread mover;
    Gate gate = files.Hold(Call::RenameNoReplace, "a.zip");
    fs::Outcome outcome = fs::Failure{};
    mover = std::jthread([&] { outcome = files.RenameNoReplace("/search/a.zip", "/dest/a.zip"); });
    ASSERT_TRUE(gate.WaitUntilHeld());
    EXPECT_EQ(gate.HeldNow(), 1U);
    EXPECT_TRUE(files.Exists("/search/a.zip"));
    EXPECT_FALSE(files.RenameNoReplace("/search/link.zip", "/dest/link.zip"));  // not held
    EXPECT_EQ(files.MaxCallsInFlight(), 2U);
    gate.Release();
    mover.join();
    EXPECT_FALSE(outcome);
    EXPECT_EQ(files.Contents("/dest/a.zip"), "zip");
    EXPECT_EQ(files.CallsInFlight(), 0U);
}

TEST(MemoryFileSystem, PowerCutKeepsOnlyWhatWasFlushed) {
    struct Case {
        bool flushFiles;
        bool flushFolder;
        std::optional<std::string> survives;
    };
    for (const Case& test : {Case{false, false, std::nullopt}, Case{true, false, std::nullopt},
                             Case{false, true, ""}, Case{true, true, "zip"}}) {
        MemoryFileSystem files;
        SetUpTree(files);
        fs::CopyInProgress copy;
        ASSERT_FALSE(files.CopyToTemporary("/search/a.zip", "/dest/a.zip", "", copy));
        ASSERT_FALSE(files.RenameNoReplace(copy.temporary, "/dest/a.zip"));
        if (test.flushFiles) {
            ASSERT_FALSE(files.FlushFiles(std::span(&copy.handle, 1)));
        }
        if (test.flushFolder) {
            ASSERT_FALSE(files.FlushFolder("/dest"));
        }
        EXPECT_EQ(files.NameFlushed("/dest/a.zip"), test.flushFolder);
        files.PowerCut();
        EXPECT_EQ(files.Contents("/dest/a.zip"), test.survives);
        EXPECT_EQ(files.Names("/dest").size(), test.flushFolder ? 2U : 1U);
        EXPECT_EQ(files.OpenFiles(), 0U);
    }
}

TEST(MemoryFileSystem, PowerCutCutsAJournalAtItsLastFlush) {
    MemoryFileSystem files;
    fs::Handle journal = fs::kNoHandle;
    ASSERT_FALSE(files.OpenForAppend("/journal", true, journal));
    ASSERT_FALSE(files.Append(journal, "one\n"));
    ASSERT_FALSE(files.FlushFiles(std::span(&journal, 1)));
    ASSERT_FALSE(files.FlushFolder("/"));
    ASSERT_FALSE(files.Append(journal, "two\n"));
    files.PowerCut();
    EXPECT_EQ(files.Contents("/journal"), "one\n");
}

}  // namespace
}  // namespace lorvex::testing
