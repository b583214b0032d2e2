// The command line run in this process, with what it says recorded.
#include "mainmod.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace lorvex::mainmod {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

struct RecordedOutput : CommandLineOutput {
    void Usage(std::string_view text) override { usages.emplace_back(text); }
    void Report(std::string_view text) override { reports.emplace_back(text); }
    void Error(std::string_view text) override { errors.emplace_back(text); }
    Words usages;
    Words reports;
    Words errors;
};

class RunCommandLineTest : public ::testing::Test, protected test::ProgramFiles {
protected:
    int Run(const Words& words) { return RunCommandLine(words, form, output); }

    Form1 form{program.string()};
    RecordedOutput output;
};

TEST_F(RunCommandLineTest, SimpleListsSelectTheirCategoryAndReportOnce) {
    WriteArchive("Night Ferries.zip");
    EXPECT_EQ(Run({"x", "-s", "-c", "Music", "-e", search.string(), "-d", dest.string(), "-q"}),
              kExitAllMoved);
    EXPECT_EQ(output.usages.size(), 1u);  // -q; "x" comes before the first switch
    EXPECT_EQ(output.reports, Words{" 1 files were successfully found and moved!"});
    EXPECT_TRUE(output.errors.empty());
    // The command line runs the move itself and leaves the window's controls as they were.
    EXPECT_FALSE(form.Option1.Value());
    EXPECT_EQ(form.Start.Text(), "");
    EXPECT_TRUE(fs::exists(dest / "Night Ferries.zip"));
}

TEST_F(RunCommandLineTest, AnErrorStopsTheRunWithOneLineAndStatusTwo) {
    const std::vector<std::pair<std::string, Words>> cases = {
        {"cats2.txt", {"-s", "-c", "Music", "-e", search.string(), "-d", dest.string()}},
        {"lorvex.ini", {"-c", "Music / Jazz", "-e", search.string(), "-d", dest.string()}},
    };
    for (const auto& [missing, words] : cases) {
        fs::remove(program / missing);
        output = {};
        Form1 fresh(program.string());
        EXPECT_EQ(RunCommandLine(words, fresh, output), kExitNotRun) << missing;
        ASSERT_EQ(output.errors.size(), 1u) << missing;
        EXPECT_NE(output.errors[0].find(missing), std::string::npos) << output.errors[0];
        EXPECT_TRUE(output.reports.empty());
    }
}

TEST_F(RunCommandLineTest, HelpWinsOverEverythingElseOnTheLine) {
    EXPECT_EQ(Run({"-x", "-c", "Music / Jazz", "--version", "--help"}), kExitAllMoved);
    ASSERT_EQ(output.reports.size(), 1u);
    EXPECT_NE(output.reports[0].find(program.string()), std::string::npos);
    EXPECT_TRUE(output.usages.empty());
    EXPECT_TRUE(output.errors.empty());
}

TEST_F(RunCommandLineTest, DryRunOfAllCategoriesReportsOnceAndMovesNothing) {
    WriteArchive("Night Ferries.zip");
    WriteArchive("Gas 2024.zip");
    EXPECT_EQ(Run({"--all", "--dry-run", "-e", search.string(), "-d", dest.string()}),
              kExitAllMoved);
    const auto d = [this](const std::string& folders) {
        return (dest / fs::path(folders)).make_preferred().string();
    };
    EXPECT_EQ(output.reports, Words{"Night Ferries.zip -> " + d("Music/Jazz/Night Ferries.zip") +
                                    "\nGas 2024.zip -> " + d("Letters, Bills/Gas 2024.zip") +
                                    "\n"
                                    "Music / Jazz: 1\nLetters, Bills: 1\n"
                                    " 2 files would be moved."});
    EXPECT_TRUE(output.errors.empty());
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_EQ(test::ListDirectory(search).size(), 2u);
}

}  // namespace
}  // namespace lorvex::mainmod

namespace lorvex::mainmod {
namespace {

// A terminal of the test's own, with a clock the test moves.
struct FakeTerminal {
    TerminalProgress::Clock::time_point now{};
    std::vector<std::string> lines;

    TerminalProgress::Terminal Terminal(int columns, bool present = true) {
        return {present, [columns] { return columns; },
                [this](std::string_view line) { lines.emplace_back(line); },
                [this] { return now; }};
    }
};

TEST(TerminalProgressTest, QuietForHalfASecondThenFittedToTheTerminalAndClearedAtTheEnd) {
    using std::chrono::milliseconds;
    for (const int columns : {40, 50, 80}) {
        SCOPED_TRACE(columns);
        FakeTerminal terminal;
        TerminalProgress progress(terminal.Terminal(columns));
        progress.PassBegins();
        const std::string archive = "/home/someone/collection/Night Ferries over the Bay.zip";
        const PassStatus status{4353, 13066, 4100, 0, archive};
        for (const int at : {0, 499, 500, 600, 750}) {
            terminal.now = TerminalProgress::Clock::time_point(milliseconds(at));
            EXPECT_TRUE(progress.ContinuePass(status));
        }
        ASSERT_EQ(terminal.lines.size(), 2u);  // at 500 ms, then not again before 750 ms
        for (const auto& line : terminal.lines) {
            EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
            EXPECT_NE(line.find("4353"), std::string::npos) << line;
        }
        progress.PassEnds();
        EXPECT_EQ(terminal.lines.back(), "");
    }
    // A pipe or a log sees nothing, however long the pass.
    FakeTerminal pipe;
    TerminalProgress quiet(pipe.Terminal(80, false));
    quiet.PassBegins();
    pipe.now += std::chrono::seconds(5);
    EXPECT_TRUE(quiet.ContinuePass({1, 2, 0, 0, "a.zip"}));
    quiet.PassEnds();
    EXPECT_TRUE(pipe.lines.empty());
}

}  // namespace
}  // namespace lorvex::mainmod
