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

// A directory on another file system than the system's temporary directory, if any: on
// Windows drive X:, which the tests' wine session puts on a tmpfs.
std::string OtherFileSystem(const fs::path& here) {
#ifdef _WIN32
    const UINT type = ::GetDriveTypeW(L"X:\\");
    if (type == DRIVE_FIXED || type == DRIVE_RAMDISK || type == DRIVE_REMOTE) {
        return here.root_name() == "X:" ? "" : "X:\\";
    }
#else
    struct stat a {};
    struct stat b {};
    if (::stat(here.c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
        ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
#endif
    return {};
}

TEST_F(FileOperations, MoveAcrossFileSystemsCopiesAndRemovesTheSource) {
    const std::string other = OtherFileSystem(dir.path());
    if (other.empty()) {
        GTEST_SKIP() << "no other file system than that of " << dir.path();
    }
    const std::string elsewhere = (fs::path(other) / dir.path().filename()).string();
    fs::create_directory(elsewhere);
    const std::unique_ptr<const std::string, void (*)(const std::string*)> cleanup(
        &elsewhere, [](const std::string* path) { fs::remove_all(*path); });
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
