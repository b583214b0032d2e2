#include "form1.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "category_list.h"
#include "category_map.h"
#include "errors.h"
#include "platform.h"

namespace lorvex {
namespace {

constexpr std::string_view kTitle = "lorvex";
constexpr std::string_view kArchiveExtension = ".zip";

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

// A map entry must name a file inside the search directory, never a path elsewhere.
bool IsPlainFileName(std::string_view name) {
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '\0' || platform::IsSeparator(c); });
}

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
    const auto length = platform::RegularFileLength(strFile);
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
        const auto slash = fromdir.find_last_of(platform::kSeparator);
        lastPass_.failed.push_back({fromdir.substr(slash + 1), failure->reason});
    }
    return !failure;
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
    if (endd.empty() || start.empty() || index < 0) {
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
    // Nothing is created for a move that cannot run.
    ReadCategoryMap(CurrentListMode());
    createFolder(vars_.destdir);
    mapPreloaded_ = true;
    vars_.category = Combo1.List(index);
    {
        const ProgressSpan span(progress_);
        Command1_Click();
    }
    if (messages_) {
        messages_->ShowMoveReport(kTitle, MoveReportParts());
    }
}

// Adds a present, non-empty archive of the pass's category to the candidates.
void Form1::CollectCandidate(std::string_view name) {
    if (!IsPlainFileName(name)) {
        return;
    }
    archiveName_.assign(name).append(kArchiveExtension);
    CheckForFile(vars_.searchdir, archiveName_);
    if (vars_.check == static_cast<int>(FileState::Full)) {
        candidates_.push_back(name);
    }
}

bool Form1::MoveOneArchive(std::string_view name, std::int64_t total, PassResult& result) {
    archiveName_.assign(name).append(kArchiveExtension);
    checkedPath_.assign(vars_.searchdir).append(archiveName_);
    if (progress_ &&
        !progress_->ContinuePass(
            {result.moved, static_cast<std::int64_t>(result.failed.size()), checkedPath_, total})) {
        result.cancelled = true;
        return false;
    }
    targetPath_.assign(vars_.destdir).append(archiveName_);
    if (MoveFiles(checkedPath_, targetPath_)) {
        ++result.moved;
        vars_.movedCount = result.moved;
    }
    return true;
}

// Reads the map of `mode` for the next pass. Throws when it cannot be read or has no
// header, so that a move can stop before it creates anything.
void Form1::ReadCategoryMap(ListMode mode) {
    vars_.entryTable.clear();  // its rows point into the previous pass's map text
    candidates_.clear();
    const std::string path = CategoryMapPath(mode);
    mapText_ = platform::ReadWholeFile(path, "category map");
    const auto stopAtFirstEntry = [](const MapEntry&) { return false; };
    if (ScanCategoryMap(mapText_, stopAtFirstEntry) == MapScan::MissingHeader) {
        throw DataFileError("cannot read category map " + Quoted(path) +
                            ": it has fewer than three lines, and the first three are a header");
    }
}

// The map is scanned once, collecting the present archives, and only then are they moved:
// the total is known from the start without a second measuring of each archive (see
// docs/performance.md). An archive that goes away in between fails its move and is named.
PassResult Form1::RunPass(const PassRequest& request) {
    vars_.searchdir = request.searchdir;
    vars_.destdir = request.destdir;
    vars_.category = request.category;
    vars_.movedCount = 0;
    lastPass_ = PassResult{};
    if (!std::exchange(mapPreloaded_, false)) {
        ReadCategoryMap(request.listMode);
    }
    vars_.entryNo = 1;
    std::string_view lastLine;
    ScanCategoryMap(
        mapText_,
        [this](const MapEntry& entry) {
            vars_.entryNo = static_cast<std::int64_t>(entry.number);
            vars_.entryTable.push_back({entry.name, entry.category});
            if (entry.category == vars_.category) {
                CollectCandidate(entry.name);
            }
            return true;
        },
        &lastLine);
    if (!vars_.entryTable.empty()) {
        ++vars_.entryNo;
        vars_.token = vars_.entryTable.back().category;
        vars_.pos = vars_.entryTable.back().name.size() + 2;
    }
    vars_.lineBuf = lastLine;
    const auto total = static_cast<std::int64_t>(candidates_.size());
    for (const std::string_view name : candidates_) {
        if (!MoveOneArchive(name, total, lastPass_)) {
            break;
        }
    }
    return lastPass_;
}

void Form1::Command1_Click() {
    Guarded([this] {
        RunPass({vars_.category, vars_.searchdir, vars_.destdir, CurrentListMode()});
    });
}

std::string Form1::MoveReport() const { return MoveReportParts().full; }

MoveReportText Form1::MoveReportParts(std::size_t shownFailures) const {
    std::string head =
        " " + std::to_string(lastPass_.moved) + " files were successfully found and moved!";
    if (lastPass_.cancelled) {
        head += "\nThe move was cancelled; the remaining archives were left where they are.";
    }
    const auto& failed = lastPass_.failed;
    if (failed.empty()) {
        return {head, head, {}};
    }
    head += "\n" + std::to_string(failed.size()) + (failed.size() == 1 ? " file" : " files") +
            " could not be moved:";
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
    return report;
}

void Form1::getCats() {
    Guarded([this] { LoadCategories(); });
}

void Form1::LoadCategories() {
    const ShowWhenDone showAfterwards(Combo1);
    Combo1.Clear();
    const std::string text = platform::ReadWholeFile(CategoryListPath(), "category list");
    ForEachCategory(text, [this](std::string_view field) {
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
