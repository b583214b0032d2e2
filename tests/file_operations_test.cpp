// Measuring, moving and creating on the real file system.
#include <sys/stat.h>

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
    form.CheckForFile(dir.dir(), "a.zip");
    EXPECT_EQ(form.Variables().check, 1);
    form.CheckForFile(dir.path().string(), "a.zip");
    EXPECT_EQ(form.Variables().check, -1);
}

TEST_F(FileOperations, CreateFolderAcceptsAnExistingDirectoryOnly) {
    form.createFolder(dir.dir() + "new/");
    EXPECT_TRUE(fs::is_directory(dir / "new"));
    EXPECT_NO_THROW(form.createFolder(dir.dir() + "new/"));
    WriteFile(dir / "file", "x");
    EXPECT_THROW(form.createFolder(dir.dir() + "file/"), LorvexError);
    EXPECT_THROW(form.createFolder(dir.dir() + "no/such/"), LorvexError);
}

TEST_F(FileOperations, MoveKeepsBytesPermissionsAndNeverReplaces) {
    WriteFile(dir / "a.zip", "archive bytes");
    ::chmod((dir / "a.zip").c_str(), 0640);
    EXPECT_TRUE(form.MoveFiles(dir.dir() + "a.zip", dir.dir() + "b.zip"));
    EXPECT_EQ(ReadFile(dir / "b.zip"), "archive bytes");
    EXPECT_EQ(fs::status(dir / "b.zip").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    WriteFile(dir / "c.zip", "other");
    EXPECT_FALSE(form.MoveFiles(dir.dir() + "c.zip", dir.dir() + "b.zip"));
    EXPECT_EQ(ReadFile(dir / "b.zip"), "archive bytes");
    EXPECT_EQ(ReadFile(dir / "c.zip"), "other");
    EXPECT_FALSE(form.MoveFiles(dir.dir() + "gone.zip", dir.dir() + "d.zip"));
    ASSERT_EQ(form.LastPass().failed.size(), 2u);
    EXPECT_EQ(form.LastPass().failed[0].archive, "c.zip");
    EXPECT_EQ(form.LastPass().failed[0].reason, "File exists");
    EXPECT_EQ(form.LastPass().failed[1].reason, "No such file or directory");
}

// A directory on another file system than the system's temporary directory, if any.
std::string OtherFileSystem(const fs::path& here) {
    struct stat a {};
    struct stat b {};
    if (::stat(here.c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
        ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return {};
}

TEST_F(FileOperations, MoveAcrossFileSystemsCopiesAndRemovesTheSource) {
    const std::string other = OtherFileSystem(dir.path());
    if (other.empty()) {
        GTEST_SKIP() << "/dev/shm is on the same file system as " << dir.path();
    }
    const std::string elsewhere = other + "/" + dir.path().filename().string();
    fs::create_directory(elsewhere);
    const std::unique_ptr<const std::string, void (*)(const std::string*)> cleanup(
        &elsewhere, [](const std::string* path) { fs::remove_all(*path); });
    const std::string payload(3 << 20, 'z');
    WriteFile(dir / "big.zip", payload);
    EXPECT_TRUE(form.MoveFiles(dir.dir() + "big.zip", elsewhere + "/big.zip"));
    EXPECT_FALSE(fs::exists(dir / "big.zip"));
    EXPECT_EQ(ReadFile(elsewhere + "/big.zip"), payload);
    WriteFile(dir / "big.zip", "second");
    EXPECT_FALSE(form.MoveFiles(dir.dir() + "big.zip", elsewhere + "/big.zip"));
    EXPECT_EQ(ReadFile(dir / "big.zip"), "second");
    EXPECT_EQ(test::ListDirectory(elsewhere), std::vector<std::string>{"big.zip"});
}

}  // namespace
}  // namespace lorvex
