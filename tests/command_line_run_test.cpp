// The built executable, copied alone into a fresh program directory beside its data
// files, run as a user or a script would run it.
#include <gtest/gtest.h>

#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ListDirectory;
using test::MapWithHeader;
using test::RunResult;
using test::TempDir;
using test::WriteFile;
using Names = std::vector<std::string>;

constexpr const char* kMoved = " files were successfully found and moved!\n";

class CommandLineRun : public ::testing::Test, protected test::ProgramFiles {
protected:
    CommandLineRun() {
        fs::copy_file(test::LorvexExecutable(), program / "lorvex");
        for (const char* name : {"Night Ferries.zip", "Gas 2024.zip", "Slow Tide.zip"}) {
            WriteArchive(name, "PK");
        }
    }

    RunResult Lorvex(const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {}) {
        return test::Run((program / "lorvex").string(), arguments, environment,
                         std::chrono::seconds(20));
    }
};

TEST_F(CommandLineRun, MovesACategoryAndPrintsOnlyTheCount) {
    const auto run =
        Lorvex({"-c", "Music", "/", "Jazz", "-e", search.string(), "-d", dest.string(), "-f"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, std::string(" 2") + kMoved);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ListDirectory(dest), (Names{"Night Ferries.zip", "Slow Tide.zip"}));
    EXPECT_EQ(ListDirectory(search), (Names{"Gas 2024.zip"}));
}

TEST_F(CommandLineRun, QuotedCategoryWithACommaAndGluedSwitchLetters) {
    const auto run = Lorvex({"-CLetters, Bills", "-E" + search.string(), "-D" + dest.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(ListDirectory(dest), (Names{"Gas 2024.zip"}));
}

TEST_F(CommandLineRun, SimpleListsNeedNoFullListFiles) {
    fs::remove(program / "cats.txt");
    fs::remove(program / "lorvex.ini");
    const auto run = Lorvex({"-s", "-c", "Music", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(ListDirectory(dest), (Names{"Night Ferries.zip"}));
}

TEST_F(CommandLineRun, FindsItsDataThroughASymlink) {
    fs::create_symlink(program / "lorvex", root / "lorvex-link");
    const auto run = test::Run((root / "lorvex-link").string(),
                               {"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, std::string(" 2") + kMoved);
}

TEST_F(CommandLineRun, UnknownCategoryStopsBeforeAnythingHappens) {
    for (const char* category : {"music / letters", "Music / Classical"}) {
        const auto run = Lorvex({"-c", category, "-e", search.string(), "-d", dest.string()});
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "lorvex: category \"" + std::string(category) +
                               "\" is not in the category list \"" +
                               (program / "cats.txt").string() + "\"\n");
    }
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_EQ(ListDirectory(search).size(), 3u);
}

TEST_F(CommandLineRun, MissingSwitchesAreErrorsWithStatusTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-e", search.string(), "-d", dest.string()}, "lorvex: no category given"},
        {{"-c", "Music / Jazz", "-d", dest.string()}, "lorvex: no search directory given"},
        {{"-c", "Music / Jazz", "-e", search.string()}, "lorvex: no destination directory"},
        {{"-c", "", "-e", search.string(), "-d", dest.string()}, "lorvex: no category given"},
        {{"no", "switches"}, "lorvex: no category given"},
    };
    for (const auto& [arguments, error] : cases) {
        const auto run = Lorvex(arguments);
        EXPECT_EQ(run.exitStatus, 2) << error;
        EXPECT_EQ(run.err.rfind(error, 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(fs::exists(dest));
}

TEST_F(CommandLineRun, MissingDataFilesAreNamedInTheError) {
    fs::remove(program / "lorvex.ini");
    auto run = Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "lorvex: cannot read category map \"" + (program / "lorvex.ini").string() +
                           "\": No such file or directory\n");
    fs::remove(program / "cats2.txt");
    run = Lorvex({"-s", "-c", "Music", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("cats2.txt"), std::string::npos);
    EXPECT_EQ(ListDirectory(search).size(), 3u);
}

// The map is read before the destination is made, so a move that cannot run leaves no
// empty folder behind.
TEST_F(CommandLineRun, AMapThatCannotBeReadCreatesNoDestination) {
    const std::vector<std::pair<std::string, std::string>> maps = {
        {"missing", "No such file or directory"},
        {"header only", "fewer than three lines"},
    };
    for (const auto& [map, reason] : maps) {
        fs::remove(program / "lorvex.ini");
        if (map != "missing") {
            WriteFile(program / "lorvex.ini", "; one\n; two\n");
        }
        const auto run = Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
        EXPECT_EQ(run.exitStatus, 2) << map;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dest)) << map;
    }
}

TEST_F(CommandLineRun, AMissingSearchDirectoryIsAnErrorNotZeroMoves) {
    const auto run =
        Lorvex({"-c", "Music / Jazz", "-e", (root / "typo").string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "lorvex: cannot search directory \"" + (root / "typo").string() +
                           "/\": No such file or directory\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(dest));
}

TEST_F(CommandLineRun, ArchivesThatCannotBeMovedGiveStatusOne) {
    fs::create_directory(dest);
    WriteFile(dest / "Slow Tide.zip", "older copy");
    const auto run = Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, std::string(" 1") + kMoved +
                           "1 file could not be moved:\nSlow Tide.zip: File exists\n");
    EXPECT_EQ(test::ReadFile(dest / "Slow Tide.zip"), "older copy");
    EXPECT_EQ(test::ReadFile(search / "Slow Tide.zip"), "PK");
}

TEST_F(CommandLineRun, UnknownSwitchesShowTheUsageAndTheRunGoesOn) {
    const auto run =
        Lorvex({"-x", "-c", "Music / Jazz", "--", "-e", search.string(), "-d", dest.string()});
    const std::string usage =
        "Usage: lorvex -c category -e searchdir -d destdir -[s|f]\nSee readme.txt\n";
    EXPECT_EQ(run.err, usage + usage);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, std::string(" 2") + kMoved);
}

TEST_F(CommandLineRun, WindowModeWithoutADisplayExplainsAndFails) {
    const auto run = Lorvex({});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err.rfind("lorvex: no graphical display", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
}

// CI systems set an invisible Qt platform for every program; a box shown there would wait
// for ever for a click, though the archives were moved.
TEST_F(CommandLineRun, InvisibleQtPlatformsNeverHoldARunAtABox) {
    for (const char* platform : {"offscreen", "minimal", "offscreen:fontengine=freetype"}) {
        const std::string setting = std::string("QT_QPA_PLATFORM=") + platform;
        fs::remove_all(dest);
        const auto run =
            Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()}, {setting});
        ASSERT_FALSE(run.timedOut) << platform;
        EXPECT_EQ(run.exitStatus, 0) << platform << run.err;
        EXPECT_EQ(run.err, "") << platform;
        EXPECT_EQ(run.out, std::string(" 2") + kMoved) << platform;
        fs::rename(dest / "Night Ferries.zip", search / "Night Ferries.zip");
        fs::rename(dest / "Slow Tide.zip", search / "Slow Tide.zip");

        const auto window = Lorvex({}, {setting});
        ASSERT_FALSE(window.timedOut) << platform;
        EXPECT_EQ(window.exitStatus, 2) << platform;
        EXPECT_EQ(window.err.rfind("lorvex: no graphical display", 0), 0u) << window.err;
    }
}

// The program was copied without its window library: the command line never notices,
// and the window says what is missing.
TEST_F(CommandLineRun, AMissingWindowLibraryIsNamedInWindowModeOnly) {
    const auto window = Lorvex({}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=remote.example:0"});
    EXPECT_EQ(window.exitStatus, 2);
    EXPECT_EQ(
        window.err.rfind("lorvex: cannot load the window library \"" +
                             (fs::canonical(program) / "liblorvex-window.so").string() + "\": ",
                         0),
        0u)
        << window.err;
}

TEST_F(CommandLineRun, HelpAndVersionAnswerAndDoNothingElse) {
    const auto help =
        Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string(), "-x", "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: lorvex -c category -e searchdir -d destdir -[s|f]\n", 0), 0u)
        << help.out;
    for (const char* mentioned : {"--version", "Exit status", "man lorvex", "readme.txt"}) {
        EXPECT_NE(help.out.find(mentioned), std::string::npos) << mentioned;
    }
    EXPECT_NE(help.out.find("read from " + fs::canonical(program).string()), std::string::npos)
        << help.out;
    EXPECT_FALSE(fs::exists(dest));

    const auto version = Lorvex({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "lorvex 3.0.0\n");

    // A single letter is still a switch of its own: unknown, so the usage, and the run goes on.
    const auto shortHelp =
        Lorvex({"-h", "-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(shortHelp.err.rfind("Usage: lorvex", 0), 0u) << shortHelp.err;
    EXPECT_EQ(shortHelp.out, std::string(" 2") + kMoved);
}

TEST_F(CommandLineRun, SortsTheBundledSampleData) {
    for (const char* name : {"cats.txt", "cats2.txt", "lorvex.ini", "lorvex2.ini"}) {
        fs::copy_file(fs::path(LORVEX_SAMPLE_DATA_DIR) / name, program / name,
                      fs::copy_options::overwrite_existing);
    }
    // Archives for every name of the sample map, one of them empty.
    const std::string map = test::ReadFile(program / "lorvex.ini");
    std::size_t letters = 0;
    bool pastMain = false;
    std::istringstream lines(map);
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find('\r'));
        pastMain = pastMain || line == "[VerAdded]";
        const auto equals = line.find('=');
        if (equals == std::string::npos || line[0] == ';' || line[0] == '[') {
            continue;
        }
        WriteFile(search / (line.substr(0, equals) + ".zip"), "PK");
        letters += !pastMain && line.substr(equals + 1) == "Letters, Invoices and Receipts";
    }
    ASSERT_GT(letters, 0u);
    const auto run = Lorvex({"-f", "-c", "\"Letters,", "Invoices", "and", "Receipts\"", "-e",
                             search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, " " + std::to_string(letters) + kMoved);
    EXPECT_EQ(ListDirectory(dest).size(), letters);
}

}  // namespace
}  // namespace lorvex
