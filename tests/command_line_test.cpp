#include "command_line.h"
#include "errors.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "test_support.h"

namespace lorvex {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
constexpr const char* kIn = "C:\\in";
constexpr const char* kOut = "C:\\out";
#else
constexpr bool kWindows = false;
constexpr const char* kIn = "/in";
constexpr const char* kOut = "/out";
#endif

CommandSwitches Parse(std::vector<std::string_view> words) { return ParseSwitches(words); }

TEST(CommandLine, ReadsTheFiveSwitchesInAnyLetterCase) {
    const auto s = Parse({"-c", "Jazz", "-E", kIn, "-d", kOut, "-S"});
    EXPECT_EQ(s.cmdCategory, "Jazz");
    EXPECT_EQ(s.cmdSearchDir, kIn);
    EXPECT_EQ(s.cmdDestDir, kOut);
    EXPECT_EQ(s.cmdListMode, ListMode::Simple);
    EXPECT_TRUE(s.unknownSwitches.empty());
    EXPECT_EQ(Parse({"-C", "Jazz"}).cmdCategory, "Jazz");
}

TEST(CommandLine, ValueIsTheRestOfTheWordAndTheFollowingWords) {
    EXPECT_EQ(Parse({"-cJazz"}).cmdCategory, "Jazz");
    EXPECT_EQ(Parse({"-c", "Music / Jazz"}).cmdCategory, "Music / Jazz");
    if (!kWindows) {  // there "/" starts a switch
        EXPECT_EQ(Parse({"-c", "Music", "/", "Jazz"}).cmdCategory, "Music / Jazz");
        EXPECT_EQ(Parse({"-c\"Music", "/", "Jazz\""}).cmdCategory, "Music / Jazz");
    }
    EXPECT_EQ(Parse({"-c", "  Jazz  ", "-f"}).cmdCategory, "Jazz");
}

TEST(CommandLine, DashesAndSlashesInsideAValueStay) {
    const auto s = Parse({"-e", "/home/me/my-archives", "-d", "/srv/sorted-2024/a-b"});
    EXPECT_EQ(s.cmdSearchDir, kWindows ? "" : "/home/me/my-archives");
    EXPECT_EQ(s.cmdDestDir, kWindows ? "" : "/srv/sorted-2024/a-b");
    // On Windows both are switches: "/home..." an unknown one, "/srv..." Simple Lists.
    EXPECT_EQ(s.unknownSwitches.size(), kWindows ? 1u : 0u);
    EXPECT_EQ(s.cmdListMode, kWindows ? std::optional(ListMode::Simple) : std::nullopt);
    const auto w = Parse({"-e", "C:\\my-archives/a", "-d", "D:\\sorted-2024\\a-b"});
    EXPECT_EQ(w.cmdSearchDir, "C:\\my-archives/a");
    EXPECT_EQ(w.cmdDestDir, "D:\\sorted-2024\\a-b");
    EXPECT_TRUE(w.unknownSwitches.empty());
}

// Windows takes "/" for "-", as its own programs do; elsewhere a word starting with "/" is
// a path.
TEST(CommandLine, ASlashStartsASwitchOnlyOnWindows) {
    const auto s = Parse({"/c", "Jazz", "/E", kIn, "/d", kOut, "/s", "-c", "Music", "/", "Rock"});
    EXPECT_EQ(s.cmdSearchDir, kWindows ? kIn : "");
    EXPECT_EQ(s.cmdDestDir, kWindows ? kOut : "");
    EXPECT_EQ(s.cmdListMode, kWindows ? std::optional(ListMode::Simple) : std::nullopt);
    EXPECT_EQ(s.cmdCategory, kWindows ? "Music" : "Music / Rock");
    EXPECT_EQ(s.unknownSwitches,
              kWindows ? std::vector<std::string>{"/"} : std::vector<std::string>{});
}

TEST(CommandLine, DoubleQuotesBecomeBlanks) {
    EXPECT_EQ(Parse({"-cMusic\"Jazz\"Live"}).cmdCategory, "Music Jazz Live");
    EXPECT_EQ(Parse({"-c", "\"\""}).cmdCategory, "");
}

TEST(CommandLine, LastSwitchOfEachLetterWins) {
    EXPECT_EQ(Parse({"-c", "One", "-c", "Two"}).cmdCategory, "Two");
    EXPECT_EQ(Parse({"-s", "-f"}).cmdListMode, ListMode::Full);
    EXPECT_EQ(Parse({"-f", "-s"}).cmdListMode, ListMode::Simple);
    // Only the letter counts: "-simple" is -s, and the words after it are ignored.
    const auto s = Parse({"-simple", "lists", "please"});
    EXPECT_EQ(s.cmdListMode, ListMode::Simple);
    EXPECT_TRUE(s.unknownSwitches.empty());
}

TEST(CommandLine, UnknownSwitchesAreCollectedAndReadingGoesOn) {
    // A lone "--" before a word that is no option's name is one of them too.
    const auto s = Parse({"-x", "-", "--", "jazz", "--frobnicate", "-c", "Jazz"});
    EXPECT_EQ(s.unknownSwitches, (std::vector<std::string>{"-x", "-", "--", "--frobnicate"}));
    EXPECT_EQ(s.cmdCategory, "Jazz");
}

TEST(CommandLine, WordsBeforeTheFirstSwitchAreIgnored) {
    const auto s = Parse({"Jazz", kIn, "-d", kOut});
    EXPECT_EQ(s.cmdCategory, "");
    EXPECT_EQ(s.cmdSearchDir, "");
    EXPECT_EQ(s.cmdDestDir, kOut);
    EXPECT_FALSE(Parse({"no", "switches"}).cmdListMode);
}

TEST(CommandLine, UsageNamesTheProgramAndTheGuide) {
    EXPECT_EQ(UsageText("lorvex.com"),
              "Usage: lorvex.com -c category|--all -e searchdir -d destdir [-s|-f] [--dry-run]\n"
              "See lorvex.com --help and readme.txt");
}

TEST(CommandLine, AllAndDryRunAreWholeWordsOfTwoDashes) {
    const auto s = Parse({"--all", "-e", kIn, "--dry-run", "-d", kOut});
    EXPECT_TRUE(s.allCategories);
    EXPECT_TRUE(s.dryRun);
    EXPECT_EQ(s.cmdSearchDir, kIn);
    EXPECT_TRUE(s.unknownSwitches.empty());
    const auto other = Parse({"--dry", "-a"});
    EXPECT_FALSE(other.allCategories || other.dryRun);
    EXPECT_EQ(other.unknownSwitches.size(), 2u);
    // Long options take any letter case, as the letters do.
    const auto upper =
        Parse({"--ALL", "--Dry-Run", "--LINK=Symbolic", "--Resort", "--UNDO", "X"});
    EXPECT_TRUE(upper.allCategories && upper.dryRun && upper.undo && upper.resort);
    EXPECT_EQ(upper.transfer, Transfer::SymbolicLink);
    EXPECT_EQ(upper.undoRun, "X");
    EXPECT_EQ(upper.refusal, "");
}

// True when `text` names `option` as a word of its own: "--link" in "--link," but not only
// in "--link=symbolic".
bool Names(const std::string& text, std::string_view option) {
    for (auto at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
        const std::size_t end = at + option.size();
        const auto next = end < text.size() ? static_cast<unsigned char>(text[end]) : ' ';
        if (!std::isalnum(next) && next != '-' && next != '=') {
            return true;
        }
    }
    return false;
}

// --help, the man page, both guides and the README name every long option the reader takes.
TEST(CommandLine, EveryLongOptionIsInTheHelpTheManPageAndTheGuides) {
    const std::filesystem::path source = LORVEX_SOURCE_DIR;
    std::string manPage = test::ReadFile(source / "packaging" / "lorvex.1");
    for (auto at = manPage.find("\\-"); at != std::string::npos; at = manPage.find("\\-", at)) {
        manPage.erase(at, 1);  // roff's "\-" is a "-"
    }
    const std::pair<std::string, std::string> texts[] = {
        {"--help", test::Run(test::LorvexExecutable(), {"--help"}).out},
        {"lorvex.1", manPage},
        {"readme.txt", test::ReadFile(source / "docs" / "readme.txt")},
        {"readme-windows.txt", test::ReadFile(source / "docs" / "readme-windows.txt")},
        {"README.md", test::ReadFile(source / "README.md")},
    };
    ASSERT_EQ(LongOptions().size(), 12u);
    for (const std::string_view option : LongOptions()) {
        for (const auto& [name, text] : texts) {
            EXPECT_TRUE(Names(text, option)) << name << " does not name " << option;
        }
    }
}

}  // namespace
}  // namespace lorvex

// Every box begins its message as a sentence, whichever window or program shows it.
TEST(AsSentence, CapitalisesTheFirstLetterOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"category \"Nope\" is not in the category list",
         "Category \"Nope\" is not in the category list"},
        {"Already", "Already"},
        {" 3 files were successfully found and moved!",
         " 3 files were successfully found and moved!"},
        {"", ""},
    };
    for (const auto& [text, sentence] : cases) {
        EXPECT_EQ(lorvex::AsSentence(text), sentence);
    }
}
