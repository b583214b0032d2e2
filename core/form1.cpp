#include "form1.h"

#include <exception>
#include <utility>

#include "category_folder.h"
#include "category_list.h"
#include "category_map.h"
#include "data_files.h"
#include "errors.h"
#include "parent_folder.h"
#include "pass_report.h"
#include "platform.h"

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

Form1::Form1(std::string programDirectory) : programDirectory_(std::move(programDirectory)) {
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
    controlToFix_ = {};
    try {
        handler();
    } catch (const std::exception& error) {
        lastHandlerFailed_ = true;
        if (const auto* field = dynamic_cast<const FieldError*>(&error)) {
            controlToFix_ = field->Control();
        }
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

FileState Form1::FileExists(const std::string& strFile) const { return MeasureFile(strFile); }

FileState Form1::CheckForFile(const std::string& path, std::string_view file) const {
    return FileExists(path + std::string(file));
}

bool Form1::MoveFiles(const std::string& fromdir, const std::string& todir) {
    const auto failure = platform::MoveFileNoReplace(fromdir, todir);
    if (failure) {
        lastPass_.failed.push_back(
            {fromdir.substr(fromdir.find_last_of(platform::kSeparator) + 1), failure->reason});
    }
    return !failure;
}

void Form1::createFolder(const std::string& path) {
    // Every move of the pass would fail without a destination, so stop before it starts.
    if (const auto failure = platform::MakeDirectory(path)) {
        // Only the last folder is made; the system's "Path not found." would not say which
        // folder above it is missing.
        std::string reason = failure->reason;
        if (const std::string missing = HighestMissingParent(path, &platform::EntryExists);
            !missing.empty()) {
            reason = "the directory " + Quoted(WithSeparator(missing)) + " does not exist";
        }
        throw FieldError("cannot create destination directory " + Quoted(path) + ": " + reason,
                         "Endd");
    }
    try {
        RequireWritableDestination(path);
    } catch (const LorvexError& error) {
        throw FieldError(error.what(), "Endd");
    }
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
        throw FieldError(
            "cannot search directory " + Quoted(vars_.searchdir) + ": " + failure->reason, "Start");
    }
    // Every archive would be "already there", and the run would look like a failure of each.
    if (platform::IsSameDirectory(vars_.searchdir, vars_.destdir)) {
        throw FieldError("the destination is the search directory " + Quoted(vars_.searchdir),
                         "Endd");
    }
    // Nothing is created for a move that cannot run.
    const platform::FileText map = ReadCategoryMap(CurrentListMode());
    vars_.category = options_.allCategories ? std::string() : Combo1.List(index);
    const PassRequest request = RequestFromVariables();
    // The journal before anything is made, so that an undo can remove what the run makes.
    const std::unique_ptr<RunJournal> journal = StartJournal(request);
    if (!options_.dryRun) {
        const bool existed = !platform::CheckSearchableDirectory(vars_.destdir);
        try {
            createFolder(vars_.destdir);
        } catch (const LorvexError&) {
            if (journal) {
                journal->Finish();
            }
            throw;
        }
        if (journal && !existed) {
            journal->FolderCreated(vars_.destdir);
        }
    }
    const PassResult& pass = RunPassOver(map.view(), request, journal.get());
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
    const std::unique_ptr<RunJournal> journal = StartJournal(request);
    return RunPassOver(map.view(), request, journal.get());
}

// Only a real move is journalled: a copy or a link leaves every archive where it was.
std::unique_ptr<RunJournal> Form1::StartJournal(const PassRequest& request) const {
    if (!request.journal || request.dryRun || request.transfer != platform::Transfer::Move) {
        return nullptr;
    }
    RunJournalText run;
    run.category = request.targets.empty() ? request.category : "--all";
    run.searchdir = request.searchdir;
    run.destdir = request.destdir;
    return std::make_unique<RunJournal>(std::move(run));
}

const PassResult& Form1::RunPassOver(std::string_view mapText, const PassRequest& request,
                                     RunJournal* journal) {
    vars_.searchdir = request.searchdir;
    vars_.destdir = request.destdir;
    vars_.category = request.category;
    vars_.movedCount = 0;
    lastPass_ = PassResult{};
    {
        const ProgressSpan span(progress_);
        Pass pass(mapText, request, progress_);
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
    platform::FileText text = platform::ReadWholeFile(path, "category map");
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
    const platform::FileText text = platform::ReadWholeFile(CategoryListPath(), "category list");
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
