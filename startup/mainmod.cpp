#include "mainmod.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <vector>

#include "category_census.h"
#include "command_line.h"
#include "data_files.h"
#include "desktop.h"
#include "errors.h"
#include "move_job.h"
#include "nearest_names.h"
#include "pass_report.h"
#include "platform.h"
#include "progress_label.h"
#include "resort.h"
#include "run_history.h"
#include "runs_list.h"
#include "system_file_system.h"
#include "terminal.h"

namespace lorvex::mainmod {
namespace {

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
        switches.dryRun || switches.resort) {
        output.Error(
            "--categories takes no -c, -d, --all, --resort or --dry-run, only -s, -f and -e");
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
        switches.resort || switches.transfer != Transfer::Move ||
        (switches.listRuns && switches.undo)) {
        output.Error("--runs and --undo take no other switch (--undo takes --dry-run)");
        return kExitNotRun;
    }
    try {
        if (switches.listRuns) {
            output.Report(RunsListText(platform::SystemFileSystem()));
            return kExitAllMoved;
        }
        UndoResult result;
        {
            TerminalProgress progress(TerminalProgress::SystemTerminal());
            result =
                UndoRun(platform::SystemFileSystem(), switches.undoRun, switches.dryRun, &progress);
        }
        output.Report(PathsAsWritten(UndoReportText(result)));
        return UndoSettled(result) ? kExitAllMoved : kExitSomeNotMoved;
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

TerminalProgress::Terminal TerminalProgress::SystemTerminal() {
    return {platform::StandardErrorIsTerminal(), platform::TerminalColumns,
            platform::DrawStatusLine, [] { return Clock::now(); }};
}

TerminalProgress::TerminalProgress(Terminal terminal) : terminal_(std::move(terminal)) {}

void TerminalProgress::PassBegins() {
    delay_.Restart(terminal_.now());
    lastDrawn_ = delay_.Began();
}

bool TerminalProgress::ContinuePass(const PassStatus& status) {
    if (stopRequests_.Requested()) {
        return false;
    }
    if (!terminal_.present) {
        return true;
    }
    const auto now = terminal_.now();
    if (delay_.Over(now) && now - lastDrawn_ >= kRedrawEvery) {
        terminal_.draw(ProgressLine(status, now - delay_.Began(), terminal_.columns()));
        shown_ = true;
        lastDrawn_ = now;
    }
    return true;
}

void TerminalProgress::PassEnds() {
    if (shown_) {
        terminal_.draw({});  // the report starts on a clean line
    }
}

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

namespace {

// A move, copy or link of one category or all of them, as the switches ask.
int Move(const CommandSwitches& switches, const Form1& form, CommandLineOutput& output) {
    const ListMode mode = switches.cmdListMode.value_or(ListMode::Full);
    const std::vector<std::string> listed = ReadCategoryList(form.ProgramDirectory(), mode);
    if (!switches.allCategories &&
        std::find(listed.begin(), listed.end(), switches.cmdCategory) == listed.end()) {
        output.Error("category " + Quoted(switches.cmdCategory) + " is not in the category list " +
                     Quoted(CategoryListPath(form.ProgramDirectory(), mode)) +
                     DidYouMean(NearestCategories(switches.cmdCategory, listed)));
        return kExitNotRun;
    }
    MoveRequest request{switches.cmdCategory,  switches.allCategories, {},
                        switches.cmdSearchDir, switches.cmdDestDir,    mode,
                        switches.transfer,     switches.dryRun,        !switches.noJournal};
    if (switches.allCategories) {
        request.categories = listed;
    }
    MoveJob job(form.FileSystem(), form.ProgramDirectory(), std::move(request));
    PassResult pass;
    {
        TerminalProgress progress(TerminalProgress::SystemTerminal());
        pass = job.Run(&progress);
    }
    output.MoveReport(MoveReportParts(pass));
    return pass.failed.empty() && !pass.cancelled && pass.stopped.empty() ? kExitAllMoved
                                                                          : kExitSomeNotMoved;
}

// --resort: the tree -d names sorted again by the current map, then -e's archives into it.
int Resort(const CommandSwitches& switches, const Form1& form, CommandLineOutput& output) {
    if (!switches.cmdCategory.empty() || switches.allCategories ||
        switches.transfer != Transfer::Move) {
        output.Error(
            "--resort takes no -c, --all, --copy or --link: it moves the archives of "
            "every category of the list");
        return kExitNotRun;
    }
    if (switches.cmdDestDir.empty()) {
        output.Error("no sorted tree given: use --resort -d destdir");
        return kExitNotRun;
    }
    const ListMode mode = switches.cmdListMode.value_or(ListMode::Full);
    const ResortRequest request{switches.cmdDestDir,
                                switches.cmdSearchDir,
                                ReadCategoryList(form.ProgramDirectory(), mode),
                                CategoryListPath(form.ProgramDirectory(), mode),
                                switches.dryRun,
                                !switches.noJournal};
    const platform::FileText map = ReadCategoryMap(form.ProgramDirectory(), mode);
    ResortResult result;
    {
        TerminalProgress progress(TerminalProgress::SystemTerminal());
        result = Resort(form.FileSystem(), map.view(), request, &progress);
    }
    output.MoveReport(ResortReportParts(result));
    const PassResult& pass = result.pass;
    return pass.failed.empty() && !pass.cancelled && pass.stopped.empty() ? kExitAllMoved
                                                                          : kExitSomeNotMoved;
}

}  // namespace

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
    if (switches.resort) {
        try {
            return Resort(switches, form, output);
        } catch (const LorvexError& error) {
            output.Error(error.what());
            return kExitNotRun;
        }
    }
    if (const std::string missing = SwitchProblem(switches); !missing.empty()) {
        output.Error(missing);
        return kExitNotRun;
    }
    try {
        return Move(switches, form, output);
    } catch (const LorvexError& error) {
        output.Error(error.what());
        return kExitNotRun;
    }
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
