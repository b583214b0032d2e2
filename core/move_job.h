// One move as a user asks for it, from the window's Move Files! or from the command line
// (the benchmark runs it too): the checks before anything is made, the map read, the
// journal started, the destination made, and one pass. A dry run takes every step over a
// file system that changes nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "file_system.h"
#include "interfaces.h"
#include "list_mode.h"
#include "parent_folder.h"
#include "pass.h"
#include "platform.h"

namespace lorvex {

class RunJournal;

struct MoveRequest {
    std::string category;  // unused with allCategories
    bool allCategories = false;
    // The category list, each into its own folder, with allCategories.
    std::vector<std::string> categories{};
    std::string searchdir{};  // a separator is appended when it has none
    std::string destdir{};
    ListMode listMode = ListMode::Full;
    Transfer transfer = Transfer::Move;
    bool dryRun = false;
    bool journal = true;  // a move writes the journal that --runs lists and --undo reads
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

// Each category's folder under `destdir`, as --all sorts them: "Music / Jazz" into
// destdir/Music/Jazz/.
std::vector<CategoryTarget> TargetsOf(const std::vector<std::string>& categories,
                                      const std::string& destdir);

// One pass with the run's lock held in its destination, progress told of its start and
// end, and its journal (may be null) finished unless a later step of the run still writes.
PassResult RunPassOver(fs::FileSystem& system, std::string_view map, PassRequest request,
                       RunJournal* journal, PassProgress* progress, bool finishJournal = true);

// Where the data files of `mode` are read from, and their text. Reading throws
// DataFileError naming the file and the reason; a map without its header too.
std::string CategoryListPath(const std::string& programDirectory, ListMode mode);
std::string CategoryMapPath(const std::string& programDirectory, ListMode mode);
platform::FileText ReadCategoryMap(const std::string& programDirectory, ListMode mode);
std::vector<std::string> ReadCategoryList(const std::string& programDirectory, ListMode mode);

// Makes the destination folder `path` (its parent must be there) and checks that archives
// can be put in it. Throws LorvexError when not.
void CreateDestination(fs::FileSystem& system, const std::string& path);

class MoveJob {
public:
    MoveJob(fs::FileSystem& system, std::string programDirectory, MoveRequest request);
    MoveJob(const MoveJob&) = delete;
    MoveJob& operator=(const MoveJob&) = delete;

    // Throws LorvexError, before anything is made, when the move cannot run. `progress`
    // (may be null) hears of the pass from its start to its end, however it ends.
    PassResult Run(PassProgress* progress);

    // What the pass is asked, the folders with their separators.
    const PassRequest& Request() const { return pass_; }

private:
    void Check() const;

    fs::FileSystem& system_;
    std::string programDirectory_;
    MoveRequest request_;
    PassRequest pass_;
};

// The pass of `request` over the map of its list mode, with the run's journal where a move
// asks for one, and nothing checked before: the window's Command1 and the benchmark.
PassResult RunPassOf(fs::FileSystem& system, const std::string& programDirectory,
                     const PassRequest& request, PassProgress* progress);

}  // namespace lorvex
