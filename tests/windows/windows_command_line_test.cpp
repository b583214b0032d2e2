// The Windows programs run as a prompt or a script runs them, under wine: "/" switches,
// names in any script on the command line and in the report, long paths, and lorvex.exe
// writing to the streams it was given.
#include <gtest/gtest.h>

#include "long_path.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ListDirectory;
using test::MapWithHeader;
using test::PathFromUtf8;
using test::RunResult;
using test::TempDir;
using test::Utf8;
using test::WriteFile;
using Names = std::vector<std::string>;

// What an unknown switch brings on standard error, from the program that ran.
std::string UnknownSwitch(const std::string& word, const std::string& program = "lorvex.com") {
    return "lorvex: unknown switch \"" + word + "\", ignored\nUsage: " + program +
           " -c category|--all -e searchdir -d destdir [-s|-f] [--dry-run]\nSee " + program +
           " --help and readme.txt\n";
}

class WindowsCommandLine : public ::testing::Test {
protected:
    WindowsCommandLine() {
        fs::create_directory(program);
        const fs::path built = test::LorvexExecutable();
        for (const char* extension : {".com", ".exe"}) {
            fs::copy_file(fs::path(built).replace_extension(extension),
                          program / (std::string("lorvex") + extension));
        }
        fs::create_directory(search);
        WriteFile(program / "cats.txt", "Music / Jazz\r\nMúsica / 日本\r\n");
        WriteFile(program / "cats2.txt", "Music\r\n");
        WriteFile(program / "lorvex.ini",
                  MapWithHeader("Night Ferries=Music / Jazz\r\nCafé Ñandú 日本語=Música / 日本\r\n"
                                "Ñandú=Música / 日本\r\n"));
        WriteFile(program / "lorvex2.ini", MapWithHeader("Night Ferries=Music\r\n"));
        for (const char* name : {"Night Ferries.zip", "Café Ñandú 日本語.zip", "Ñandú.zip"}) {
            WriteFile(search / PathFromUtf8(name), "PK");
        }
    }

    RunResult Lorvex(const std::vector<std::string>& arguments, const char* file = "lorvex.com") {
        return test::Run(Utf8(program / file), arguments);
    }

    TempDir root;
    fs::path program = root / "app";
    fs::path search = root.path() / PathFromUtf8("entrée 日本");
    fs::path dest = root / "sorted";
};

TEST_F(WindowsCommandLine, SlashStartsASwitchAndTheUsageNamesLorvexExe) {
    const std::string in = Utf8(search);
    const std::string out = Utf8(dest);
    struct Case {
        std::vector<std::string> arguments;
        int exitStatus;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"/c", "Music / Jazz", "/e", in, "/d", out},
         0,
         " 1 files were successfully found and moved!\n",
         ""},
        {{"/S", "/C", "Music", "/E" + in, "/D" + out},
         0,
         " 0 files were successfully found and moved!\n",
         ""},
        {{"/x", "-c", "Music / Jazz", "-e", in, "-d", out},
         0,
         " 0 files were successfully found and moved!\n",
         UnknownSwitch("/x")},
        // A "/" of its own is a switch too: a category holding one needs quotes.
        {{"-c", "Music", "/", "Jazz", "-e", in, "-d", out},
         2,
         "",
         "lorvex: a category with blanks or \"/\" needs quotes: -c \"Music / Jazz\", as one "
         "word (nothing was done)\n"},
    };
    for (const auto& c : cases) {
        const auto run = Lorvex(c.arguments);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.arguments[0] << ": " << run.err;
        EXPECT_EQ(run.out, c.out) << c.arguments[0];
        EXPECT_EQ(run.err, c.err) << c.arguments[0];
    }
    EXPECT_EQ(ListDirectory(dest), Names{"Night Ferries.zip"});
}

// Words reach the program through its wide command line and the report reaches a pipe as
// UTF-8, names intact both ways.
TEST_F(WindowsCommandLine, NamesInAnyScriptInTheArgumentsAndTheReport) {
    fs::create_directory(dest);
    WriteFile(dest / PathFromUtf8("Ñandú.zip"), "already there");
    const auto run = Lorvex({"-c", "Música / 日本", "-e", Utf8(search), "-d", Utf8(dest)});
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_EQ(run.out,
              " 1 files were successfully found and moved!\n1 file could not be moved:\n"
              "Ñandú.zip: " +
                  test::FileExistsReason() + "\n");
    EXPECT_EQ(ListDirectory(dest), (Names{"Café Ñandú 日本語.zip", "Ñandú.zip"}));
    EXPECT_EQ(ListDirectory(search), (Names{"Night Ferries.zip", "Ñandú.zip"}));
}

TEST_F(WindowsCommandLine, SearchAndDestinationLongerThanMaxPath) {
    fs::path deep = root.path();
    for (int i = 0; i < 5; ++i) {
        deep /= std::string(60, static_cast<char>('a' + i));
    }
    fs::create_directories(test::Verbatim(deep / "in"));
    WriteFile(test::Verbatim(deep / "in" / "Night Ferries.zip"), "PK");
    const auto run =
        Lorvex({"-c", "Music / Jazz", "-e", Utf8(deep / "in"), "-d", Utf8(deep / "out")});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, " 1 files were successfully found and moved!\n");
    EXPECT_TRUE(test::HoldsOnly(deep / "out", L"Night Ferries.zip"));
    EXPECT_FALSE(fs::exists(test::Verbatim(deep / "in" / "Night Ferries.zip")));
    test::RemoveLongTree(root / std::string(60, 'a'));
}

// The windowed program runs the same command line. Started with streams of its own (here
// pipes) it writes there as well as in its boxes; with no display, as here, the boxes
// cannot open and the run goes on.
TEST_F(WindowsCommandLine, TheWindowedProgramWritesToTheStreamsItIsGiven) {
    const auto run =
        Lorvex({"/x", "-c", "Music / Jazz", "-e", Utf8(search), "-d", Utf8(dest)}, "lorvex.exe");
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, " 1 files were successfully found and moved!\n");
    EXPECT_EQ(run.err, UnknownSwitch("/x", "lorvex.exe"));
    EXPECT_EQ(ListDirectory(dest), Names{"Night Ferries.zip"});
}

// Files and pipes get Windows line ends; lorvex's own count speaks of one file as one; /?
// is the help, with Windows paths.
TEST_F(WindowsCommandLine, LineEndsTheSingularAndSlashQuestionMark) {
    const std::string out = Utf8(dest);
    const auto run = Lorvex({"-c", "Music / Jazz", "-e", Utf8(search), "-d", out, "--dry-run"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.rawOut, "Night Ferries.zip -> " + out +
                              "\\Night Ferries.zip\r\n"
                              " 1 file would be moved.\r\n");
    const auto help = Lorvex({"/?"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.rawOut.rfind("Usage: lorvex.com -c category|--all", 0), 0u) << help.rawOut;
    EXPECT_NE(help.rawOut.find("destdir\\Music\\Jazz)\r\n"), std::string::npos) << help.rawOut;
}

}  // namespace
}  // namespace lorvex

namespace lorvex {
namespace {

// A copy and a hard link leave the archive where it is; a move is journalled in
// %LOCALAPPDATA%\lorvex\runs and undone from there.
TEST_F(WindowsCommandLine, CopiesLinksAndUndoesAMove) {
    const std::vector<std::string> state{test::StateEnvironment(root / "state")};
    const auto sort = [&](const fs::path& into, const std::string& category,
                          std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"-c", category, "-e", Utf8(search), "-d", Utf8(into)});
        return test::Run(Utf8(program / "lorvex.com"), extra, state);
    };
    const Names everything{"Café Ñandú 日本語.zip", "Night Ferries.zip", "Ñandú.zip"};
    struct Case {
        const char* option;
        const char* report;
    };
    for (const Case& c :
         {Case{"--copy", " 1 file was copied.\n"}, Case{"--link", " 1 file was linked.\n"}}) {
        const fs::path into = root / c.option;
        const auto run = sort(into, "Music / Jazz", {c.option});
        EXPECT_EQ(run.exitStatus, 0) << c.option << run.err;
        EXPECT_EQ(run.out, c.report);
        EXPECT_EQ(ListDirectory(search), everything);
        EXPECT_EQ(test::ReadFile(into / "Night Ferries.zip"), "PK");
    }
    EXPECT_FALSE(fs::exists(test::RunsFolder(root / "state")));

    const auto move = sort(dest, "Música / 日本", {});
    EXPECT_EQ(move.exitStatus, 0) << move.err;
    EXPECT_EQ(ListDirectory(search), Names{"Night Ferries.zip"});
    // The same again finds nothing and makes nothing: it leaves no journal.
    sort(dest, "Música / 日本", {});
    EXPECT_EQ(ListDirectory(test::RunsFolder(root / "state")).size(), 1u);
    const auto undo = test::Run(Utf8(program / "lorvex.com"), {"--undo"}, state);
    EXPECT_EQ(undo.exitStatus, 0) << undo.out << undo.err;
    EXPECT_TRUE(undo.out.ends_with(
        " 2 files moved back where run " +
        ListDirectory(test::RunsFolder(root / "state")).front().substr(0, 15) + " found them.\n"))
        << undo.out;
    EXPECT_EQ(ListDirectory(search), everything);
    EXPECT_FALSE(fs::exists(dest));  // the run made it, and it is empty again
}

}  // namespace
}  // namespace lorvex
