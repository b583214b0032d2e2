// The system's file system on Windows, on the real file system under wine: the calls a run
// makes, the kinds their failures come in, and the times and links Windows keeps its own way.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "mover.h"
#include "platform.h"
#include "platform_windows.h"
#include "system_file_system.h"
#include "test_support.h"

namespace lorvex {
namespace {

using test::OtherFileSystemDirectory;
using test::TempDir;
using test::Utf8;
using test::WriteFile;

fs::FileSystem& files = platform::SystemFileSystem();

std::optional<fs::Error> KindOf(const fs::Outcome& outcome) {
    return outcome ? std::optional(outcome->kind) : std::nullopt;
}

// A symbolic link `link` to `target`, or nothing where the system cannot make one.
bool MadeLink(const std::string& target, const std::string& link) {
    const fs::Outcome made = files.Link(target, link, true);
    // Counted only once it is there, and refused as something the system cannot do.
    EXPECT_EQ(!made,
              ::GetFileAttributesW(platform::LongPath(link).c_str()) != INVALID_FILE_ATTRIBUTES);
    if (made) {
        EXPECT_TRUE(made->kind == fs::Error::NotSupported || made->kind == fs::Error::Permission)
            << made->reason;
    } else {
        EXPECT_EQ(files.StatusOf(link).kind, fs::Kind::Link);
    }
    std::cout << (made ? "no symbolic link: " + made->reason : "a symbolic link") << "\n";
    return !made;
}

class WindowsFileSystem : public ::testing::Test {
protected:
    std::string At(const std::string& name) const {
        return Utf8(dir.path() / test::PathFromUtf8(name));
    }
    TempDir dir;
};

TEST_F(WindowsFileSystem, RenameNoReplaceRefusesATakenName) {
    WriteFile(dir / "from.zip", "new");
    WriteFile(dir / "taken.zip", "old");
    std::vector<std::string> taken = {"taken.zip"};
    if (MadeLink(At("nowhere.zip"), At("dangling.zip"))) {
        taken.push_back("dangling.zip");
    }
    for (const auto& name : taken) {
        EXPECT_EQ(KindOf(files.RenameNoReplace(At("from.zip"), At(name))), fs::Error::Exists)
            << name;
        EXPECT_EQ(files.StatusOf(At("from.zip")).kind, fs::Kind::File) << name;
    }
    EXPECT_EQ(test::ReadFile(dir / "taken.zip"), "old");
}

TEST_F(WindowsFileSystem, RenameToAnotherDriveIsCrossDevice) {
    const OtherFileSystemDirectory other(dir.path());
    if (!other.found()) {
        GTEST_SKIP() << "no drive on another file system";
    }
    WriteFile(dir / "a.zip", "a");
    EXPECT_EQ(KindOf(files.RenameNoReplace(At("a.zip"), Utf8(other.path() / "a.zip"))),
              fs::Error::CrossDevice);
    EXPECT_EQ(files.SameMount(dir.dir(), Utf8(other.path())), false);
    EXPECT_EQ(files.SameMount(dir.dir(), Utf8(dir.path())), true);
}

TEST_F(WindowsFileSystem, ACopyFlushedAndRenamedHasTheSourcesFacts) {
    WriteFile(dir / "a.zip", std::string(100000, 'a'));
    ::SetFileAttributesW(platform::LongPath(At("a.zip")).c_str(), FILE_ATTRIBUTE_READONLY);
    fs::CopyInProgress copy;
    ASSERT_EQ(files.CopyToTemporary(At("a.zip"), At("b.zip"), "run-1", copy), std::nullopt);
    EXPECT_TRUE(
        lorvex::IsTemporaryCopyName(Utf8(test::PathFromUtf8(copy.temporary).filename()), files));
    EXPECT_EQ(copy.bytes, 100000u);
    const fs::Handle handles[] = {copy.handle};
    EXPECT_EQ(files.FlushFiles(handles), std::nullopt);
    EXPECT_EQ(files.RenameNoReplace(copy.temporary, At("b.zip")), std::nullopt);
    files.Close(copy.handle);
    const fs::Status source = files.StatusOf(At("a.zip"));
    const fs::Status placed = files.StatusOf(At("b.zip"));
    EXPECT_EQ(placed.kind, fs::Kind::File);
    EXPECT_EQ(placed.facts, source.facts);
    EXPECT_EQ(placed.targetSize, 100000u);
    EXPECT_EQ(
        ::GetFileAttributesW(platform::LongPath(At("b.zip")).c_str()) & FILE_ATTRIBUTE_READONLY,
        static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// The test prefix's drive C: lies on a file system whose times end in 2446; the tmpfs of
// drive X: keeps any.
TEST_F(WindowsFileSystem, TimesFarFromNowRoundTrip) {
    const OtherFileSystemDirectory other(dir.path());
    if (!other.found()) {
        GTEST_SKIP() << "no drive whose file system keeps any time";
    }
    const std::string path = Utf8(other.path() / "old.zip");
    WriteFile(other.path() / "old.zip", "x");
    for (const fs::FileTime time : {fs::FileTime{32503680000, 123456700},  // 3000-01-01
                                    fs::FileTime{-2208988800, 500000000},  // 1900-01-01
                                    fs::FileTime{-1, 999999900}}) {
        const std::uint64_t ticks =
            static_cast<std::uint64_t>(time.seconds + 11644473600) * 10000000 +
            time.nanoseconds / 100;
        const FILETIME written{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        const platform::UniqueHandle file(::CreateFileW(platform::LongPath(path).c_str(),
                                                        FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &written));
        EXPECT_EQ(files.StatusOf(path).facts.modified, time) << time.seconds;
    }
}

TEST_F(WindowsFileSystem, ListsNamesWithTheirKinds) {
    WriteFile(dir.path() / test::PathFromUtf8("Café.zip"), "");
    ASSERT_EQ(files.MakeFolder(At("folder")), std::nullopt);
    std::vector<std::pair<std::string, fs::Kind>> expected = {{"Café.zip", fs::Kind::File},
                                                              {"folder", fs::Kind::Directory}};
    if (MadeLink(At("Café.zip"), At("link.zip"))) {
        expected.emplace_back("link.zip", fs::Kind::Link);
        EXPECT_EQ(files.StatusOf(At("link.zip")).target, fs::Kind::File);
    }
    std::vector<std::pair<std::string, fs::Kind>> listed;
    ASSERT_EQ(
        files.List(dir.dir(),
                   [&](const fs::Entry& entry) { listed.emplace_back(entry.name, entry.kind); }),
        std::nullopt);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(KindOf(files.List(At("Café.zip"), [](const fs::Entry&) {})), fs::Error::NotDirectory);
}

TEST_F(WindowsFileSystem, ReadingAMissingFileIsNotFound) {
    const fs::Outcome outcome = files.CheckAccess(At("missing.zip"), fs::Access::Read);
    EXPECT_EQ(KindOf(outcome), fs::Error::NotFound);
    EXPECT_EQ(outcome->reason, files.Words(fs::Error::NotFound));
}

}  // namespace
}  // namespace lorvex
