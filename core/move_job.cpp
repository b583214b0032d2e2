#include "move_job.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <utility>

#include "category_folder.h"
#include "category_list.h"
#include "category_map.h"
#include "data_files.h"
#include "dry_run_file_system.h"
#include "errors.h"
#include "parent_folder.h"
#include "run_history.h"
#include "run_journal.h"

namespace lorvex {

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

namespace {

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

// An id for a run without a journal, unique however many start at once and wherever.
std::string UnjournalledRunId() {
    static constexpr std::string_view kDigits = "0123456789abcdef";
    std::random_device random;
    std::string id = RunIdAt(std::chrono::system_clock::now()) + "-x";
    for (int i = 0; i < 8; ++i) {
        id += kDigits[random() % kDigits.size()];
    }
    return id;
}

}  // namespace

PassResult RunPassOver(fs::FileSystem& system, std::string_view map, PassRequest request,
                       RunJournal* journal, PassProgress* progress, bool finishJournal) {
    request.runTag = RunTag(journal ? journal->Id() : UnjournalledRunId());
    const RunLock lock(system, request.destdir + RunLockName(request.runTag));
    PassResult result;
    {
        const ProgressSpan span(progress);
        Pass pass(system, map, request, progress);
        pass.SetJournal(journal);
        result = pass.Run();
    }
    if (journal && finishJournal) {
        journal->Finish();
    }
    return result;
}

// Every move of the pass would fail without a destination, so stop before it starts. Its
// errors name the destination's field, for a window to give it the focus.
void CreateDestination(fs::FileSystem& system, const std::string& path) {
    if (const auto failure = system.MakeFolder(path)) {
        // Only the last folder is made; the system's "No such file or directory" or "Path
        // not found." would not say which folder above it is missing.
        std::string reason = failure->reason;
        const auto exists = [&](const std::string& folder) {
            return system.StatusOf(folder).kind != fs::Kind::Missing;
        };
        if (const std::string missing = HighestMissingParent(path, exists); !missing.empty()) {
            reason = "the directory " + Quoted(WithSeparator(missing)) + " does not exist";
        }
        throw FieldError("cannot create destination directory " + Quoted(path) + ": " + reason,
                         "Endd");
    }
    try {
        RequireWritableDestination(system, path);
    } catch (const LorvexError& error) {
        throw FieldError(error.what(), "Endd");
    }
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
    // The errors name the field to mend, for a window to give it the focus.
    if (const auto failure = system_.CheckAccess(pass_.searchdir, fs::Access::Search)) {
        throw FieldError(
            "cannot search directory " + Quoted(pass_.searchdir) + ": " + failure->reason, "Start");
    }
    // Every archive would be "already there", and the run would look like a failure of each.
    if (system_.SameFolder(pass_.searchdir, pass_.destdir) == true) {
        throw FieldError("the destination is the search directory " + Quoted(pass_.searchdir),
                         "Endd");
    }
    // Every category of an empty list is none at all: say so rather than move nothing.
    if (request_.allCategories && request_.categories.empty()) {
        throw LorvexError("the category list " +
                          Quoted(CategoryListPath(programDirectory_, pass_.listMode)) +
                          " holds no category, so --all has nothing to move");
    }
}

namespace {

// "12 KB", "3.4 MB": enough to compare two amounts of room.
std::string Amount(std::uint64_t bytes) {
    constexpr const char* kUnits[] = {"bytes", "KB", "MB", "GB", "TB"};
    double amount = static_cast<double>(bytes);
    std::size_t unit = 0;
    for (; amount >= 1024 && unit + 1 < std::size(kUnits); ++unit) {
        amount /= 1024;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 || amount >= 10 ? "%.0f %s" : "%.1f %s", amount,
                  kUnits[unit]);
    return text;
}

// A dry run cannot fill the state folder as the real run would: where the journal of its
// moves would not fit, it says so.
std::string JournalRoomWarning(fs::FileSystem& system, const PassResult& result,
                               const std::string& searchdir) {
    constexpr std::uint64_t kHeaderAndEnd = 1024;
    constexpr std::uint64_t kRecordBesidesPaths = 80;  // the key, size, time and mark
    std::uint64_t needed = kHeaderAndEnd;
    for (const PlannedMove& move : result.planned) {
        needed += move.target.size() + searchdir.size() + move.archive.size() + kRecordBesidesPaths;
    }
    const std::string runs = RunsDirectory();
    std::optional<fs::Space> space;
    for (std::string folder = runs; !space && !folder.empty(); folder = ParentFolder(folder)) {
        space = system.FreeSpace(folder);
    }
    if (!space || space->available >= needed) {
        return {};
    }
    return "The folder of the run journals " + Quoted(runs) + " has " + Amount(space->available) +
           " free, and this run's journal needs about " + Amount(needed) +
           ": the move would stop once it is full (--no-journal moves without one).";
}

}  // namespace

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
    if (dry && pass_.journal && pass_.transfer == Transfer::Move) {
        result.journalRoom = JournalRoomWarning(system_, result, pass_.searchdir);
    }
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
