// What only Windows has, on the real file system under wine: names in any script, paths
// longer than MAX_PATH, device names, data files in older encodings, moves across drives.
#include <windows.h>

#include <gtest/gtest.h>

#include "form1.h"
#include "pass_report.h"
#include "long_path.h"
#include "platform.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ListDirectory;
using test::MapWithHeader;
using test::PathFromUtf8;
using test::ReadFile;
using test::TempDir;
using test::Utf8;
using test::Verbatim;
using test::WriteFile;
using Names = std::vector<std::string>;

std::string Utf16(const std::string& utf8, bool bigEndian) {
    const std::wstring wide = PathFromUtf8(utf8).wstring();
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const wchar_t c : wide) {
        const char high = static_cast<char>(c >> 8);
        const char low = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(WindowsFileNames, OnlyPlainNamesOfFilesInTheDirectoryPass) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"Café Ñandú 日本語", true},
        {"Console", true},
        {"COM0", true},
        {"COM10", true},
        {"LPT", true},
        {"con-tents", true},
        {"auxiliary.tar", true},
        {"name.", true},
        {"CON", false},
        {"con", false},
        {"Con .backup", false},
        {"nul.tar", false},
        {"PRN", false},
        {"aux", false},
        {"COM1", false},
        {"com9", false},
        {"LpT5", false},
        {"COM\xC2\xB9", false},
        {"conin$", false},
        {"CONOUT$", false},
        {"a\\b", false},
        {"a/b", false},
        {"C:evil", false},
        {"archive:stream", false},
        {"tab\there", false},
        {std::string("nul\0byte", 8), false},
        {"wild*", false},
        {"what?", false},
        {"<a>", false},
        {"a|b", false},
        {"\"quoted\"", false},
    };
    for (const auto& [name, plain] : cases) {
        EXPECT_EQ(platform::IsPlainFileName(name), plain) << name;
    }
}

class WindowsMove : public ::testing::Test {
protected:
    WindowsMove() { fs::create_directory(search); }

    void WriteData(const std::string& list, const std::string& map) {
        WriteFile(program / "cats.txt", list);
        WriteFile(program / "lorvex.ini", map);
    }
    // Fills the fields as a user would and presses "Move Files!".
    void Move(const std::string& category, const fs::path& from, const fs::path& to) {
        form.getCats();
        form.Start.SetText(Utf8(from));
        form.Endd.SetText(Utf8(to));
        form.Combo1.SetListIndex(-1);
        for (int i = 0; i < form.Combo1.ListCount(); ++i) {
            if (form.Combo1.List(i) == category) {
                form.Combo1.SetListIndex(i);
            }
        }
        ASSERT_GE(form.Combo1.ListIndex(), 0) << "no category " << category;
        form.Command2_Click();
    }

    TempDir program;
    fs::path search = program / "in";
    fs::path dest = program / "out";
    Form1 form{program.path().string()};
};

TEST_F(WindowsMove, NamesInAnyScriptFromAUtf8Map) {
    const std::string name = "Café Ñandú 日本語";
    WriteData("Música / 日本\r\n", MapWithHeader(name + "=Música / 日本\r\n"));
    const fs::path from = program.path() / PathFromUtf8("entrée 日本");
    const fs::path to = program.path() / PathFromUtf8("sortie ÑŒ");
    fs::create_directory(from);
    WriteFile(from / PathFromUtf8(name + ".zip"), "PK unicode");
    Move("Música / 日本", from, to);
    EXPECT_EQ(form.LastPass().moved, 1) << MoveReportParts(form.LastPass()).full;
    EXPECT_EQ(ListDirectory(to), Names{name + ".zip"});
    EXPECT_EQ(ReadFile(to / PathFromUtf8(name + ".zip")), "PK unicode");
}

TEST_F(WindowsMove, DeviceNamesInTheMapAreSkipped) {
    WriteData("Jazz\r\n",
              MapWithHeader("CON=Jazz\r\nnul=Jazz\r\nCOM1=Jazz\r\nC:x=Jazz\r\nok=Jazz\r\n"));
    WriteFile(search / "ok.zip", "PK");
    Move("Jazz", search, dest);
    EXPECT_EQ(form.LastPass().moved, 1);
    EXPECT_TRUE(form.LastPass().failed.empty()) << MoveReportParts(form.LastPass()).full;
    EXPECT_EQ(ListDirectory(dest), Names{"ok.zip"});
}

TEST_F(WindowsMove, PathsLongerThanMaxPath) {
    fs::path deep = program.path();
    for (int i = 0; i < 4; ++i) {
        deep /= std::string(60, static_cast<char>('a' + i));
    }
    const std::string name(200, 'n');
    const fs::path from = deep / "in";
    const fs::path to = deep / "out";
    fs::create_directories(Verbatim(from));
    WriteFile(Verbatim(from / (name + ".zip")), "PK long");
    ASSERT_GT((to / (name + ".zip")).string().size(), 400u);
    WriteData("Jazz\r\n", MapWithHeader(name + "=Jazz\r\n"));
    Move("Jazz", from, to);
    EXPECT_EQ(form.LastPass().moved, 1) << MoveReportParts(form.LastPass()).full;
    EXPECT_TRUE(test::HoldsOnly(to, fs::path(name + ".zip").wstring()));
    EXPECT_EQ(ReadFile(Verbatim(to / (name + ".zip"))), "PK long");
    EXPECT_FALSE(fs::exists(Verbatim(from / (name + ".zip"))));
    test::RemoveLongTree(program / std::string(60, 'a'));
}

// A list or map saved by an older editor in the ANSI code page still works; so do UTF-8
// with or without a byte order mark and Notepad's UTF-16. Each file is read on its own.
TEST_F(WindowsMove, DataFilesInUtf8Utf16OrTheAnsiCodePage) {
    if (::GetACP() != 1252) {
        GTEST_SKIP() << "the cases are written in code page 1252; this system uses " << ::GetACP();
    }
    const std::string category = "Café Ñ";
    const std::string ansiCategory = "Caf\xE9 \xD1";
    const std::string entry = "Señor Café=Café Ñ\r\n";
    const std::string ansiEntry = "Se\xF1or Caf\xE9=Caf\xE9 \xD1\r\n";
    struct Case {
        const char* what;
        std::string list;
        std::string map;
    };
    const std::vector<Case> cases = {
        {"UTF-8", category + "\r\n", MapWithHeader(entry)},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + category + "\r\n",
         "\xEF\xBB\xBF" + MapWithHeader(entry)},
        {"code page 1252", ansiCategory + "\r\n", MapWithHeader(ansiEntry)},
        {"list in 1252, map in UTF-8", ansiCategory + "\r\n", MapWithHeader(entry)},
        {"list in UTF-8, map in 1252", category + "\r\n", MapWithHeader(ansiEntry)},
        {"UTF-16LE", Utf16(category + "\r\n", false), Utf16(MapWithHeader(entry), false)},
        {"UTF-16BE", Utf16(category + "\r\n", true), Utf16(MapWithHeader(entry), true)},
    };
    const fs::path archive = search / PathFromUtf8("Señor Café.zip");
    for (const auto& c : cases) {
        WriteData(c.list, c.map);
        WriteFile(archive, "PK");
        fs::remove_all(dest);
        Move(category, search, dest);
        EXPECT_EQ(form.LastPass().moved, 1) << c.what << ": " << MoveReportParts(form.LastPass()).full;
        EXPECT_EQ(ListDirectory(dest), Names{"Señor Café.zip"}) << c.what;
    }
}

// Drive X: is another file system. The move copies to a temporary name, so no file of the
// archive's name ever holds part of it; the temporary name must fit even beside an
// archive whose name is as long as a name can be.
TEST_F(WindowsMove, ToAnotherDriveReadOnlyAndLongNamesLeaveNothingBehind) {
    const UINT type = ::GetDriveTypeW(L"X:\\");
    if (type != DRIVE_FIXED && type != DRIVE_RAMDISK && type != DRIVE_REMOTE) {
        GTEST_SKIP() << "no drive X: on another file system";
    }
    const fs::path to = fs::path("X:\\") / program.path().filename();
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> cleanup(
        &to, [](const fs::path* path) {
            std::error_code ignored;
            for (const auto& entry : fs::directory_iterator(*path, ignored)) {
                fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add,
                                ignored);
            }
            fs::remove_all(*path, ignored);
        });
    const std::string longest(251, 'L');  // 255 characters with ".zip"
    const Names names = {"Señor Café", "read only", longest};
    std::string map;
    for (const auto& name : names) {
        map += name + "=Jazz\r\n";
        WriteFile(search / PathFromUtf8(name + ".zip"), name + std::string(1 << 20, 'z'));
    }
    fs::permissions(search / "read only.zip", fs::perms::owner_write, fs::perm_options::remove);
    WriteData("Jazz\r\n", MapWithHeader(map));
    Move("Jazz", search, to);
    EXPECT_EQ(form.LastPass().moved, 3) << MoveReportParts(form.LastPass()).full;
    EXPECT_EQ(ListDirectory(to), (Names{longest + ".zip", "Señor Café.zip", "read only.zip"}));
    EXPECT_TRUE(ListDirectory(search).empty());
    for (const auto& name : names) {
        EXPECT_EQ(ReadFile(to / PathFromUtf8(name + ".zip")), name + std::string(1 << 20, 'z'));
    }
    EXPECT_EQ(fs::status(to / "read only.zip").permissions() & fs::perms::owner_write,
              fs::perms::none);
}

}  // namespace
}  // namespace lorvex
