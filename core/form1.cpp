#include "form1.h"

#include <exception>
#include <utility>

#include "category_folder.h"
#include "category_list.h"
#include "category_map.h"
#include "data_files.h"
#include "errors.h"
#include "move_job.h"
#include "parent_folder.h"
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
    return lorvex::CategoryListPath(programDirectory_, CurrentListMode());
}

std::string Form1::CategoryMapPath(ListMode mode) const {
    return lorvex::CategoryMapPath(programDirectory_, mode);
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
    vars_.category = options_.allCategories ? std::string() : Combo1.List(index);
    MoveJob job(*system_, programDirectory_, RequestFromVariables());
    Remember(job.Run(progress_));
    if (messages_) {
        messages_->ShowMoveReport(kTitle, MoveReportParts(lastPass_));
    }
}

void Form1::Command1_Click() {
    Guarded([this] {
        RunPass(MoveJob(*system_, programDirectory_, RequestFromVariables()).Request());
    });
}

MoveRequest Form1::RequestFromVariables() const {
    MoveRequest request;
    request.category = vars_.category;
    request.allCategories = options_.allCategories;
    if (options_.allCategories) {
        for (int i = 0; i < Combo1.ListCount(); ++i) {
            request.categories.push_back(Combo1.List(i));
        }
    }
    request.searchdir = vars_.searchdir;
    request.destdir = vars_.destdir;
    request.listMode = CurrentListMode();
    request.transfer = options_.transfer;
    request.dryRun = options_.dryRun;
    request.journal = options_.journal;
    return request;
}

PassResult Form1::RunPass(const PassRequest& request) {
    vars_.searchdir = request.searchdir;
    vars_.destdir = request.destdir;
    vars_.category = request.category;
    Remember(RunPassOf(*system_, programDirectory_, request, progress_));
    return lastPass_;
}

void Form1::Remember(PassResult result) {
    lastPass_ = std::move(result);
    vars_.movedCount = lastPass_.moved;
}

platform::FileText Form1::ReadCategoryMap(ListMode mode) const {
    return lorvex::ReadCategoryMap(programDirectory_, mode);
}

void Form1::getCats() {
    Guarded([this] { LoadCategories(); });
}

void Form1::LoadCategories() {
    const ShowWhenDone showAfterwards(Combo1);
    Combo1.Clear();
    for (auto& category : ReadCategoryList(programDirectory_, CurrentListMode())) {
        Combo1.AddItem(std::move(category));
    }
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
