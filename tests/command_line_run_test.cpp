// The built executable, copied alone into a fresh program directory beside its data
// files, run as a user or a script would run it.
#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

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

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

class CommandLineRun : public ::testing::Test, protected test::ProgramFiles {
protected:
    CommandLineRun() {
        fs::copy_file(test::LorvexExecutable(), lorvex);
        for (const char* name : {"Night Ferries.zip", "Gas 2024.zip", "Slow Tide.zip"}) {
            WriteArchive(name, "PK");
        }
    }

    RunResult Lorvex(const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {}) {
        return test::Run(lorvex.string(), arguments, environment, std::chrono::seconds(20));
    }

    // "lorvex" here, "lorvex.com" (the console twin) on Windows
    fs::path lorvex = program / fs::path(test::LorvexExecutable()).filename();
};

TEST_F(CommandLineRun, MovesACategoryAndPrintsOnlyTheCount) {
    // A "/" of its own starts a switch on Windows, so there the category is one word.
    std::vector<std::string> arguments = {"-c", "Music", "/", "Jazz"};
    if (kWindows) {
        arguments = {"-c", "Music / Jazz"};
    }
    arguments.insert(arguments.end(), {"-e", search.string(), "-d", dest.string(), "-f"});
    const auto run = Lorvex(arguments);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, std::string(" 2") + kMoved);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ListDirectory(dest), (Names{"Night Ferries.zip", "Slow Tide.zip"}));
    EXPECT_EQ(ListDirectory(search), (Names{"Gas 2024.zip"}));
}

TEST_F(CommandLineRun, LeftoversOfAnInterruptedMoveGoAndAnArchiveAlreadyThereIsNamedSo) {
    // Night Ferries is already there, byte for byte; Slow Tide's name holds other bytes.
    fs::create_directory(dest);
    WriteFile(dest / "Night Ferries.zip", "PK");
    WriteFile(dest / "Slow Tide.zip", "PK, another archive");
    const Names leftovers{".Night Ferries.zip.a1B2c3.lorvex-partial",
                          ".Slow Tide.zip.ZZZZZZ.lorvex-partial"};
    // Near misses of the pattern, which are somebody else's files.
    const Names others{".Slow Tide.zip.abc.lorvex-partial", "Slow Tide.zip.a1B2c3.lorvex-partial",
                       ".Slow Tide.zip.a1B2c3.lorvex-partial.zip", ".notes.a1B2c3.lorvex-partial"};
    for (const auto* names : {&leftovers, &others}) {
        for (const auto& name : *names) {
            WriteFile(dest / name, "");
        }
    }
    const auto run = Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    std::string head = " 0" + std::string(kMoved);
    head.pop_back();
    EXPECT_EQ(run.out, head +
                           "\nRemoved 2 temporary copies left in the destination by an "
                           "interrupted earlier move.\n2 files could not be moved:\n"
                           "Night Ferries.zip: already in the destination with the same contents "
                           "(both copies kept)\nSlow Tide.zip: " +
                           test::FileExistsReason() + "\n");
    Names expected = others;
    expected.insert(expected.end(), {"Night Ferries.zip", "Slow Tide.zip"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListDirectory(dest), expected);
    EXPECT_EQ(ListDirectory(search), (Names{"Gas 2024.zip", "Night Ferries.zip", "Slow Tide.zip"}));
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
    const fs::path link = root / ("lorvex-link" + lorvex.extension().string());
    std::error_code error;
    fs::create_symlink(lorvex, link, error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
    const auto run = test::Run(link.string(),
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

// A word of a category finds it, before any name that is only spelled alike.
TEST_F(CommandLineRun, AnUnknownCategoryIsAnsweredWithTheNamesItIsAWordOf) {
    WriteFile(program / "cats.txt",
              "Misc\nMusic / Jazz\nMusic / Rock\nSports / Golf\nComics / Manga \u65e5\u672c\n");
    const std::pair<std::string, std::string> cases[] = {
        {"Jazz", "\"Music / Jazz\"?"},
        {"golf", "\"Sports / Golf\"?"},
        {"Manga", "\"Comics / Manga \u65e5\u672c\"?"},
        {"Music", "\"Music / Jazz\" or \"Music / Rock\"?"},
        {"Mics", "\"Misc\"?"},
        {"music/jazz ", "\"Music / Jazz\"?"},
    };
    for (const auto& [category, meant] : cases) {
        const auto run = Lorvex({"-c", category, "-e", search.string(), "-d", dest.string()});
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_TRUE(run.err.ends_with("; did you mean " + meant + "\n")) << run.err;
    }
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
                           "\": " + test::NoSuchFileReason() + "\n");
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
        {"missing", test::NoSuchFileReason()},
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
                           test::kSeparator + "\": " + test::NoSuchFileReason() + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(dest));
}

#ifndef _WIN32
// Spelled as a shell user spells it, through env -C and a symbolic link.
TEST_F(CommandLineRun, TheSearchDirectoryAsDestinationIsRefusedHoweverSpelled) {
    fs::create_directory_symlink(search, root / "link-to-archives");
    // Relative names as typed in a shell, so the run starts in `root` (env -C).
    for (const char* destination : {"in", "in/", "./in", "link-to-archives"}) {
        const auto run =
            test::Run("/usr/bin/env", {"-C", root.path().string(), lorvex.string(), "-c",
                                       "Music / Jazz", "-e", "in", "-d", destination});
        EXPECT_EQ(run.exitStatus, 2) << destination;
        EXPECT_EQ(run.err, "lorvex: the destination is the search directory \"in/\"\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ListDirectory(search), (Names{"Gas 2024.zip", "Night Ferries.zip", "Slow Tide.zip"}));
}

#endif  // _WIN32

TEST_F(CommandLineRun, ArchivesThatCannotBeMovedGiveStatusOne) {
    fs::create_directory(dest);
    WriteFile(dest / "Slow Tide.zip", "older copy");
    const auto run = Lorvex({"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, std::string(" 1") + kMoved + "1 file could not be moved:\nSlow Tide.zip: " +
                           test::FileExistsReason() + "\n");
    EXPECT_EQ(test::ReadFile(dest / "Slow Tide.zip"), "older copy");
    EXPECT_EQ(test::ReadFile(search / "Slow Tide.zip"), "PK");
}

TEST_F(CommandLineRun, UnknownSwitchesShowTheUsageAndTheRunGoesOn) {
    const auto run =
        Lorvex({"-x", "-c", "Music / Jazz", "--", "-e", search.string(), "-d", dest.string()});
    const std::string program = kWindows ? "lorvex.com" : "lorvex";
    const std::string usage = "Usage: " + program +
                              " -c category|--all -e searchdir -d destdir [-s|-f] [--dry-run]\n"
                              "See " +
                              program + " --help and readme.txt\n";
    EXPECT_EQ(run.err, "lorvex: unknown switch \"-x\", ignored\n" + usage +
                           "lorvex: unknown switch \"--\", ignored\n" + usage);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, std::string(" 2") + kMoved);
}

// Words that may not say what was meant stop the run before anything is made or moved.
TEST_F(CommandLineRun, TyposMoveNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--dryrun"}, "unknown option \"--dryrun\"; did you mean \"--dry-run\"?"},
        {{"-dry-run"}, "\"-dry-run\" would be -d \"ry-run\"; did you mean \"--dry-run\"?"},
        {{"-dryrun"}, "did you mean \"--dry-run\"?"},
        {{"-all"}, "\"-all\" is not an option; did you mean \"--all\"?"},
        {{"-d", "elsewhere"}, "-d was given twice"},
        {{"\u2014dry-run"}, "begins with a typographic dash"},
        {{"\u2010\u2011dry-run"}, "typographic dash, not \"-\"; did you mean \"--dry-run\"?"},
        {{"-\u2212all"}, "did you mean \"--all\"?"},
        {{"\uFF0D\uFE63copy"}, "did you mean \"--copy\"?"},
        {{"--", "dry-run"}, "\"-- dry-run\" has a blank after \"--\"; did you mean \"--dry-run\"?"},
        {{"--", "dryrun"}, "did you mean \"--dry-run\"?"},
    };
    for (const auto& [typo, error] : cases) {
        std::vector<std::string> arguments = {"-c", "Music / Jazz", "-e", search.string(),
                                              "-d", dest.string()};
        arguments.insert(arguments.end(), typo.begin(), typo.end());
        const auto run = Lorvex(arguments);
        EXPECT_EQ(run.exitStatus, 2) << typo[0];
        EXPECT_EQ(run.out, "") << typo[0];
        EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_FALSE(fs::exists("ry-run"));
    EXPECT_EQ(ListDirectory(search).size(), 3u);
}

// A user's own data files come before those beside the program, each file on its own.
TEST_F(CommandLineRun, TheUsersDataFolderComesFirst) {
    const TempDir home;
    const fs::path own = home / "lorvex";
    fs::create_directory(own);
    WriteFile(own / "cats.txt", "Mine\n");
    WriteFile(own / "lorvex.ini", MapWithHeader("Gas 2024=Mine\n"));
    const std::string variable = kWindows ? "APPDATA=" : "XDG_DATA_HOME=";
    const std::vector<std::string> environment = {variable + home.path().string()};
    auto run = Lorvex({"-c", "Mine", "-e", search.string(), "-d", dest.string()}, environment);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(ListDirectory(dest), (Names{"Gas 2024.zip"}));
    // The Simple Lists are still the program's.
    run = Lorvex({"-s", "-c", "Music", "-e", search.string(), "-d", dest.string()}, environment);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(ListDirectory(dest), (Names{"Gas 2024.zip", "Night Ferries.zip"}));
    const auto help = Lorvex({"--help"}, environment);
    EXPECT_NE(help.out.find("cats.txt    read from " + own.string() + "\n"), std::string::npos)
        << help.out;
    EXPECT_NE(help.out.find("cats2.txt   read from " + fs::canonical(program).string()),
              std::string::npos)
        << help.out;
    // An error about a data file names the path it tried.
    fs::remove(own / "lorvex.ini");
    fs::create_directory(own / "lorvex.ini");
    run = Lorvex({"-c", "Mine", "-e", search.string(), "-d", dest.string()}, environment);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(
        run.err.rfind(
            "lorvex: cannot read category map \"" + (own / "lorvex.ini").string() + "\": ", 0),
        0u)
        << run.err;

    // A portable copy keeps to the files beside it, and its help says so.
    WriteFile(program / "portable.txt", "");
    run = Lorvex({"-c", "Mine", "-e", search.string(), "-d", dest.string()}, environment);
    EXPECT_EQ(run.err, "lorvex: category \"Mine\" is not in the category list \"" +
                           (program / "cats.txt").string() + "\"\n");
    const auto portable = Lorvex({"--help"}, environment);
    EXPECT_NE(portable.out.find("This copy is portable (portable.txt is beside it)"),
              std::string::npos)
        << portable.out;
    EXPECT_EQ(portable.out.find(own.string()), std::string::npos) << portable.out;
}

#ifndef _WIN32
// The Linux desktop: displays, Qt's platforms, the window library, the man page.
TEST_F(CommandLineRun, WindowModeWithoutADisplayExplainsAndFails) {
    const auto run = Lorvex({});
    EXPECT_EQ(run.exitStatus, 2);
    // The console twin starts the windowed program beside it, which is not there.
    const std::string error =
        kWindows ? "lorvex: cannot start the window" : "lorvex: no graphical display";
    EXPECT_EQ(run.err.rfind(error, 0), 0u) << run.err;
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
    EXPECT_EQ(help.out.rfind("Usage: lorvex -c category|--all -e searchdir -d destdir [-s|-f] "
                             "[--dry-run]\n",
                             0),
              0u)
        << help.out;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), line.find(root.path().string()) == std::string::npos ? 79u : 200u)
            << line;
    }
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
    EXPECT_EQ(shortHelp.err.rfind("lorvex: unknown switch \"-h\", ignored\nUsage: lorvex", 0), 0u)
        << shortHelp.err;
    EXPECT_EQ(shortHelp.out, std::string(" 2") + kMoved);
}

#endif  // _WIN32

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

// A map over every kind of category a collection has: nested, with a comma, with an
// empty level, unsafe as a folder name, not in the list at all, and one archive named
// under two categories (the first line decides).
#ifndef _WIN32
// Folders spelled with "/", pseudo-terminals and signals: the Linux runs.
class WholeCollection : public CommandLineRun {
protected:
    WholeCollection() {
        WriteFile(program / "cats.txt",
                  "Music / Jazz\nMusic / Rock\n\"Letters, Bills\"\n..\na/b\nOld /  / Tapes\n");
        WriteMap(
            "Night Ferries=Music / Jazz\nSaltmarsh=Music / Rock\nGas 2024=Letters, Bills\n"
            "Slow Tide=Music / Jazz\nSaltmarsh=Music / Jazz\nUp=..\nSplit=a/b\n"
            "Reel=Old /  / Tapes\nStray=Unlisted\nNone=\n../Escape=Music / Jazz\n"
            "Hollow=Music / Rock\n");
        for (const char* name :
             {"Saltmarsh.zip", "Up.zip", "Split.zip", "Reel.zip", "Stray.zip", "None.zip"}) {
            WriteArchive(name, std::string("PK ") + name);
        }
        WriteArchive("Hollow.zip", "");
        WriteFile(root / "Escape.zip", "outside");
    }

    // Every file under `directory`, relative, with its size and modification time.
    static std::vector<std::string> Listing(const fs::path& directory) {
        std::vector<std::string> lines;
        if (!fs::exists(directory)) {
            return lines;
        }
        for (const auto& entry : fs::recursive_directory_iterator(directory)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            lines.push_back(fs::relative(entry.path(), directory).string() + " " +
                            std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
                            "." + std::to_string(st.st_mtim.tv_nsec));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

TEST_F(WholeCollection, AllSortsEveryListedCategoryIntoItsOwnFolder) {
    const auto run = Lorvex({"--all", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, std::string(" 7") + kMoved +
                           "Music / Jazz: 2\nMusic / Rock: 1\nLetters, Bills: 1\n..: 1\n"
                           "a/b: 1\nOld /  / Tapes: 1\n");
    const std::vector<std::pair<std::string, std::string>> placed = {
        {"Music/Jazz/Night Ferries.zip", "PK"},
        {"Music/Jazz/Slow Tide.zip", "PK"},
        {"Music/Rock/Saltmarsh.zip", "PK Saltmarsh.zip"},
        {"Letters, Bills/Gas 2024.zip", "PK"},
        {"_/Up.zip", "PK Up.zip"},
        {"a_b/Split.zip", "PK Split.zip"},
        {"Old/_/Tapes/Reel.zip", "PK Reel.zip"},
    };
    for (const auto& [path, contents] : placed) {
        EXPECT_EQ(test::ReadFile(dest / path), contents) << path;
    }
    EXPECT_EQ(ListDirectory(dest), (Names{"Letters, Bills", "Music", "Old", "_", "a_b"}));
    EXPECT_EQ(ListDirectory(search), (Names{"Hollow.zip", "None.zip", "Stray.zip"}));
    EXPECT_EQ(test::ReadFile(root / "Escape.zip"), "outside");

    const auto both =
        Lorvex({"--all", "-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(both.exitStatus, 2);
    EXPECT_EQ(both.out, "");
    EXPECT_EQ(both.err.rfind("lorvex: -c and --all cannot be used together", 0), 0u) << both.err;
}

TEST_F(WholeCollection, FailuresAreNamedAndCountedPerCategoryLargestFirst) {
    fs::create_directories(dest / "Music" / "Jazz");
    WriteFile(dest / "Music" / "Jazz" / "Slow Tide.zip", "older");
    WriteFile(dest / "a_b", "a file where a folder goes");
    const auto run = Lorvex({"--all", "-e", search.string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, std::string(" 5") + kMoved + "2 files could not be moved:\n" +
                           "Slow Tide.zip: File exists\n"
                           "Split.zip: cannot create folder \"" +
                           dest.string() +
                           "/a_b/\": Not a directory\n"
                           "Music / Jazz: 1\nMusic / Rock: 1\nLetters, Bills: 1\n..: 1\n"
                           "Old /  / Tapes: 1\n");
    EXPECT_EQ(test::ReadFile(dest / "Music" / "Jazz" / "Slow Tide.zip"), "older");
}

TEST_F(WholeCollection, DryRunListsWhatWouldHappenAndTouchesNothing) {
    struct Case {
        std::vector<std::string> switches;
        int exitStatus;
        std::string out;
    };
    fs::create_directory(dest);
    WriteFile(dest / "a_b", "a file where a folder goes");
    const std::string d = dest.string() + "/";
    const std::vector<Case> cases = {
        {{"--all"},
         1,
         "Night Ferries.zip -> " + d +
             "Music/Jazz/Night Ferries.zip\n"
             "Saltmarsh.zip -> " +
             d +
             "Music/Rock/Saltmarsh.zip\n"
             "Gas 2024.zip -> " +
             d +
             "Letters, Bills/Gas 2024.zip\n"
             "Slow Tide.zip -> " +
             d +
             "Music/Jazz/Slow Tide.zip\n"
             "Up.zip -> " +
             d +
             "_/Up.zip\n"
             "Reel.zip -> " +
             d +
             "Old/_/Tapes/Reel.zip\n"
             "1 file would not be moved:\n"
             "Split.zip: cannot create folder \"" +
             d +
             "a_b/\": Not a directory\n"
             "Music / Jazz: 2\nMusic / Rock: 1\nLetters, Bills: 1\n..: 1\nOld /  / Tapes: 1\n"
             " 6 files would be moved.\n"},
        {{"-c", "Music / Jazz"},
         0,
         "Night Ferries.zip -> " + d +
             "Night Ferries.zip\n"
             "Slow Tide.zip -> " +
             d +
             "Slow Tide.zip\n"
             "Saltmarsh.zip -> " +
             d +
             "Saltmarsh.zip\n"
             " 3 files would be moved.\n"},
    };
    const auto before = std::make_pair(Listing(search), Listing(dest));
    for (const auto& [switches, exitStatus, out] : cases) {
        auto arguments = switches;
        arguments.insert(arguments.end(), {"--dry-run", "-e", search.string(), "-d", d});
        const auto run = Lorvex(arguments);
        EXPECT_EQ(run.exitStatus, exitStatus) << switches[0] << run.err;
        EXPECT_EQ(run.out, out) << switches[0];
        EXPECT_EQ(std::make_pair(Listing(search), Listing(dest)), before) << switches[0];
    }
    // A destination that a real run could not create stops a dry run too.
    const auto blocked = Lorvex(
        {"--all", "--dry-run", "-e", search.string(), "-d", (root / "no" / "such").string()});
    EXPECT_EQ(blocked.exitStatus, 2);
    EXPECT_EQ(blocked.out, "");
    EXPECT_FALSE(fs::exists(root / "no"));
}

// The map's categories in map order, then the listed ones it never names; the first field
// of each line is a category list's line.
TEST_F(WholeCollection, CategoriesCountsNamesAndArchivesHere) {
    const auto run = Lorvex({"--categories", "-e", search.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out,
              "Music / Jazz\t3 names\t3 here\n"
              "Music / Rock\t2 names\t1 here\n"
              "\"Letters, Bills\"\t1 name\t1 here\n"
              "..\t1 name\t1 here\n"
              "a/b\t1 name\t1 here\n"
              "Old /  / Tapes\t1 name\t1 here\n"
              "Unlisted\t1 name\t1 here\tnot in the category list\n"
              "\t1 name\t1 here\tnot in the category list\n");
    const auto refused = Lorvex({"--categories", "-d", dest.string()});
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_FALSE(fs::exists(dest));

    // cut -f1 would keep only the start of a name holding a tab: its line says so instead.
    WriteMap("Reel=Old\tTapes\r\r\n");
    const auto tab = Lorvex({"--categories"});
    EXPECT_EQ(tab.exitStatus, 0);
    EXPECT_EQ(
        tab.out.substr(0, tab.out.find('\n') + 1),
        "\t1 name\tnot in the category list\t\"Old\\tTapes\" holds a tab (shown as \\t): type "
        "it into a category list by hand\n");
    EXPECT_EQ(tab.err.rfind("lorvex: 1 category holds a tab, which cut -f1 cannot carry", 0), 0u)
        << tab.err;
}

// --all over a list without a category has nothing to move: that is no success, and its dry
// run says so as the real run would.
TEST_F(WholeCollection, AnEmptyCategoryListStopsAll) {
    for (const auto& [list, dry] : {std::pair{"", false}, {" , ,\r\n\n", true}}) {
        WriteFile(program / "cats.txt", list);
        std::vector<std::string> arguments = {"--all", "-e", search.string(), "-d", dest.string()};
        if (dry) {
            arguments.emplace_back("--dry-run");
        }
        const auto run = Lorvex(arguments);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "lorvex: the category list \"" + (program / "cats.txt").string() +
                               "\" holds no category, so --all has nothing to move\n");
    }
    EXPECT_FALSE(fs::exists(dest));
}

// A batch keeps a descriptor open for each of its copies, so one started with few
// descriptors must make its batches smaller, never fail archives for want of them.
TEST_F(CommandLineRun, ManyArchivesAcrossFileSystemsMoveWithFewDescriptors) {
    const test::OtherFileSystemDirectory other(root.path());
    if (!other.found() || !fs::exists("/usr/bin/prlimit")) {
        GTEST_SKIP() << "no second file system at /dev/shm, or no prlimit";
    }
    WriteAlbums(600);
    const auto run = test::Run("/usr/bin/prlimit",
                               {"--nofile=64:64", lorvex.string(), "-c", "Music / Jazz", "-e",
                                search.string(), "-d", (other.path() / "out").string()});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(ListDirectory(other.path() / "out").size(), 600u);
    EXPECT_EQ(ListDirectory(search).size(), 0u);
}

// A pass long enough to be watched: archives copied across file systems, each flushed to
// disk, from a search directory on /dev/shm.
class LongPass : public CommandLineRun {
protected:
    static constexpr int kArchives = 1000;

    void SetUp() override {
        if (!other.found()) {
            GTEST_SKIP() << "no second file system at /dev/shm";
        }
        shmSearch = other.path();
        std::string map;
        for (int i = 0; i < kArchives; ++i) {
            const std::string name = "Track " + std::to_string(i);
            map += name + "=Music / Jazz\n";
            WriteFile(shmSearch / (name + ".zip"),
                      std::string(8192, static_cast<char>('a' + i % 26)));
        }
        WriteMap(map);
    }

    // Runs lorvex with a pseudo-terminal as its standard input, output and error;
    // `whenArrived` is called with its process id each time names arrive in the
    // destination, which is made first so that it can be watched: no clock is involved.
    // When it answers false the terminal is closed there, as a closed window closes it.
    std::pair<int, std::string> OnTerminal(const std::vector<std::string>& arguments,
                                           const std::function<bool(pid_t)>& whenArrived,
                                           const fs::path& watched = {}) {
        fs::create_directories(dest);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(watch, (watched.empty() ? dest : watched).c_str(),
                            IN_MOVED_TO | IN_CREATE);
        std::vector<std::string> environment = test::ProgramEnvironment({StateVariable()});
        std::vector<std::string> args{lorvex.string()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        const auto envp = test::ExecArray(environment);
        const auto argv = test::ExecArray(args);
        int terminal = -1;
        winsize size{24, 80, 0, 0};
        const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
        if (pid == 0) {
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        std::string seen;
        char buffer[4096];
        for (;;) {
            pollfd ready[] = {{terminal, POLLIN, 0}, {watch, POLLIN, 0}};
            ::poll(ready, 2, -1);
            if ((ready[1].revents & POLLIN) && ::read(watch, buffer, sizeof buffer) > 0 &&
                !whenArrived(pid)) {
                break;
            }
            if (ready[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::read(terminal, buffer, sizeof buffer);
                if (got <= 0) {
                    break;  // EIO once the program and its terminal are gone
                }
                seen.append(buffer, static_cast<std::size_t>(got));
            }
        }
        ::close(terminal);
        ::close(watch);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -128 - WTERMSIG(status), seen};
    }

    // Stops a run on a terminal with `signal` once 20 archives have arrived: it finishes
    // the batch in hand, reports and exits with 1, every archive whole in one place.
    void ExpectStoppedLikeCtrlC(int signal) {
        bool sent = false;
        const auto [status, seen] = OnTerminal(
            {"-c", "Music / Jazz", "-e", shmSearch.string(), "-d", dest.string()}, [&](pid_t pid) {
                if (!sent && MovedSoFar() >= 20) {
                    ::kill(pid, signal);
                    sent = true;
                }
                return true;
            });
        ASSERT_TRUE(sent);
        EXPECT_EQ(status, 1) << seen;
        // " N files were successfully found and moved!", then the cancel line.
        const std::string sentence =
            " files were successfully found and moved!\r\nThe move was cancelled";
        const auto at = seen.find(sentence);
        ASSERT_NE(at, std::string::npos) << seen;
        const auto digits = seen.find_last_not_of("0123456789", at - 1) + 1;
        ASSERT_LT(digits, at) << seen;
        const auto moved = std::stoul(seen.substr(digits, at - digits));
        EXPECT_LT(moved, static_cast<unsigned long>(kArchives));
        EXPECT_EQ(ListDirectory(dest).size(), moved);  // no partial copy left behind
        for (int i = 0; i < kArchives; ++i) {
            const std::string name = "Track " + std::to_string(i) + ".zip";
            const bool inDest = fs::exists(dest / name);
            ASSERT_NE(inDest, fs::exists(shmSearch / name)) << name;
            ASSERT_EQ(test::ReadFile(inDest ? dest / name : shmSearch / name),
                      std::string(8192, static_cast<char>('a' + i % 26)))
                << name;
        }
    }

    // Puts every archive back in the search directory.
    void MoveBack() {
        for (const auto& name : ListDirectory(dest)) {
            fs::copy_file(dest / name, shmSearch / name);
        }
        fs::remove_all(dest);
    }

    std::size_t MovedSoFar() const { return fs::exists(dest) ? ListDirectory(dest).size() : 0; }
    std::string StateVariable() const { return test::StateEnvironment(root / "state"); }

    test::OtherFileSystemDirectory other{root.path()};
    fs::path shmSearch;
};

TEST_F(LongPass, ProgressIsNeverDrawnOnAPipe) {
    const auto piped = Lorvex({"--all", "-e", shmSearch.string(), "-d", dest.string()});
    EXPECT_EQ(piped.exitStatus, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out, " " + std::to_string(kArchives) + kMoved +
                             "Music / Jazz: " + std::to_string(kArchives) + "\n");

    // How the line is drawn, fitted and cleared is tested in-process, with a clock.
}

TEST_F(LongPass, CtrlCFinishesTheArchiveInHandAndReports) { ExpectStoppedLikeCtrlC(SIGINT); }

// An undo stopped by Ctrl+C, SIGTERM or SIGHUP finishes the batch in hand, says what it
// did not look at and exits 1; the next undo puts back the rest and leaves no temporary.
TEST_F(LongPass, AnUndoStoppedBySignalsIsFinishedByTheNextUndo) {
    const auto moved = test::Run(
        lorvex.string(), {"-c", "Music / Jazz", "-e", shmSearch.string(), "-d", dest.string()},
        {StateVariable()}, std::chrono::seconds(60));
    ASSERT_EQ(moved.exitStatus, 0) << moved.err;
    std::size_t back = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        bool sent = false;
        const auto [status, seen] = OnTerminal(
            {"--undo"},
            [&](pid_t pid) {
                if (!sent && ListDirectory(shmSearch).size() >= back + 20) {
                    ::kill(pid, signal);
                    sent = true;
                }
                return true;
            },
            shmSearch);
        EXPECT_EQ(status, 1) << seen;
        EXPECT_NE(seen.find(" not looked at; lorvex --undo takes up the run again."),
                  std::string::npos)
            << seen;
        back = ListDirectory(shmSearch).size();
        ASSERT_LT(back, static_cast<std::size_t>(kArchives));
    }
    const auto rest =
        test::Run(lorvex.string(), {"--undo"}, {StateVariable()}, std::chrono::seconds(60));
    EXPECT_EQ(rest.exitStatus, 0) << rest.out << rest.err;
    EXPECT_EQ(ListDirectory(shmSearch).size(), static_cast<std::size_t>(kArchives));
    EXPECT_FALSE(fs::exists(dest));  // made by the run, and empty again
}

TEST_F(LongPass, TerminationAndHangUpStopLikeCtrlC) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ExpectStoppedLikeCtrlC(signal);
        MoveBack();
    }
    // The terminal itself closed: the report has nowhere to go, the exit status tells.
    const auto [status, seen] =
        OnTerminal({"-c", "Music / Jazz", "-e", shmSearch.string(), "-d", dest.string()},
                   [&](pid_t) { return MovedSoFar() < 20; });
    EXPECT_EQ(status, 1) << "ended by signal " << -128 - status;
    for (int i = 0; i < kArchives; ++i) {
        const std::string name = "Track " + std::to_string(i) + ".zip";
        EXPECT_NE(fs::exists(dest / name), fs::exists(shmSearch / name)) << name;
    }
}

#endif  // _WIN32

}  // namespace
}  // namespace lorvex
