// The state of the one window, Form1: its controls, its variables and every operation of
// the sorting core. The window bindings and the command line all work on this object.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <functional>
#include <optional>

#include "category_map.h"
#include "controls.h"
#include "interfaces.h"
#include "list_mode.h"
#include "platform.h"
#include "unique_names.h"

namespace lorvex {

struct EntryRow {
    std::string_view name;  // views into the map text of the current pass
    std::string_view category;
};

struct MoveFailure {
    std::string archive;  // file name, e.g. "album.zip"
    std::string reason;
};

// One category of a pass over several, and the directory its archives go to (ending in
// a separator; its parents below the pass's destination are made as needed).
struct CategoryTarget {
    std::string category;
    std::string destdir;
};

// What one sorting pass is asked to do. Directories end in a separator.
struct PassRequest {
    std::string category;
    std::string searchdir;
    std::string destdir;
    ListMode listMode = ListMode::Full;
    // When not empty, the pass sorts each of these categories into its own directory
    // instead of `category` into `destdir`, and the first map line naming an archive
    // decides where it goes.
    std::vector<CategoryTarget> targets{};
    bool dryRun = false;  // decide every move but make none, and create nothing
};

struct PlannedMove {
    std::string archive;  // file name, e.g. "album.zip"
    std::string target;   // full path it would be moved to
};

struct CategoryCount {
    std::string category;
    std::int64_t moved = 0;
};

struct PassResult {
    std::int64_t moved = 0;
    std::vector<MoveFailure> failed;  // archives found but not moved, with the reason
    bool cancelled = false;
    bool dryRun = false;
    std::vector<PlannedMove> planned;  // a dry run's moves, in map order
    // A pass over several categories: each that moved (or would move) something, the
    // largest count first.
    std::vector<CategoryCount> perCategory;
    // Temporary copies an interrupted earlier move had left in the destination folders,
    // removed before this pass moved anything there.
    std::size_t leftoversRemoved = 0;
};

// Ways to run the move action that only the command line offers.
struct MoveOptions {
    bool allCategories = false;  // every category of the list, each into its own folder
    bool dryRun = false;
};

// What a file measured by FileExists is; only Full has an archive to move.
enum class FileState { Missing = -1, Empty = 0, Full = 1 };

// The window's own variables, readable by everyone, written by Form1 alone.
struct Form1Variables {
    int check = 0;  // FileState of the last CheckForFile, as its number
    // The map's entries read by the last pass; a deque, so that a large map never needs a
    // second copy of the table while it grows.
    std::deque<EntryRow> entryTable;
    std::string lineBuf;  // work value of the pass, getCats and the folder pickers
    std::string token;    // the last category the pass read
    std::string searchdir;
    std::string destdir;
    std::string category;
    std::int64_t entryNo = 0;  // one past the number of the last entry line read
    std::size_t pos = 0;       // just past the "=" of the last entry line
    std::int64_t movedCount = 0;
};

class Form1 {
public:
    // The data files are read from `programDirectory`, given without a trailing separator.
    explicit Form1(std::string programDirectory);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void SetMessageSink(MessageSink* sink) { messages_ = sink; }
    void SetWindowView(WindowView* view) { view_ = view; }
    void SetFolderPicker(FolderPicker* picker) { picker_ = picker; }
    void SetPassProgress(PassProgress* progress) { progress_ = progress; }
    void SetMoveOptions(MoveOptions options) { options_ = options; }

    // Controls.
    ComboBox Combo1;
    OptionButton Option1;  // "Simple Lists"
    OptionButton Option2;  // "Full Lists"
    TextBox Start;         // search directory
    TextBox Endd;          // destination directory

    // The window.
    void Show();
    void Refresh();

    // Operations. An error in a handler goes to the message sink, never out of it.
    FileState FileExists(const std::string& strFile) const;
    void Command2_Click();
    void CheckForFile(const std::string& path, std::string_view file);
    void getCats();
    bool MoveFiles(const std::string& fromdir, const std::string& todir);
    void createFolder(const std::string& path);
    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Form_Load();
    void Option1_Click();
    void Option2_Click();

    // The sorting pass itself: reads the map of the request's list mode and moves every
    // present, non-empty archive of its category. Throws LorvexError when the map cannot
    // be read. Progress, if any, hears of each archive.
    PassResult RunPass(const PassRequest& request);

    const Form1Variables& Variables() const { return vars_; }
    const PassResult& LastPass() const { return lastPass_; }
    // True when the last handler stopped at an error (which went to the message sink).
    bool LastHandlerFailed() const { return lastHandlerFailed_; }

    const std::string& ProgramDirectory() const { return programDirectory_; }
    ListMode CurrentListMode() const;
    std::string CategoryListPath() const;
    std::string CategoryMapPath(ListMode mode) const;
    // The text of the message that ends a move: the count, then any failures.
    std::string MoveReport() const;
    // The same, with a summary naming at most `shownFailures` failures and the rest apart.
    MoveReportText MoveReportParts(std::size_t shownFailures = 5) const;

private:
    static constexpr std::string_view kArchiveExtension = ".zip";

    template <class Handler>
    void Guarded(const Handler& handler);
    void MoveAction();
    void LoadCategories();
    void PickDirectoryInto(TextBox& field, std::string_view prompt);
    void ReadCategoryMap(ListMode mode);
    bool MoveIfPresent(std::string_view name, std::int64_t& total);
    bool MoveOneArchive(std::int64_t total);
    void RecordFailure(const std::string& path, const platform::Failure& failure);
    void ScanMap(const std::function<bool(const MapEntry&)>& visit);
    void RunSingleCategoryPass();
    void RunMultiCategoryPass(const PassRequest& request);
    bool MoveToTarget(std::string_view name, std::size_t target, const PassRequest& request);
    std::optional<std::string> PrepareFolder(std::size_t target, const PassRequest& request);
    void RemoveLeftovers(const std::string& folder);
    std::optional<std::string> WouldMakeDirectory(const std::string& path);
    bool TargetTaken(const std::string& path) const;
    std::vector<CategoryTarget> AllCategoryTargets() const;
    std::string DryRunReport() const;
    void MoveOrPlan(std::optional<std::size_t> target);
    void RecordOutcome(const std::string& from, const std::optional<platform::Failure>& failure);
    void SortPerCategory(const PassRequest& request);

    Form1Variables vars_;
    PassResult lastPass_;
    bool lastHandlerFailed_ = false;
    int handlerDepth_ = 0;
    std::string programDirectory_;
    platform::FileText mapText_;  // the map read by the last pass; entryTable points into it
    bool mapPreloaded_ = false;   // the move action read the map before creating anything
    // The names of a one-category pass's archives, each once, counted before the first is
    // measured so that progress can tell how many there are; views into mapText_.
    UniqueNames candidates_;
    // Work buffers kept across archives, so that a pass allocates no strings per archive.
    std::string archiveName_;
    std::string checkedPath_;  // the name CheckForFile measured last
    std::string targetPath_;
    MessageSink* messages_ = nullptr;
    WindowView* view_ = nullptr;
    FolderPicker* picker_ = nullptr;
    PassProgress* progress_ = nullptr;
    MoveOptions options_;
    // State of a pass over several categories: each target's folder once made (or its
    // failure), the moves per target, and for a dry run what it would already have done.
    std::vector<std::optional<std::string>> folderFailures_;
    std::vector<bool> folderReady_;
    std::vector<std::int64_t> movedPerTarget_;
    std::unordered_set<std::string> plannedFolders_;
    std::unordered_set<std::string> plannedAway_;
    // The mover of the pass in progress, and the category of each archive it has in hand.
    platform::FileMover* mover_ = nullptr;
    const platform::PassDirectories* passDirectories_ = nullptr;
    std::unordered_map<std::string, std::size_t> pendingTargets_;
};

}  // namespace lorvex
