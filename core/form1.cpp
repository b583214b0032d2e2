#include "form1.h"

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
    const char* name = CurrentListMode() == ListMode::Simple ? "cats2.txt" : "cats.txt";
    return programDirectory_ + platform::kSeparator + name;
}

std::string Form1::CategoryMapPath() const {
    const char* name = CurrentListMode() == ListMode::Simple ? "lorvex2.ini" : "lorvex.ini";
    return programDirectory_ + platform::kSeparator + name;
}

int Form1::FileExists(const std::string& strFile) const {
    const auto length = platform::RegularFileLength(strFile);
    if (!length) {
        return -1;
    }
    return *length > 0 ? 1 : 0;
}

void Form1::CheckForFile(const std::string& path, std::string_view file) {
    checkedPath_.assign(path).append(file);
    check = FileExists(checkedPath_);
}

bool Form1::MoveFiles(const std::string& fromdir, const std::string& todir) {
    const auto failure = platform::MoveFileNoReplace(fromdir, todir);
    if (failure) {
        const auto slash = fromdir.find_last_of(platform::kSeparator);
        failedMoves.push_back({fromdir.substr(slash + 1), failure->reason});
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
    const std::string start = Start.Text();
    const std::string endd = Endd.Text();
    const int index = Combo1.ListIndex();
    if (endd.empty() || start.empty() || index < 0) {
        return;
    }
    Start.SetText(WithSeparator(start));
    searchdir = Start.Text();
    Endd.SetText(WithSeparator(endd));
    destdir = Endd.Text();
    // A search directory that cannot be searched would make every archive "not found"
    // and the move look like a success.
    if (const auto failure = platform::CheckSearchableDirectory(searchdir)) {
        throw LorvexError("cannot search directory " + Quoted(searchdir) + ": " + failure->reason);
    }
    createFolder(destdir);
    category = Combo1.List(index);
    Command1_Click();
    if (messages_) {
        messages_->ShowMessage(kTitle, MoveReport());
    }
}

bool Form1::MoveOneArchive(std::string_view name) {
    // A map entry must name a file inside the search directory, never a path elsewhere.
    if (!platform::IsPlainFileName(name)) {
        return true;
    }
    archiveName_.assign(name).append(kArchiveExtension);
    CheckForFile(searchdir, archiveName_);
    if (check != 1) {
        return true;
    }
    if (progress_ &&
        !progress_->ContinuePass(
            {movedCount, static_cast<std::int64_t>(failedMoves.size()), checkedPath_})) {
        passCancelled = true;
        return false;
    }
    targetPath_.assign(destdir).append(archiveName_);
    if (MoveFiles(checkedPath_, targetPath_)) {
        ++movedCount;
    }
    return true;
}

void Form1::Command1_Click() {
    movedCount = 0;
    failedMoves.clear();
    passCancelled = false;
    entryTable.clear();  // its rows point into the previous pass's map text
    const std::string path = CategoryMapPath();
    mapText_ = platform::ReadWholeFile(path, "category map");
    entryNo = 1;
    std::string_view lastLine;
    const MapScan scan = ScanCategoryMap(
        mapText_,
        [this](const MapEntry& entry) {
            entryNo = static_cast<std::int64_t>(entry.number);
            entryTable.push_back({entry.name, entry.category});
            return entry.category != category || MoveOneArchive(entry.name);
        },
        &lastLine);
    if (scan == MapScan::MissingHeader) {
        throw DataFileError("cannot read category map " + Quoted(path) +
                            ": it has fewer than three lines, and the first three are a header");
    }
    if (!entryTable.empty()) {
        ++entryNo;
        token = entryTable.back().category;
        pos = entryTable.back().name.size() + 2;
    }
    lineBuf = lastLine;
}

std::string Form1::MoveReport() const {
    std::string report =
        " " + std::to_string(movedCount) + " files were successfully found and moved!";
    if (passCancelled) {
        report += "\nThe move was cancelled; the remaining archives were left where they are.";
    }
    if (!failedMoves.empty()) {
        const auto count = failedMoves.size();
        report += "\n" + std::to_string(count) + (count == 1 ? " file" : " files") +
                  " could not be moved:";
        for (const auto& failure : failedMoves) {
            report += "\n" + failure.archive + ": " + failure.reason;
        }
    }
    return report;
}

void Form1::getCats() {
    ShowWhenDone showAfterwards(Combo1);
    Combo1.Clear();
    const std::string text = platform::ReadWholeFile(CategoryListPath(), "category list");
    ForEachCategory(text, [this](std::string_view field) {
        lineBuf = field;
        Combo1.AddItem(lineBuf);
    });
}

void Form1::PickDirectoryInto(TextBox& field, std::string_view prompt) {
    lineBuf = picker_ ? picker_->BrowseFolder(prompt) : std::string();
    if (!lineBuf.empty()) {
        // Always appended, so a picked root ends in two separators; the move action
        // takes the field as it stands.
        field.SetText(lineBuf + platform::kSeparator);
    }
}

void Form1::Command3_Click() { PickDirectoryInto(Start, "Please select your start directory."); }

void Form1::Command4_Click() {
    PickDirectoryInto(Endd, "Please select your destination directory.");
}

void Form1::Form_Load() { getCats(); }

void Form1::Option1_Click() { getCats(); }

void Form1::Option2_Click() { getCats(); }

}  // namespace lorvex
