#include "move_job.h"

#include <memory>
#include <utility>

#include "category_folder.h"
#include "category_list.h"
#include "category_map.h"
#include "data_files.h"
#include "dry_run_file_system.h"
#include "errors.h"
#include "run_history.h"

namespace lorvex {
namespace {

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

std::vector<CategoryTarget> TargetsOf(const std::vector<std::string>& categories,
                                      const std::string& destdir) {
    std::vector<CategoryTarget> targets;
    for (const auto& category : categories) {
        std::string folder = destdir;
        for (const auto& name : CategoryFolderNames(category)) {
            folder.append(name).push_back(platform::kSeparator);
        }
        targets.push_back({category, std::move(folder)});
    }
    return targets;
}

// Only a move is journalled (a dry run's journal over a file system that keeps nothing):
// a copy or a link leaves every archive where it was.
std::unique_ptr<RunJournal> StartJournal(fs::FileSystem& system, const PassRequest& request) {
    if (!request.journal || request.transfer != Transfer::Move) {
        return nullptr;
    }
    RunJournalText run;
    run.category = request.targets.empty() ? request.category : "--all";
    run.searchdir = request.searchdir;
    run.destdir = request.destdir;
    return std::make_unique<RunJournal>(system, std::move(run));
}

PassResult RunPassOver(fs::FileSystem& system, std::string_view map, const PassRequest& request,
                       RunJournal* journal, PassProgress* progress) {
    PassResult result;
    {
        const ProgressSpan span(progress);
        Pass pass(system, map, request, progress);
        pass.SetJournal(journal);
        result = pass.Run();
    }
    if (journal) {
        journal->Finish();
    }
    return result;
}

}  // namespace

// Every move of the pass would fail without a destination, so stop before it starts.
void CreateDestination(fs::FileSystem& system, const std::string& path) {
    if (const auto failure = system.MakeFolder(path)) {
        throw LorvexError("cannot create destination directory " + Quoted(path) + ": " +
                          failure->reason);
    }
    RequireWritableDestination(system, path);
}

std::string WithSeparator(const std::string& directory) {
    if (!directory.empty() && directory.back() == platform::kSeparator) {
        return directory;
    }
    return directory + platform::kSeparator;
}

std::string CategoryListPath(const std::string& programDirectory, ListMode mode) {
    return DataFilePath(programDirectory, DataFilesOf(mode).categoryList);
}

std::string CategoryMapPath(const std::string& programDirectory, ListMode mode) {
    return DataFilePath(programDirectory, DataFilesOf(mode).categoryMap);
}

platform::FileText ReadCategoryMap(const std::string& programDirectory, ListMode mode) {
    const std::string path = CategoryMapPath(programDirectory, mode);
    platform::FileText text = ReadDataFile(path, "category map");
    const auto stopAtFirstEntry = [](const MapEntry&) { return false; };
    if (ScanCategoryMap(text.view(), stopAtFirstEntry) == MapScan::MissingHeader) {
        throw DataFileError("cannot read category map " + Quoted(path) +
                            ": it has fewer than three lines, and the first three are a header");
    }
    return text;
}

std::vector<std::string> ReadCategoryList(const std::string& programDirectory, ListMode mode) {
    const platform::FileText text =
        ReadDataFile(CategoryListPath(programDirectory, mode), "category list");
    std::vector<std::string> categories;
    ForEachCategory(text.view(), [&](std::string_view field) { categories.emplace_back(field); });
    return categories;
}

MoveJob::MoveJob(fs::FileSystem& system, std::string programDirectory, MoveRequest request)
    : system_(system),
      programDirectory_(std::move(programDirectory)),
      request_(std::move(request)) {
    pass_.category = request_.allCategories ? std::string() : request_.category;
    pass_.searchdir = WithSeparator(request_.searchdir);
    pass_.destdir = WithSeparator(request_.destdir);
    pass_.listMode = request_.listMode;
    if (request_.allCategories) {
        pass_.targets = TargetsOf(request_.categories, pass_.destdir);
    }
    pass_.dryRun = request_.dryRun;
    pass_.transfer = request_.transfer;
    pass_.journal = request_.journal;
}

void MoveJob::Check() const {
    // A search directory that cannot be searched would make every archive "not found" and
    // the move look like a success.
    if (const auto failure = platform::CheckSearchableDirectory(pass_.searchdir)) {
        throw LorvexError("cannot search directory " + Quoted(pass_.searchdir) + ": " +
                          failure->reason);
    }
    // Every archive would be "already there", and the run would look like a failure of each.
    if (platform::IsSameDirectory(pass_.searchdir, pass_.destdir)) {
        throw LorvexError("the destination is the search directory " + Quoted(pass_.searchdir));
    }
    // Every category of an empty list is none at all: say so rather than move nothing.
    if (request_.allCategories && request_.categories.empty()) {
        throw LorvexError("the category list " +
                          Quoted(CategoryListPath(programDirectory_, pass_.listMode)) +
                          " holds no category, so --all has nothing to move");
    }
}

PassResult MoveJob::Run(PassProgress* progress) {
    Check();
    // Nothing is created for a move that cannot run.
    const platform::FileText map = ReadCategoryMap(programDirectory_, pass_.listMode);
    // A dry run takes every step below over a file system that changes nothing.
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& system = pass_.dryRun ? dry.emplace(system_) : system_;
    RequireLinkable(system, pass_.searchdir, pass_.destdir, pass_.transfer);
    // The journal before anything is made, so that an undo can remove what the run makes.
    const std::unique_ptr<RunJournal> journal = StartJournal(system, pass_);
    const bool existed = system.StatusOf(pass_.destdir).target == fs::Kind::Directory;
    try {
        CreateDestination(system, pass_.destdir);
    } catch (const LorvexError&) {
        if (journal) {
            journal->Finish();
        }
        throw;
    }
    if (journal && !existed) {
        journal->FolderCreated(pass_.destdir);
    }
    PassResult result = RunPassOver(system, map.view(), pass_, journal.get(), progress);
    result.spaceEstimated = dry && dry->SpaceEstimated();
    return result;
}

PassResult RunPassOf(fs::FileSystem& system, const std::string& programDirectory,
                     const PassRequest& request, PassProgress* progress) {
    const platform::FileText map = ReadCategoryMap(programDirectory, request.listMode);
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& used = request.dryRun ? dry.emplace(system) : system;
    const std::unique_ptr<RunJournal> journal = StartJournal(used, request);
    return RunPassOver(used, map.view(), request, journal.get(), progress);
}

}  // namespace lorvex
