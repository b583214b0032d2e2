#include "form1.h"

#include <exception>
#include <utility>

#include "category_list.h"
#include "category_map.h"
#include "errors.h"
#include "platform.h"

namespace lorvex {
namespace {

constexpr std::string_view kTitle = "lorvex";
// The system's words for a name already taken, as a real move reports it.
constexpr std::string_view kNameTaken = "File exists";

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

// Points a member at an object of the pass for as long as the pass runs.
template <class T>
class Lend {
public:
    Lend(T*& slot, T& value) : slot_(slot) { slot_ = &value; }
    Lend(const Lend&) = delete;
    Lend& operator=(const Lend&) = delete;
    ~Lend() { slot_ = nullptr; }

private:
    T*& slot_;
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
    return programDirectory_ + platform::kSeparator +
           std::string(DataFilesOf(CurrentListMode()).categoryList);
}

std::string Form1::CategoryMapPath(ListMode mode) const {
    return programDirectory_ + platform::kSeparator + std::string(DataFilesOf(mode).categoryMap);
}

FileState Form1::FileExists(const std::string& strFile) const {
    const auto length = platform::RegularFileLength(strFile, passDirectories_);
    if (!length) {
        return FileState::Missing;
    }
    return *length > 0 ? FileState::Full : FileState::Empty;
}

void Form1::CheckForFile(const std::string& path, std::string_view file) {
    checkedPath_.assign(path).append(file);
    vars_.check = static_cast<int>(FileExists(checkedPath_));
}

bool Form1::MoveFiles(const std::string& fromdir, const std::string& todir) {
    const auto failure = platform::MoveFileNoReplace(fromdir, todir);
    if (failure) {
        RecordFailure(fromdir, *failure);
    }
    return !failure;
}

// Names the archive at `path` as not moved, with the system's reason.
void Form1::RecordFailure(const std::string& path, const platform::Failure& failure) {
    lastPass_.failed.push_back(
        {path.substr(path.find_last_of(platform::kSeparator) + 1), failure.reason});
}

void Form1::createFolder(const std::string& path) {
    // Every move of the pass would fail without a destination, so stop before it starts.
    if (const auto failure = platform::MakeDirectory(path)) {
        throw LorvexError("cannot create destination directory " + Quoted(path) + ": " +
                          failure->reason);
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
        throw LorvexError("cannot search directory " + Quoted(vars_.searchdir) + ": " +
                          failure->reason);
    }
    // Every archive would be "already there", and the run would look like a failure of each.
    if (platform::IsSameDirectory(vars_.searchdir, vars_.destdir)) {
        throw LorvexError("the destination is the search directory " + Quoted(vars_.searchdir));
    }
    // Nothing is created for a move that cannot run.
    ReadCategoryMap(CurrentListMode());
    plannedFolders_.clear();
    if (!options_.dryRun) {
        createFolder(vars_.destdir);
    } else if (const auto why = WouldMakeDirectory(vars_.destdir)) {
        throw LorvexError("cannot create destination directory " + Quoted(vars_.destdir) + ": " +
                          *why);
    }
    vars_.category = options_.allCategories ? std::string() : Combo1.List(index);
    mapPreloaded_ = true;  // the pass scans the map just read
    {
        const ProgressSpan span(progress_);
        Command1_Click();
    }
    if (messages_) {
        messages_->ShowMoveReport(kTitle, MoveReportParts());
    }
}

// Measures one archive of the pass's category and, when it is there and not empty, moves
// it. `total` is the most there can still be to move; an archive found missing the first
// time its name comes up lowers it, so that it ends as the number actually tried.
bool Form1::MoveIfPresent(std::string_view name, std::int64_t& total) {
    // A map entry must name a file inside the search directory, never a path elsewhere.
    if (!platform::IsPlainFileName(name)) {
        return true;
    }
    const bool firstTime = total > 0 && candidates_.Visit(name);
    archiveName_.assign(name).append(kArchiveExtension);
    CheckForFile(vars_.searchdir, archiveName_);
    // A name listed twice is found gone the second time, or (in a dry run) already planned.
    if (vars_.check != static_cast<int>(FileState::Full) ||
        (lastPass_.dryRun && plannedAway_.contains(checkedPath_))) {
        total -= firstTime ? 1 : 0;
        return true;
    }
    return MoveOneArchive(total);
}

// Moves the archive CheckForFile has just found.
bool Form1::MoveOneArchive(std::int64_t total) {
    if (progress_ && !progress_->ContinuePass({lastPass_.moved,
                                               static_cast<std::int64_t>(lastPass_.failed.size()),
                                               checkedPath_, total})) {
        lastPass_.cancelled = true;
        return false;
    }
    targetPath_.assign(vars_.destdir).append(archiveName_);
    MoveOrPlan(std::nullopt);
    return true;
}

PassResult Form1::RunPass(const PassRequest& request) {
    vars_.searchdir = request.searchdir;
    vars_.destdir = request.destdir;
    vars_.category = request.category;
    vars_.movedCount = 0;
    lastPass_ = PassResult{};
    lastPass_.dryRun = request.dryRun;
    plannedAway_.clear();
    pendingTargets_.clear();
    // Moves across file systems complete in batches, so an archive counts, or is named as
    // not moved, when the mover reports it done; a cancelled pass still finishes its batch.
    const platform::PassDirectories directories(request.searchdir, request.destdir);
    const Lend lendDirectories(passDirectories_, directories);
    platform::FileMover mover(
        [this](const std::string& from, const std::optional<platform::Failure>& failure) {
            RecordOutcome(from, failure);
        },
        &directories);
    const Lend lendMover(mover_, mover);
    if (!std::exchange(mapPreloaded_, false)) {
        ReadCategoryMap(request.listMode);
    }
    if (request.targets.empty()) {
        RemoveLeftovers(request.destdir);
        RunSingleCategoryPass();
    } else {
        RunMultiCategoryPass(request);
    }
    mover.Finish();
    SortPerCategory(request);
    return lastPass_;
}

// Removes what an interrupted earlier move left in a destination folder before this pass
// moves anything there; a dry run touches nothing.
void Form1::RemoveLeftovers(const std::string& folder) {
    if (!lastPass_.dryRun) {
        lastPass_.leftoversRemoved += platform::RemoveLeftoverCopies(folder);
    }
}

void Form1::RecordOutcome(const std::string& from,
                          const std::optional<platform::Failure>& failure) {
    // Only a pass over several categories has targets to credit.
    const auto target = pendingTargets_.empty() ? decltype(pendingTargets_)::node_type()
                                                : pendingTargets_.extract(from);
    if (failure) {
        RecordFailure(from, *failure);
        return;
    }
    ++lastPass_.moved;
    vars_.movedCount = lastPass_.moved;
    if (!target.empty()) {
        ++movedPerTarget_[target.mapped()];
    }
}

// One scan of the map for the chosen category; a name listed twice is found gone (or on
// its way) the second time, so it is moved and counted once.
void Form1::RunSingleCategoryPass() {
    // For a progress that shows "N of M", first the names of the category, each once,
    // before any is measured: the most there can be to move. Each archive is then measured
    // and moved in one go, while the file system still has it at hand.
    candidates_.Clear();
    if (progress_ && progress_->ShowsTotal()) {
        ScanCategoryMap(mapText_.view(), [this](const MapEntry& entry) {
            if (entry.category == vars_.category && platform::IsPlainFileName(entry.name)) {
                candidates_.Add(entry.name);
            }
            return true;
        });
    }
    auto total = static_cast<std::int64_t>(candidates_.Names().size());
    ScanMap([this, &total](const MapEntry& entry) {
        return entry.category != vars_.category || MoveIfPresent(entry.name, total);
    });
}

// Reads the map of `mode` for the next pass. Throws when it cannot be read or has no
// header, so that a move can stop before it creates anything.
void Form1::ReadCategoryMap(ListMode mode) {
    vars_.entryTable.clear();  // its rows point into the previous pass's map text
    const std::string path = CategoryMapPath(mode);
    mapText_ = platform::ReadWholeFile(path, "category map");
    const auto stopAtFirstEntry = [](const MapEntry&) { return false; };
    if (ScanCategoryMap(mapText_.view(), stopAtFirstEntry) == MapScan::MissingHeader) {
        throw DataFileError("cannot read category map " + Quoted(path) +
                            ": it has fewer than three lines, and the first three are a header");
    }
}

void Form1::ScanMap(const std::function<bool(const MapEntry&)>& visit) {
    vars_.entryNo = 1;
    std::string_view lastLine;
    ScanCategoryMap(
        mapText_.view(),
        [this, &visit](const MapEntry& entry) {
            vars_.entryNo = static_cast<std::int64_t>(entry.number);
            vars_.entryTable.push_back({entry.name, entry.category});
            return visit(entry);
        },
        &lastLine);
    if (!vars_.entryTable.empty()) {
        ++vars_.entryNo;
        vars_.token = vars_.entryTable.back().category;
        vars_.pos = vars_.entryTable.back().name.size() + 2;
    }
    vars_.lineBuf = lastLine;
}

// Starts the move of checkedPath_ to targetPath_, or in a dry run decides it; `target` is
// the category's place in a pass over several.
void Form1::MoveOrPlan(std::optional<std::size_t> target) {
    if (!lastPass_.dryRun) {
        if (target) {
            pendingTargets_[checkedPath_] = *target;
        }
        mover_->Move(checkedPath_, targetPath_);
        return;
    }
    if (TargetTaken(targetPath_)) {
        lastPass_.failed.push_back({archiveName_, std::string(kNameTaken)});
        return;
    }
    lastPass_.planned.push_back({archiveName_, targetPath_});
    plannedAway_.insert(checkedPath_);
    ++lastPass_.moved;
    vars_.movedCount = lastPass_.moved;
    if (target) {
        ++movedPerTarget_[*target];
    }
}

bool Form1::TargetTaken(const std::string& path) const {
    return platform::RegularFileLength(path).has_value() ||
           !platform::CheckSearchableDirectory(path);
}

void Form1::Command1_Click() {
    Guarded([this] {
        PassRequest request;
        request.category = vars_.category;
        request.searchdir = vars_.searchdir;
        request.destdir = vars_.destdir;
        request.listMode = CurrentListMode();
        if (options_.allCategories) {
            request.targets = AllCategoryTargets();
        }
        request.dryRun = options_.dryRun;
        RunPass(request);
    });
}

std::string Form1::MoveReport() const { return MoveReportParts().full; }

MoveReportText Form1::MoveReportParts(std::size_t shownFailures) const {
    if (lastPass_.dryRun) {
        const std::string report = DryRunReport();
        return {report, report, {}};
    }
    std::string head =
        " " + std::to_string(lastPass_.moved) + " files were successfully found and moved!";
    if (lastPass_.cancelled) {
        head += "\nThe move was cancelled; the remaining archives were left where they are.";
    }
    if (const auto removed = lastPass_.leftoversRemoved; removed > 0) {
        head += "\nRemoved " + std::to_string(removed) +
                (removed == 1 ? " temporary copy" : " temporary copies") +
                " left in the destination by an interrupted earlier move.";
    }
    const auto& failed = lastPass_.failed;
    if (!failed.empty()) {
        head += "\n" + std::to_string(failed.size()) + (failed.size() == 1 ? " file" : " files") +
                " could not be moved:";
    }
    MoveReportText report{head, head, {}};
    for (std::size_t i = 0; i < failed.size(); ++i) {
        const std::string line = failed[i].archive + ": " + failed[i].reason;
        report.full += "\n" + line;
        if (i < shownFailures) {
            report.summary += "\n" + line;
        }
        report.details += (i == 0 ? "" : "\n") + line;
    }
    if (failed.size() > shownFailures) {
        report.summary += "\n... and " + std::to_string(failed.size() - shownFailures) + " more";
    } else {
        report.details.clear();  // the summary already names every failure
    }
    for (const auto& [category, moved] : lastPass_.perCategory) {
        const std::string line = "\n" + category + ": " + std::to_string(moved);
        report.full += line;
        report.summary += line;
    }
    return report;
}

void Form1::getCats() {
    Guarded([this] { LoadCategories(); });
}

void Form1::LoadCategories() {
    const ShowWhenDone showAfterwards(Combo1);
    Combo1.Clear();
    const platform::FileText text = platform::ReadWholeFile(CategoryListPath(), "category list");
    ForEachCategory(text.view(), [this](std::string_view field) {
        vars_.lineBuf = field;
        Combo1.AddItem(vars_.lineBuf);
    });
}

void Form1::PickDirectoryInto(TextBox& field, std::string_view prompt) {
    vars_.lineBuf = picker_ ? picker_->BrowseFolder(prompt, field.Text()) : std::string();
    if (!vars_.lineBuf.empty()) {
        // Always appended, so a picked root ends in two separators; the move action
        // takes the field as it stands.
        field.SetText(vars_.lineBuf + platform::kSeparator);
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
