#include "mainmod.h"

#include <chrono>
#include <exception>
#include <vector>

#include "category_census.h"
#include "command_line.h"
#include "data_files.h"
#include "desktop.h"
#include "errors.h"
#include "nearest_names.h"
#include "platform.h"
#include "progress_label.h"
#include "run_history.h"
#include "system_file_system.h"
#include "terminal.h"
#include "runs_list.h"

namespace lorvex::mainmod {
namespace {

// Routes the core's messages to the command line's output for as long as it lives.
class ReportToOutput : public MessageSink {
public:
    ReportToOutput(Form1& form, CommandLineOutput& output) : form_(form), output_(output) {
        form_.SetMessageSink(this);
    }
    ReportToOutput(const ReportToOutput&) = delete;
    ReportToOutput& operator=(const ReportToOutput&) = delete;
    ~ReportToOutput() override { form_.SetMessageSink(nullptr); }
    void ShowMessage(std::string_view, std::string_view text) override { output_.Report(text); }
    void ShowMoveReport(std::string_view, const MoveReportText& report) override {
        output_.MoveReport(report);
    }
    void ShowError(std::string_view, std::string_view text) override { output_.Error(text); }

private:
    Form1& form_;
    CommandLineOutput& output_;
};

// For as long as it lives: Ctrl+C, SIGTERM, SIGHUP (on Windows Ctrl+Break and a closed
// console) end the pass between two archives, after the batch in hand, and a pass longer
// than half a second shows one line of progress on standard error when that is a
// terminal. A pipe or a log sees nothing of it.
class TerminalProgress : public PassProgress {
public:
    explicit TerminalProgress(Form1& form) : form_(form) { form_.SetPassProgress(this); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    ~TerminalProgress() override { form_.SetPassProgress(nullptr); }

    void PassBegins() override {
        delay_.Restart();
        lastDrawn_ = delay_.Began();
        drawing_ = platform::StandardErrorIsTerminal();
    }

    bool ContinuePass(const PassStatus& status) override {
        if (stopRequests_.Requested()) {
            return false;
        }
        const auto now = Clock::now();
        if (drawing_ && delay_.Over(now) && now - lastDrawn_ >= kRedrawEvery) {
            Draw(status);
            lastDrawn_ = now;
        }
        return true;
    }

    void PassEnds() override {
        if (shown_) {
            platform::DrawStatusLine({});  // the report starts on a clean line
        }
    }

private:
    using Clock = ProgressDelay::Clock;
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

    void Draw(const PassStatus& status) {
        const auto line =
            ProgressLine(status, Clock::now() - delay_.Began(), platform::TerminalColumns());
        platform::DrawStatusLine(line);
        shown_ = true;
    }

    Form1& form_;
    // From before the pass until its report is written: a report to a terminal or pipe
    // that has gone away is lost, but the exit status still tells.
    platform::StopRequests stopRequests_;
    ProgressDelay delay_;
    Clock::time_point lastDrawn_;
    bool drawing_ = false;
    bool shown_ = false;
};

// Says which required switch is missing or which two cannot go together, or "" when the
// switches make a run.
std::string SwitchProblem(const CommandSwitches& switches) {
    if (switches.allCategories && !switches.cmdCategory.empty()) {
        return "-c and --all cannot be used together: give one category or all of them";
    }
    if (switches.cmdCategory.empty() && !switches.allCategories) {
        return "no category given: use -c category";
    }
    if (switches.cmdSearchDir.empty()) {
        return "no search directory given: use -e searchdir";
    }
    if (switches.cmdDestDir.empty()) {
        return "no destination directory given: use -d destdir";
    }
    return {};
}

// Setting an option runs its click handler, which loads that mode's category list.
void ApplyListMode(Form1& form, std::optional<ListMode> listMode) {
    if (listMode == ListMode::Simple) {
        form.Option1.SetValue(true);
        form.Option2.SetValue(false);
    } else if (listMode == ListMode::Full) {
        form.Option1.SetValue(false);
        form.Option2.SetValue(true);
    } else {
        form.getCats();
    }
}

std::vector<std::string> ListedCategories(const ComboBox& combo) {
    std::vector<std::string> categories;
    for (int i = 0; i < combo.ListCount(); ++i) {
        categories.push_back(combo.List(i));
    }
    return categories;
}

// Chooses the first item equal to `category`; false when there is none, so that the
// run never falls back to another category's archives.
bool SelectCategory(ComboBox& combo, const std::string& category) {
    for (int i = 0; i < combo.ListCount(); ++i) {
        if (combo.List(i) == category) {
            combo.SetListIndex(i);
            return true;
        }
    }
    combo.SetListIndex(-1);
    return false;
}

std::string RunsDirectoryOrNone() {
    try {
        return RunsDirectory();
    } catch (const LorvexError&) {
        return {};
    }
}

HelpPlaces PlacesOf(const Form1& form) {
    HelpPlaces places{platform::ExecutableName(),    form.ProgramDirectory(),
                      platform::UserDataDirectory(), IsPortableCopy(form.ProgramDirectory()),
                      RunsDirectoryOrNone(),         {}};
    for (const ListMode mode : {ListMode::Full, ListMode::Simple}) {
        for (const std::string_view name :
             {DataFilesOf(mode).categoryList, DataFilesOf(mode).categoryMap}) {
            places.dataFiles.emplace_back(name, DataFilePath(form.ProgramDirectory(), name));
        }
    }
    return places;
}

// --categories: the map's categories with their counts, and with -e the archives there.
int ListCategories(const CommandSwitches& switches, Form1& form, CommandLineOutput& output) {
    if (!switches.cmdCategory.empty() || !switches.cmdDestDir.empty() || switches.allCategories ||
        switches.dryRun) {
        output.Error("--categories takes no -c, -d, --all or --dry-run, only -s, -f and -e");
        return kExitNotRun;
    }
    // Without a category list (a new map has none yet) every category is marked unlisted.
    ApplyListMode(form, switches.cmdListMode);
    const std::vector<std::string> listed = ListedCategories(form.Combo1);
    const platform::FileText map =
        form.ReadCategoryMap(switches.cmdListMode.value_or(ListMode::Full));
    ArchivePresent present;
    std::string searchdir = switches.cmdSearchDir;
    if (!searchdir.empty()) {
        if (searchdir.back() != platform::kSeparator) {
            searchdir += platform::kSeparator;
        }
        if (const auto failure = platform::CheckSearchableDirectory(searchdir)) {
            output.Error("cannot search directory " + Quoted(searchdir) + ": " + failure->reason);
            return kExitNotRun;
        }
        present = [&searchdir, &form, path = std::string()](std::string_view name) mutable {
            path.assign(searchdir).append(name).append(".zip");
            return MeasureFile(form.FileSystem(), path) == FileState::Full;
        };
    }
    const auto counts = CountCategories(map.view(), listed, present);
    std::string text = CategoryCountsText(counts, static_cast<bool>(present));
    text.pop_back();
    const std::string summary = std::to_string(counts.size()) + " categories in " +
                                Quoted(form.CategoryMapPath(form.CurrentListMode())) +
                                "; each with its count under Show Details...";
    output.MoveReport(
        {text, counts.size() <= 20 ? text : summary, counts.size() <= 20 ? "" : text});
    if (const std::size_t tabs = CategoriesWithTabs(counts); tabs > 0) {
        output.Error(std::to_string(tabs) + (tabs == 1 ? " category holds" : " categories hold") +
                     " a tab, which cut -f1 cannot carry into a category list; its line's "
                     "first column is empty");
    }
    return kExitAllMoved;
}

// --runs and --undo, which work on the journals of earlier runs and on nothing else.
int RunHistory(const CommandSwitches& switches, CommandLineOutput& output) {
    if (!switches.cmdCategory.empty() || !switches.cmdSearchDir.empty() ||
        !switches.cmdDestDir.empty() || switches.allCategories || switches.listCategories ||
        switches.transfer != Transfer::Move || (switches.listRuns && switches.undo)) {
        output.Error("--runs and --undo take no other switch (--undo takes --dry-run)");
        return kExitNotRun;
    }
    try {
        if (switches.listRuns) {
            output.Report(RunsListText(platform::SystemFileSystem()));
            return kExitAllMoved;
        }
        const UndoResult result =
            UndoRun(platform::SystemFileSystem(), switches.undoRun, switches.dryRun);
        output.Report(PathsAsWritten(UndoReportText(result)));
        return result.failed.empty() ? kExitAllMoved : kExitSomeNotMoved;
    } catch (const LorvexError& error) {
        output.Error(PathsAsWritten(error.what()));
        return kExitNotRun;
    }
}

}  // namespace

namespace {

// The console already has the text, so a desktop that cannot show it costs nothing.
void Box(std::string_view text, std::string_view details = {}) {
    try {
        desktop::ShowStandaloneMessage("lorvex", text, details);
    } catch (const LorvexError&) {
    }
}

}  // namespace

void AlsoInBoxes::Usage(std::string_view usage) {
    console_.Usage(usage);
    Box(usage);
}

void AlsoInBoxes::Report(std::string_view report) {
    console_.Report(report);
    Box(report);
}

void AlsoInBoxes::MoveReport(const MoveReportText& report) {
    console_.Report(report.full);
    Box(report.summary, report.details);
}

void AlsoInBoxes::Error(std::string_view error) {
    console_.Error(error);
    Box(AsSentence(error));
}

std::string CommandToType() {
    const std::string usage = UsageText(platform::ExecutableName());
    const std::string line = usage.substr(0, usage.find('\n'));
    return line.substr(line.find(' ') + 1);
}

int RunCommandLine(std::span<const std::string> words, Form1& form, CommandLineOutput& output) {
    const std::vector<std::string_view> views(words.begin(), words.end());
    const CommandSwitches switches = ParseSwitches(views);
    if (switches.help) {
        output.Report(HelpText(PlacesOf(form)));
        return kExitAllMoved;
    }
    if (switches.version) {
        output.Report(VersionText());
        return kExitAllMoved;
    }
    // Nothing is done with words that may not say what was meant.
    if (!switches.refusal.empty()) {
        output.Error(switches.refusal + " (nothing was done)");
        return kExitNotRun;
    }
    for (const std::string& word : switches.unknownSwitches) {
        output.Usage("lorvex: unknown switch " + Quoted(word) + ", ignored\n" +
                     UsageText(platform::ExecutableName()));
    }
    if (switches.listRuns || switches.undo) {
        return RunHistory(switches, output);
    }
    if (switches.listCategories) {
        try {
            return ListCategories(switches, form, output);
        } catch (const LorvexError& error) {
            output.Error(error.what());
            return kExitNotRun;
        }
    }
    if (const std::string missing = SwitchProblem(switches); !missing.empty()) {
        output.Error(missing);
        return kExitNotRun;
    }
    const ReportToOutput reports(form, output);
    ApplyListMode(form, switches.cmdListMode);
    if (form.LastHandlerFailed()) {
        return kExitNotRun;
    }
    form.Start.SetText(switches.cmdSearchDir);
    form.Endd.SetText(switches.cmdDestDir);
    form.SetMoveOptions(
        {switches.allCategories, switches.dryRun, switches.transfer, !switches.noJournal});
    if (!switches.allCategories && !SelectCategory(form.Combo1, switches.cmdCategory)) {
        const std::vector<std::string> listed = ListedCategories(form.Combo1);
        output.Error("category " + Quoted(switches.cmdCategory) + " is not in the category list " +
                     Quoted(form.CategoryListPath()) +
                     DidYouMean(NearestCategories(switches.cmdCategory, listed)));
        return kExitNotRun;
    }
    form.Refresh();
    {
        TerminalProgress progress(form);
        form.Command2_Click();
    }
    if (form.LastHandlerFailed()) {
        return kExitNotRun;
    }
    const PassResult& pass = form.LastPass();
    return pass.failed.empty() && !pass.cancelled ? kExitAllMoved : kExitSomeNotMoved;
}

int Main(std::span<const std::string> words, CommandLineOutput& output,
         const WindowMode& windowMode) {
    try {
        if (words.empty()) {
            return windowMode();
        }
        Form1 form(platform::ProgramDirectory());
        return RunCommandLine(words, form, output);
    } catch (const std::exception& error) {
        output.Error(error.what());
        return kExitNotRun;
    }
}

}  // namespace lorvex::mainmod
