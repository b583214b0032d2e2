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

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

class CommandLineRun : public ::testing::Test {
protected:
    CommandLineRun() {
        fs::create_directory(program);
        fs::copy_file(test::LorvexExecutable(), lorvex);
        fs::create_directory(search);
        WriteFile(program / "cats.txt", "Music / Jazz\r\n\"Letters, Bills\"\r\n");
        WriteFile(program / "cats2.txt", "Music\r\n");
        WriteFile(program / "lorvex.ini",
                  MapWithHeader("Night Ferries=Music / Jazz\r\nGas 2024=Letters, Bills\r\n"
                                "Slow Tide=Music / Jazz\r\n"));
        WriteFile(program / "lorvex2.ini", MapWithHeader("Night Ferries=Music\r\n"));
        for (const char* name : {"Night Ferries.zip", "Gas 2024.zip", "Slow Tide.zip"}) {
            WriteFile(search / name, "PK");
        }
    }

    RunResult Lorvex(const std::vector<std::string>& arguments) {
        return test::Run(lorvex.string(), arguments);
    }

    TempDir root;
    fs::path program = root / "app";
    // "lorvex" here, "lorvex.com" (the console twin) on Windows
    fs::path lorvex = program / fs::path(test::LorvexExecutable()).filename();
    fs::path search = root / "my-archives";
    fs::path dest = root / "sorted-2024";
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

TEST_F(CommandLineRun, AMissingSearchDirectoryIsAnErrorNotZeroMoves) {
    const auto run =
        Lorvex({"-c", "Music / Jazz", "-e", (root / "typo").string(), "-d", dest.string()});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "lorvex: cannot search directory \"" + (root / "typo").string() +
                           test::kSeparator + "\": " + test::NoSuchFileReason() + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(dest));
}

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
    const std::string usage = std::string("Usage: ") + (kWindows ? "lorvex.exe" : "lorvex") +
                              " -c category -e searchdir -d destdir -[s|f]\nSee readme.txt\n";
    EXPECT_EQ(run.err, usage + usage);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, std::string(" 2") + kMoved);
}

TEST_F(CommandLineRun, WindowModeWithoutADisplayExplainsAndFails) {
    const auto run = Lorvex({});
    EXPECT_EQ(run.exitStatus, 2);
    // The console twin starts the windowed program beside it, which is not there.
    const std::string error =
        kWindows ? "lorvex: cannot start the window" : "lorvex: no graphical display";
    EXPECT_EQ(run.err.rfind(error, 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
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
