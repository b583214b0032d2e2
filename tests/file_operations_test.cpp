// Measuring, moving and creating on the real file system.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <memory>

#include "errors.h"
#include "form1.h"
#include "platform.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class FileOperations : public ::testing::Test {
protected:
    TempDir dir;
    Form1 form{dir.path().string()};
};

TEST_F(FileOperations, FileExistsTellsFullFromEmptyFromAbsent) {
    WriteFile(dir / "full.zip", "x");
    WriteFile(dir / "empty.zip", "");
    fs::create_directory(dir / "folder.zip");
    EXPECT_EQ(form.FileExists((dir / "full.zip").string()), FileState::Full);
    EXPECT_EQ(form.FileExists((dir / "empty.zip").string()), FileState::Empty);
    for (const std::string& missing : {(dir / "absent.zip").string(), (dir / "folder.zip").string(),
                                       std::string(), (dir / "*.zip").string()}) {
        EXPECT_EQ(form.FileExists(missing), FileState::Missing) << missing;
    }
}

TEST_F(FileOperations, CheckForFileJoinsWithoutAddingASeparator) {
    WriteFile(dir / "a.zip", "x");
    EXPECT_EQ(form.CheckForFile(dir.dir(), "a.zip"), FileState::Full);
    EXPECT_EQ(form.CheckForFile(dir.path().string(), "a.zip"), FileState::Missing);
}

TEST_F(FileOperations, CreateFolderAcceptsAnExistingDirectoryOnly) {
    const std::string separator(1, test::kSeparator);
    form.createFolder(dir.dir() + "new" + separator);
    EXPECT_TRUE(fs::is_directory(dir / "new"));
    EXPECT_NO_THROW(form.createFolder(dir.dir() + "new" + separator));
    WriteFile(dir / "file", "x");
    EXPECT_THROW(form.createFolder(dir.dir() + "file" + separator), LorvexError);
    EXPECT_THROW(form.createFolder(dir.dir() + "no" + separator + "such" + separator), LorvexError);
}

TEST_F(FileOperations, MoveKeepsBytesPermissionsAndNeverReplaces) {
    WriteFile(dir / "a.zip", "archive bytes");
#ifdef _WIN32
    // The read-only attribute is the one permission that Windows keeps with a file.
    fs::permissions(dir / "a.zip", fs::perms::owner_write, fs::perm_options::remove);
    const auto permissions = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
#else
    ::chmod((dir / "a.zip").c_str(), 0640);
    const auto permissions = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
#endif
    EXPECT_TRUE(form.MoveFiles(dir.dir() + "a.zip", dir.dir() + "b.zip"));
    EXPECT_EQ(ReadFile(dir / "b.zip"), "archive bytes");
    EXPECT_EQ(fs::status(dir / "b.zip").permissions() & fs::perms::all, permissions);
    WriteFile(dir / "c.zip", "other");
    EXPECT_FALSE(form.MoveFiles(dir.dir() + "c.zip", dir.dir() + "b.zip"));
    EXPECT_EQ(ReadFile(dir / "b.zip"), "archive bytes");
    EXPECT_EQ(ReadFile(dir / "c.zip"), "other");
    EXPECT_FALSE(form.MoveFiles(dir.dir() + "gone.zip", dir.dir() + "d.zip"));
    ASSERT_EQ(form.LastPass().failed.size(), 2u);
    EXPECT_EQ(form.LastPass().failed[0].archive, "c.zip");
    EXPECT_EQ(form.LastPass().failed[0].reason, test::FileExistsReason());
    EXPECT_EQ(form.LastPass().failed[1].reason, test::NoSuchFileReason());
}

TEST_F(FileOperations, MoveAcrossFileSystemsCopiesAndRemovesTheSource) {
    const test::OtherFileSystemDirectory other(dir.path());
    if (!other.found()) {
        GTEST_SKIP() << "no other file system than that of " << dir.path();
    }
    const std::string elsewhere = other.path().string();
    const std::string payload(3 << 20, 'z');
    WriteFile(dir / "big.zip", payload);
    const std::string target = (fs::path(elsewhere) / "big.zip").string();
    EXPECT_TRUE(form.MoveFiles(dir.dir() + "big.zip", target));
    EXPECT_FALSE(fs::exists(dir / "big.zip"));
    EXPECT_EQ(ReadFile(target), payload);
    WriteFile(dir / "big.zip", "second");
    EXPECT_FALSE(form.MoveFiles(dir.dir() + "big.zip", target));
    EXPECT_EQ(ReadFile(dir / "big.zip"), "second");
    EXPECT_EQ(test::ListDirectory(elsewhere), std::vector<std::string>{"big.zip"});
}

}  // namespace
}  // namespace lorvex
