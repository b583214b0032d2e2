// The window state driven as the window and the command line drive it, on real files.
#include "form1.h"

#include <gtest/gtest.h>

#include "errors.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::kSeparator;
using test::ListDirectory;
using test::MapWithHeader;
using test::WriteFile;
using Names = std::vector<std::string>;

class RecordedMessages : public MessageSink {
public:
    void ShowMessage(std::string_view title, std::string_view text) override {
        titles.emplace_back(title);
        texts.emplace_back(text);
    }
    void ShowError(std::string_view, std::string_view text) override { errors.emplace_back(text); }
    Names titles;
    Names texts;
    Names errors;
};

class Form1Test : public ::testing::Test, protected test::ProgramFiles {
protected:
    Form1Test() { form.SetMessageSink(&messages); }

    // The one error the last handler reported.
    std::string LastError() const { return messages.errors.empty() ? "" : messages.errors.back(); }
    // Fills the fields as a user would and presses "Move Files!".
    void Move(const std::string& category, const std::string& destination) {
        form.getCats();
        form.Start.SetText(search.string());
        form.Endd.SetText(destination);
        for (int i = 0; i < form.Combo1.ListCount(); ++i) {
            if (form.Combo1.List(i) == category) {
                form.Combo1.SetListIndex(i);
            }
        }
        form.Command2_Click();
    }

    Form1 form{program.string()};
    RecordedMessages messages;
};

TEST_F(Form1Test, StartsEmptyInFullListsMode) {
    EXPECT_EQ(form.Variables().movedCount, 0);
    EXPECT_EQ(form.Variables().searchdir, "");
    EXPECT_EQ(form.Variables().destdir, "");
    EXPECT_EQ(form.Variables().category, "");
    EXPECT_EQ(form.Combo1.ListCount(), 0);
    EXPECT_FALSE(form.Option1.Value());
    EXPECT_FALSE(form.Option2.Value());
    EXPECT_EQ(form.CurrentListMode(), ListMode::Full);
    form.Form_Load();
    EXPECT_EQ(form.Combo1.ListCount(), 3);
    EXPECT_EQ(form.Combo1.List(2), "Letters, Bills");
    EXPECT_EQ(form.Combo1.ListIndex(), -1);
}

TEST_F(Form1Test, SwitchingTheListModeReloadsTheListAndClearsTheChoice) {
    form.Form_Load();
    form.Combo1.SetListIndex(1);
    form.Option1.SetValue(true);
    EXPECT_FALSE(form.Option2.Value());
    EXPECT_EQ(form.Combo1.ListCount(), 2);
    EXPECT_EQ(form.Combo1.List(0), "Music");
    EXPECT_EQ(form.Combo1.ListIndex(), -1);
    EXPECT_EQ(form.Combo1.Text(), "");
    EXPECT_EQ(form.CurrentListMode(), ListMode::Simple);
    form.Option2.SetValue(true);
    EXPECT_FALSE(form.Option1.Value());
    EXPECT_EQ(form.Combo1.ListCount(), 3);
    EXPECT_EQ(form.CurrentListMode(), ListMode::Full);
}

TEST_F(Form1Test, AMissingCategoryListIsReportedAndLeavesTheChoiceUsable) {
    fs::remove(program / "cats2.txt");
    form.Form_Load();
    form.Option1.SetValue(true);
    EXPECT_TRUE(form.LastHandlerFailed());
    EXPECT_NE(LastError().find((program / "cats2.txt").string()), std::string::npos);
    EXPECT_NE(LastError().find(test::NoSuchFileReason()), std::string::npos);
    EXPECT_TRUE(form.Combo1.Visible());
    EXPECT_EQ(form.Combo1.ListCount(), 0);
}

TEST_F(Form1Test, MoveDoesNothingUntilBothDirectoriesAndACategoryAreGiven) {
    WriteMap("a=Music / Jazz\r\n");
    WriteArchive("a.zip");
    form.Form_Load();
    form.Start.SetText(search.string());
    form.Combo1.SetListIndex(0);
    form.Command2_Click();  // no destination
    form.Endd.SetText(dest.string());
    form.Combo1.SetListIndex(-1);
    form.Command2_Click();  // no category
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_EQ(form.Start.Text(), search.string());  // no separator added either
}

TEST_F(Form1Test, MovesOnlyPresentNonEmptyArchivesOfTheChosenCategory) {
    WriteMap(
        "  Blue Harbor - Night Ferries  =Music / Jazz\r\n"
        "Saltmarsh=Music / Rock\r\n"
        "; Saltmarsh Live=Music / Jazz\r\n"
        "Empty One=Music / Jazz\r\n"
        "Not Here=Music / Jazz\r\n"
        "Lower=music / jazz\r\n"
        "Upper Ext=Music / Jazz\r\n"
        "Blue Harbor - Night Ferries=Music / Jazz\r\n"
        "[VerAdded]\r\n"
        "Late=Music / Jazz\r\n");
    for (const char* name : {"Blue Harbor - Night Ferries.zip", "Saltmarsh.zip",
                             "Saltmarsh Live.zip", "Lower.zip", "Upper Ext.ZIP", "Late.zip"}) {
        WriteArchive(name);
    }
    WriteArchive("Empty One.zip", "");
    Move("Music / Jazz", dest.string());

#ifdef _WIN32
    // File names are compared without regard to letter case there: "Upper Ext.ZIP" is
    // found as "Upper Ext.zip", and arrives under that name.
    const Names moved = {"Blue Harbor - Night Ferries.zip", "Upper Ext.zip"};
    const Names left = {"Empty One.zip", "Late.zip", "Lower.zip", "Saltmarsh Live.zip",
                        "Saltmarsh.zip"};
#else
    const Names moved = {"Blue Harbor - Night Ferries.zip"};
    const Names left = {"Empty One.zip",      "Late.zip",      "Lower.zip",
                        "Saltmarsh Live.zip", "Saltmarsh.zip", "Upper Ext.ZIP"};
#endif
    EXPECT_EQ(ListDirectory(dest), moved);
    EXPECT_EQ(ListDirectory(search), left);
    EXPECT_EQ(test::ReadFile(dest / "Blue Harbor - Night Ferries.zip"), "PK data");
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.titles[0], "lorvex");
    // Listed twice, moved once: the second look finds nothing and counts nothing.
    EXPECT_EQ(messages.texts[0],
              " " + std::to_string(moved.size()) + " files were successfully found and moved!");
    EXPECT_EQ(form.Variables().category, "Music / Jazz");
}

TEST_F(Form1Test, AppendsTheSeparatorAndCreatesTheDestinationEvenWhenNothingMoves) {
    WriteMap("a=Music / Jazz\r\n");
    Move("Music / Jazz", dest.string());
    EXPECT_EQ(form.Start.Text(), search.string() + kSeparator);
    EXPECT_EQ(form.Variables().searchdir, search.string() + kSeparator);
    EXPECT_EQ(form.Variables().destdir, dest.string() + kSeparator);
    EXPECT_TRUE(fs::is_directory(dest));
    EXPECT_EQ(messages.texts.at(0), " 0 files were successfully found and moved!");
    // A field that already ends in the separator keeps it single.
    Move("Music / Jazz", dest.string() + kSeparator);
    EXPECT_EQ(form.Endd.Text(), dest.string() + kSeparator);
}

TEST_F(Form1Test, EachPassCountsFromZero) {
    WriteMap("a=Music / Jazz\r\nb=Music / Jazz\r\n");
    WriteArchive("a.zip");
    WriteArchive("b.zip");
    Move("Music / Jazz", dest.string());
    EXPECT_EQ(form.Variables().movedCount, 2);
    WriteArchive("a.zip", "new");
    Move("Music / Jazz", (program / "second").string());
    EXPECT_EQ(form.Variables().movedCount, 1);
}

TEST_F(Form1Test, MovesAnyNumberOfArchivesFromALargeMap) {
    std::string body;
    for (int i = 0; i < 6000; ++i) {
        body +=
            "album" + std::to_string(i) + "=" + (i % 2 ? "Music / Rock" : "Music / Jazz") + "\n";
        if (i % 2 == 0) {
            WriteArchive("album" + std::to_string(i) + ".zip");
        }
    }
    WriteMap(body);
    Move("Music / Jazz", dest.string());
    EXPECT_EQ(form.Variables().movedCount, 3000);
    EXPECT_EQ(ListDirectory(dest).size(), 3000u);
}

TEST_F(Form1Test, NeverOverwritesAndReportsEveryArchiveNotMoved) {
    WriteMap("kept=Music / Jazz\r\nclash=Music / Jazz\r\nfree=Music / Jazz\r\n");
    WriteArchive("kept.zip", "source kept");
    WriteArchive("clash.zip", "source clash");
    WriteArchive("free.zip");
    fs::create_directory(dest);
    WriteFile(dest / "kept.zip", "already there");
    WriteFile(dest / "clash.zip", "also there");
    Move("Music / Jazz", dest.string());

    EXPECT_EQ(test::ReadFile(dest / "kept.zip"), "already there");
    EXPECT_EQ(test::ReadFile(search / "kept.zip"), "source kept");
    EXPECT_EQ(test::ReadFile(search / "clash.zip"), "source clash");
    EXPECT_EQ(form.Variables().movedCount, 1);
    EXPECT_EQ(messages.texts.at(0),
              " 1 files were successfully found and moved!\n"
              "2 files could not be moved:\n"
              "kept.zip: " +
                  test::FileExistsReason() + "\n" + "clash.zip: " + test::FileExistsReason());
}

TEST_F(Form1Test, MapNamesCannotReachOutsideTheTwoDirectories) {
    WriteMap("../secret=Music / Jazz\r\nsub/inner=Music / Jazz\r\n");
    WriteFile(program / "secret.zip", "outside");
    fs::create_directory(search / "sub");
    WriteArchive("sub/inner.zip");
    fs::create_directory(dest);
    fs::create_directory(dest / "sub");
    Move("Music / Jazz", dest.string());
    EXPECT_EQ(form.Variables().movedCount, 0);
    EXPECT_TRUE(fs::exists(program / "secret.zip"));
    EXPECT_TRUE(fs::exists(search / "sub/inner.zip"));
    EXPECT_TRUE(form.LastPass().failed.empty());
}

TEST_F(Form1Test, MissingOrHeaderlessMapsAreErrorsNamingTheFile) {
    WriteArchive("a.zip");
    form.getCats();
    form.Start.SetText(search.string());
    form.Endd.SetText(dest.string());
    form.Combo1.SetListIndex(0);
    fs::remove(program / "lorvex.ini");
    form.Command2_Click();
    EXPECT_NE(LastError().find("cannot read category map"), std::string::npos) << LastError();
    WriteFile(program / "lorvex.ini", "only\r\ntwo lines\r\n");
    form.Command2_Click();
    EXPECT_NE(LastError().find("lorvex.ini"), std::string::npos);
    EXPECT_NE(LastError().find("fewer than three lines"), std::string::npos);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_TRUE(fs::exists(search / "a.zip"));
}

TEST_F(Form1Test, ASearchDirectoryThatCannotBeSearchedIsAnErrorNotAnEmptyMove) {
    WriteMap("a=Music / Jazz\r\n");
    WriteFile(program / "plain-file", "x");
    for (const auto& bad : {program / "no-such-dir", program / "plain-file"}) {
        form.getCats();
        form.Start.SetText(bad.string());
        form.Endd.SetText(dest.string());
        form.Combo1.SetListIndex(0);
        form.Command2_Click();
        EXPECT_EQ(
            LastError().rfind("cannot search directory \"" + bad.string() + kSeparator + "\": ", 0),
            0u)
            << LastError();
        EXPECT_TRUE(messages.texts.empty());
        EXPECT_FALSE(fs::exists(dest));
    }
}

TEST_F(Form1Test, ADestinationThatCannotBeMadeStopsBeforeAnyMove) {
    WriteMap("a=Music / Jazz\r\n");
    WriteArchive("a.zip");
    WriteFile(program / "blocker", "a file in the way");
    for (const auto& bad : {program / "missing" / "out", program / "blocker"}) {
        form.getCats();
        form.Start.SetText(search.string());
        form.Endd.SetText(bad.string());
        form.Combo1.SetListIndex(0);
        form.Command2_Click();
        EXPECT_TRUE(form.LastHandlerFailed()) << bad;
        EXPECT_TRUE(fs::exists(search / "a.zip"));
    }
}

class CancelAt : public PassProgress {
public:
    explicit CancelAt(int name) : name_(name) {}
    bool ContinuePass(const PassStatus& status) override {
        seen.push_back(status.checked);
        return status.checked < name_;
    }
    std::vector<std::int64_t> seen;

private:
    int name_;
};

TEST_F(Form1Test, ProgressSeesEveryArchiveAndCanCancelBetweenThem) {
    WriteMap("a=Music / Jazz\r\nb=Music / Jazz\r\nc=Music / Jazz\r\nd=Music / Jazz\r\n");
    for (const char* name : {"a.zip", "b.zip", "c.zip", "d.zip"}) {
        WriteArchive(name);
    }
    CancelAt cancel(3);
    form.SetPassProgress(&cancel);
    Move("Music / Jazz", dest.string());
    // The first as the search folder is listed, before any name is checked.
    EXPECT_EQ(cancel.seen, (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(ListDirectory(dest), (Names{"a.zip", "b.zip"}));
    EXPECT_EQ(ListDirectory(search), (Names{"c.zip", "d.zip"}));
    EXPECT_TRUE(form.LastPass().cancelled);
    EXPECT_EQ(messages.texts.at(0),
              " 2 files were successfully found and moved!\n"
              "The move was cancelled; the remaining archives were left where they are.");
}

class ScriptedPicker : public FolderPicker {
public:
    std::string BrowseFolder(std::string_view prompt, std::string_view startAt) override {
        prompts.emplace_back(prompt);
        starts.emplace_back(startAt);
        return answer;
    }
    std::string answer;
    Names prompts;
    Names starts;
};

TEST_F(Form1Test, FolderPickersFillOnlyTheirOwnField) {
    ScriptedPicker picker;
    form.SetFolderPicker(&picker);
    form.Start.SetText("typed");
    form.Endd.SetText("other");
    form.Command3_Click();  // cancelled
    EXPECT_EQ(form.Start.Text(), "typed");
    picker.answer = "/home/me/archives";
    form.Command3_Click();
    EXPECT_EQ(form.Start.Text(), "/home/me/archives" + std::string(1, kSeparator));
    picker.answer = std::string(1, kSeparator);  // a root
    form.Command3_Click();
    EXPECT_EQ(form.Start.Text(), std::string(2, kSeparator));
    EXPECT_EQ(form.Endd.Text(), "other");
    form.Command4_Click();
    EXPECT_EQ(form.Endd.Text(), std::string(2, kSeparator));
    EXPECT_EQ(picker.starts.front(), "typed");  // the picker may open where the field points
    EXPECT_EQ(picker.prompts,
              (Names{"Please select your start directory.", "Please select your start directory.",
                     "Please select your start directory.",
                     "Please select your destination directory."}));
}

}  // namespace
}  // namespace lorvex
