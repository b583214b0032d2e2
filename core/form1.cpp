#include "form1.h"

#include <exception>
#include <utility>

#include "category_folder.h"
#include "category_list.h"
#include "category_map.h"
#include "data_files.h"
#include "dry_run_file_system.h"
#include "errors.h"
#include "pass_report.h"
#include "platform.h"
#include "system_file_system.h"

namespace lorvex {
namespace {

constexpr std::string_view kTitle = "lorvex";

// Shows Combo1 again however getCats ends, so a failed reload leaves a usable window.
class ShowWhenDone {
public:
    explicit ShowWhenDone(ComboBox& box) : box_(box) { box_.SetVisible(false); }
    ShowWhenDone(const ShowWhenDone&) = delete;
    ShowWhenDone& operator=(const ShowWhenDone&) = delete;
    ~ShowWhenDone() { box_.SetVisible(true); }

private:
    ComboBox& box_;
};

// Tells progress that a pass has ended however it ends, so that its dialog is gone before
// the result or the error is shown.
class ProgressSpan {
public:
    explicit ProgressSpan(PassProgress* progress) : progress_(progress) {
        if (progress_) {
            progress_->PassBegins();
        }
    }
    ProgressSpan(const ProgressSpan&) = delete;
    ProgressSpan& operator=(const ProgressSpan&) = delete;
    ~ProgressSpan() {
        if (progress_) {
            progress_->PassEnds();
        }
    }

private:
    PassProgress* progress_;
};

std::string WithSeparator(const std::string& directory) {
    if (!directory.empty() && directory.back() == platform::kSeparator) {
        return directory;
    }
    return directory + platform::kSeparator;
}

}  // namespace

Form1::Form1(std::string programDirectory)
    : programDirectory_(std::move(programDirectory)), system_(&platform::SystemFileSystem()) {
    Option1.GroupWith(Option2);
    Option1.SetClickHandler([this] { Option1_Click(); });
    Option2.SetClickHandler([this] { Option2_Click(); });
}

// Handlers call one another (the move action runs the pass), so only the outermost one
// reports an error, once, and the window or command line goes on from there.
template <class Handler>
void Form1::Guarded(const Handler& handler) {
    if (handlerDepth_ > 0) {
        handler();
        return;
    }
    ++handlerDepth_;
    lastHandlerFailed_ = false;
    try {
        handler();
    } catch (const std::exception& error) {
        lastHandlerFailed_ = true;
        if (messages_) {
            messages_->ShowError(kTitle, error.what());
        }
    }
    --handlerDepth_;
}

void Form1::Show() {
    if (view_) {
        view_->Show();
    }
}

void Form1::Refresh() {
    if (view_) {
        view_->Refresh();
    }
}

ListMode Form1::CurrentListMode() const {
    return Option1.Value() ? ListMode::Simple : ListMode::Full;
}

std::string Form1::CategoryListPath() const {
    return DataFilePath(programDirectory_, DataFilesOf(CurrentListMode()).categoryList);
}

std::string Form1::CategoryMapPath(ListMode mode) const {
    return DataFilePath(programDirectory_, DataFilesOf(mode).categoryMap);
}

FileState Form1::FileExists(const std::string& strFile) const {
    return MeasureFile(*system_, strFile);
}

FileState Form1::CheckForFile(const std::string& path, std::string_view file) const {
    return FileExists(path + std::string(file));
}

bool Form1::MoveFiles(const std::string& fromdir, const std::string& todir) {
    std::optional<std::string> failure;
    {
        Mover mover(*system_, [&](const std::string&, const std::optional<std::string>& reason) {
            failure = reason;
        });
        mover.Move(fromdir, todir);
    }
    if (failure) {
        lastPass_.failed.push_back({std::string(NameOf(fromdir)), *failure});
    }
    return !failure;
}

void Form1::createFolder(const std::string& path) { CreateDestination(*system_, path); }

void Form1::CreateDestination(fs::FileSystem& system, const std::string& path) {
    // Every move of the pass would fail without a destination, so stop before it starts.
    if (const auto failure = system.MakeFolder(path)) {
        throw LorvexError("cannot create destination directory " + Quoted(path) + ": " +
                          failure->reason);
    }
    RequireWritableDestination(system, path);
}

void Form1::Command2_Click() {
    Guarded([this] { MoveAction(); });
}

void Form1::MoveAction() {
    const std::string start = Start.Text();
    const std::string endd = Endd.Text();
    const int index = Combo1.ListIndex();
    if (endd.empty() || start.empty() || (index < 0 && !options_.allCategories)) {
        return;
    }
    Start.SetText(WithSeparator(start));
    vars_.searchdir = Start.Text();
    Endd.SetText(WithSeparator(endd));
    vars_.destdir = Endd.Text();
    Refresh();  // the completed fields are seen before a long pass starts
    // A search directory that cannot be searched would make every archive "not found"
    // and the move look like a success.
    if (const auto failure = platform::CheckSearchableDirectory(vars_.searchdir)) {
        throw LorvexError("cannot search directory " + Quoted(vars_.searchdir) + ": " +
                          failure->reason);
    }
    // Every archive would be "already there", and the run would look like a failure of each.
    if (platform::IsSameDirectory(vars_.searchdir, vars_.destdir)) {
        throw LorvexError("the destination is the search directory " + Quoted(vars_.searchdir));
    }
    // Every category of an empty list is none at all: say so rather than move nothing.
    if (options_.allCategories && Combo1.ListCount() == 0) {
        throw LorvexError("the category list " + Quoted(CategoryListPath()) +
                          " holds no category, so --all has nothing to move");
    }
    // Nothing is created for a move that cannot run.
    const platform::FileText map = ReadCategoryMap(CurrentListMode());
    vars_.category = options_.allCategories ? std::string() : Combo1.List(index);
    const PassRequest request = RequestFromVariables();
    // A dry run takes every step below over a file system that changes nothing.
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& system = request.dryRun ? dry.emplace(*system_) : *system_;
    RequireLinkable(system, vars_.searchdir, vars_.destdir, request.transfer);
    // The journal before anything is made, so that an undo can remove what the run makes.
    const std::unique_ptr<RunJournal> journal = StartJournal(system, request);
    const bool existed = system.StatusOf(vars_.destdir).target == fs::Kind::Directory;
    try {
        CreateDestination(system, vars_.destdir);
    } catch (const LorvexError&) {
        if (journal) {
            journal->Finish();
        }
        throw;
    }
    if (journal && !existed) {
        journal->FolderCreated(vars_.destdir);
    }
    RunPassOver(system, map.view(), request, journal.get());
    lastPass_.spaceEstimated = dry && dry->SpaceEstimated();
    const PassResult& pass = lastPass_;
    if (messages_) {
        messages_->ShowMoveReport(kTitle, MoveReportParts(pass));
    }
}

void Form1::Command1_Click() {
    Guarded([this] { RunPass(RequestFromVariables()); });
}

PassRequest Form1::RequestFromVariables() const {
    PassRequest request;
    request.category = vars_.category;
    request.searchdir = vars_.searchdir;
    request.destdir = vars_.destdir;
    request.listMode = CurrentListMode();
    if (options_.allCategories) {
        request.targets = AllCategoryTargets();
    }
    request.dryRun = options_.dryRun;
    request.transfer = options_.transfer;
    request.journal = options_.journal;
    return request;
}

std::vector<CategoryTarget> Form1::AllCategoryTargets() const {
    std::vector<CategoryTarget> targets;
    for (int i = 0; i < Combo1.ListCount(); ++i) {
        std::string folder = vars_.destdir;
        for (const auto& name : CategoryFolderNames(Combo1.List(i))) {
            folder.append(name).push_back(platform::kSeparator);
        }
        targets.push_back({Combo1.List(i), std::move(folder)});
    }
    return targets;
}

PassResult Form1::RunPass(const PassRequest& request) {
    const platform::FileText map = ReadCategoryMap(request.listMode);
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& system = request.dryRun ? dry.emplace(*system_) : *system_;
    const std::unique_ptr<RunJournal> journal = StartJournal(system, request);
    return RunPassOver(system, map.view(), request, journal.get());
}

// Only a move is journalled (a dry run's journal over a file system that keeps nothing):
// a copy or a link leaves every archive where it was.
std::unique_ptr<RunJournal> Form1::StartJournal(fs::FileSystem& system,
                                                const PassRequest& request) const {
    if (!request.journal || request.transfer != Transfer::Move) {
        return nullptr;
    }
    RunJournalText run;
    run.category = request.targets.empty() ? request.category : "--all";
    run.searchdir = request.searchdir;
    run.destdir = request.destdir;
    return std::make_unique<RunJournal>(system, std::move(run));
}

const PassResult& Form1::RunPassOver(fs::FileSystem& system, std::string_view mapText,
                                     const PassRequest& request, RunJournal* journal) {
    vars_.searchdir = request.searchdir;
    vars_.destdir = request.destdir;
    vars_.category = request.category;
    vars_.movedCount = 0;
    lastPass_ = PassResult{};
    {
        const ProgressSpan span(progress_);
        Pass pass(system, mapText, request, progress_);
        pass.SetJournal(journal);
        lastPass_ = pass.Run();
    }
    if (journal) {
        journal->Finish();
    }
    vars_.movedCount = lastPass_.moved;
    return lastPass_;
}

// Reads the map of `mode`. Throws when it cannot be read or has no header, so that a move
// can stop before it creates anything.
platform::FileText Form1::ReadCategoryMap(ListMode mode) const {
    const std::string path = CategoryMapPath(mode);
    platform::FileText text = ReadDataFile(path, "category map");
    const auto stopAtFirstEntry = [](const MapEntry&) { return false; };
    if (ScanCategoryMap(text.view(), stopAtFirstEntry) == MapScan::MissingHeader) {
        throw DataFileError("cannot read category map " + Quoted(path) +
                            ": it has fewer than three lines, and the first three are a header");
    }
    return text;
}

void Form1::getCats() {
    Guarded([this] { LoadCategories(); });
}

void Form1::LoadCategories() {
    const ShowWhenDone showAfterwards(Combo1);
    Combo1.Clear();
    const platform::FileText text = ReadDataFile(CategoryListPath(), "category list");
    ForEachCategory(text.view(),
                    [this](std::string_view field) { Combo1.AddItem(std::string(field)); });
}

void Form1::PickDirectoryInto(TextBox& field, std::string_view prompt) {
    const std::string folder =
        picker_ ? picker_->BrowseFolder(prompt, field.Text()) : std::string();
    if (!folder.empty()) {
        // Always appended, so a picked root ends in two separators; the move action
        // takes the field as it stands.
        field.SetText(folder + platform::kSeparator);
    }
}

void Form1::Command3_Click() {
    Guarded([this] { PickDirectoryInto(Start, "Please select your start directory."); });
}

void Form1::Command4_Click() {
    Guarded([this] { PickDirectoryInto(Endd, "Please select your destination directory."); });
}

void Form1::Form_Load() { getCats(); }

void Form1::Option1_Click() { getCats(); }

void Form1::Option2_Click() { getCats(); }

}  // namespace lorvex
