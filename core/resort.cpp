#include "resort.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "call_pool.h"
#include "category_map.h"
#include "dry_run_file_system.h"
#include "errors.h"
#include "folder_listing.h"
#include "move_job.h"
#include "pass_report.h"
#include "platform.h"
#include "run_history.h"
#include "run_journal.h"

namespace lorvex {
namespace {

using platform::kSeparator;

constexpr std::string_view kArchiveEnd = ".zip";
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Thrown from inside a listing to end it when progress asks to stop; every file system's
// List lets it through and closes what it opened.
struct WalkStops {};

bool IsArchiveName(std::string_view name) {
    return name.size() > kArchiveEnd.size() && name.ends_with(kArchiveEnd);
}

std::size_t LevelsOf(std::string_view path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), kSeparator));
}

std::string Files(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// The names of one folder's listing, by what they are to a re-sort.
struct Listed {
    std::vector<std::string> folders;
    std::vector<std::string> archives;
    std::vector<std::string> unsure;  // the listing could not tell what they are
    bool foreign = false;             // a file that is no archive
    bool leftovers = false;           // a temporary copy or a run's lock, maybe another's

    void Add(std::string_view name, fs::Kind kind, const fs::FileSystem& system) {
        if (name.starts_with('.')) {
            // Hidden: temporary copies, run locks, the system's own.
            leftovers = leftovers || (kind != fs::Kind::Directory &&
                                      (IsTemporaryCopyName(name, system) || IsRunLockName(name)));
            return;
        }
        if (kind == fs::Kind::Directory) {
            folders.emplace_back(name);
        } else if (kind == fs::Kind::Other || kind == fs::Kind::Unknown) {
            unsure.emplace_back(name);
        } else if (kind != fs::Kind::Missing && IsArchiveName(name)) {
            archives.emplace_back(name);
        } else {
            foreign = true;
        }
    }
};

// One folder of the tree as listed, and what was decided of it once the whole was.
struct Folder {
    std::string path;  // ending in a separator
    std::size_t parent = kNone;
    std::size_t depth = 0;
    std::vector<std::string> archives{};  // names ending in ".zip"
    // Holds files of its own, or folders deeper than any category's.
    bool foreign = false;
    std::size_t category = kNone;  // the category whose folder it is
    bool tree = false;             // the tree, a category's folder or one on the way to one
    bool own = false;              // holds the user's things, itself or below, not the tree's
    bool leftAlone = false;        // the user's folder, or inside one
};

class Planner {
public:
    Planner(fs::FileSystem& system, std::string_view map,
            const std::vector<CategoryTarget>& targets, const std::string& sorteddir,
            PassProgress* progress)
        : system_(system), map_(map), targets_(targets), tree_(sorteddir), progress_(progress) {}

    ResortPlan Run() {
        Walk();
        if (plan_.cancelled) {
            return std::move(plan_);
        }
        foldsCase_ = FoldsCase();
        IndexTargets();
        IndexMap();
        MarkFolders();
        for (std::size_t i = 1; i < folders_.size(); ++i) {
            DecideArchives(i);
        }
        Finish();
        return std::move(plan_);
    }

private:
    bool Continue(const std::string& folder) {
        return !progress_ || progress_->ContinuePass({0, 0, 0, 0, folder, true, listed_});
    }

    // One listing per folder, the tree's own first, down to the deepest category folder. On
    // a share each listing waits on the network: several folders are listed side by side.
    void Walk() {
        std::size_t deepest = 0;
        for (const auto& target : targets_) {
            deepest = std::max(deepest, LevelsOf(target.destdir) - LevelsOf(tree_));
        }
        folders_.push_back({tree_});
        plan_.cancelled = !Continue(tree_);
        std::optional<CallPool> pool;
        if (system_.IsRemote(tree_)) {
            pool.emplace(kCallsInFlightOnAShare);
        }
        for (std::size_t i = 0; i < folders_.size() && !plan_.cancelled;) {
            if (!pool) {
                Apply(i, Read(folders_[i].path, true), deepest);
                ++i;
                continue;
            }
            // A few at a time, so that progress, heard only here, can stop the walk.
            const std::size_t count = std::min(folders_.size() - i, 4 * pool->Threads());
            auto read =
                pool->Each(count, [&](std::size_t k) { return Read(folders_[i + k].path, false); });
            for (std::size_t k = 0; k < count; ++k) {
                listed_ += static_cast<std::int64_t>(read[k]->entries);
                Apply(i + k, std::move(*read[k]), deepest);
            }
            i += count;
            plan_.cancelled = plan_.cancelled || !Continue(folders_[i - 1].path);
        }
    }

    // A folder's listing; `report` tells progress as it goes (only on the caller's thread).
    struct Reading {
        Listed listed;
        fs::Outcome failure;
        std::size_t entries = 0;
        bool stopped = false;
    };
    Reading Read(const std::string& path, bool report) {
        Reading reading;
        try {
            reading.failure = system_.List(path, [&](const fs::Entry& entry) {
                ++reading.entries;
                if (report && ++listed_ % FolderListing::kReportEvery == 0 && !Continue(path)) {
                    throw WalkStops{};
                }
                reading.listed.Add(entry.name, entry.kind, system_);
            });
        } catch (const WalkStops&) {
            reading.stopped = true;
        }
        return reading;
    }

    void Apply(std::size_t index, Reading reading, std::size_t deepest) {
        const std::string path = folders_[index].path;
        Listed& listed = reading.listed;
        if (reading.stopped) {
            plan_.cancelled = true;
            return;
        }
        if (reading.failure) {
            Unreadable(index, reading.failure->reason);
            return;
        }
        // Rare: only a file system whose listing cannot tell the kinds needs a look-up.
        for (const auto& name : std::exchange(listed.unsure, {})) {
            listed.Add(name, system_.StatusOf(path + name).kind, system_);
        }
        listed.foreign = listed.foreign || !listed.unsure.empty();  // nothing a run moves
        const std::size_t depth = folders_[index].depth;
        if (!listed.leftovers) {
            plan_.withoutLeftovers.insert(path);
        }
        folders_[index].archives = std::move(listed.archives);
        folders_[index].foreign = listed.foreign || (depth >= deepest && !listed.folders.empty());
        if (depth < deepest) {
            for (const auto& name : listed.folders) {
                folders_.push_back({path + name + kSeparator, index, depth + 1});
            }
        }
    }

    // A folder that cannot be listed is left alone, and named; the tree's own stops the run.
    void Unreadable(std::size_t index, const std::string& reason) {
        if (index == 0) {
            throw LorvexError("cannot list directory " + Quoted(tree_) + ": " + reason +
                              " (nothing was done)");
        }
        plan_.unreadable.push_back(
            {Below(folders_[index].path),
             "the folder could not be listed (" + reason + "); its archives stay where they are"});
        folders_[index].foreign = true;
    }

    // Whether the file system finds a folder spelled in another case: asked once, of the
    // first folder whose name has a letter.
    bool FoldsCase() {
        for (std::size_t i = 1; i < folders_.size(); ++i) {
            const std::string& parent = folders_[folders_[i].parent].path;
            const std::string name = WithoutSeparator(folders_[i].path.substr(parent.size()));
            if (const std::string swapped = CaseSwapped(name); swapped != name) {
                return system_.SameFolder(parent + name, parent + swapped) == true;
            }
        }
        return false;
    }

    std::string Key(std::string_view path) const {
        return foldsCase_ ? Folded(path) : std::string(path);
    }

    std::string Below(const std::string& path) const { return path.substr(tree_.size()); }

    // Each category by its name and by its folder, and every folder on the way to one; the
    // first of a category listed twice wins.
    void IndexTargets() {
        for (std::size_t t = 0; t < targets_.size(); ++t) {
            targetOf_.emplace(targets_[t].category, t);
            std::string key = Key(targets_[t].destdir);
            for (auto at = key.find(kSeparator, tree_.size()); at != std::string::npos;
                 at = key.find(kSeparator, at + 1)) {
                treeFolders_.insert(key.substr(0, at + 1));
            }
            folderOf_.emplace(key, t);
            targetKeys_.push_back(std::move(key));
        }
    }

    // The first line naming an archive decides its category, as in --all.
    void IndexMap() {
        ScanCategoryMap(map_, [&](const MapEntry& entry) {
            if (platform::IsPlainFileName(entry.name)) {
                categoryOf_.emplace(entry.name, entry.category);
            }
            return true;
        });
    }

    std::optional<std::string_view> CategoryOf(std::string_view name) {
        if (const auto found = categoryOf_.find(name); found != categoryOf_.end()) {
            return found->second;
        }
        if (!foldsCase_ || !IsAscii(name)) {
            return std::nullopt;
        }
        if (foldedCategoryOf_.empty()) {
            ScanCategoryMap(map_, [&](const MapEntry& entry) {
                if (platform::IsPlainFileName(entry.name)) {
                    foldedCategoryOf_.emplace(Folded(entry.name), entry.category);
                }
                return true;
            });
        }
        const auto found = foldedCategoryOf_.find(Folded(name));
        return found == foldedCategoryOf_.end() ? std::nullopt : std::optional(found->second);
    }

    // Children come after their parents in the walk, so the user's things are known from
    // the deepest folders up, and what is left alone from the tree down.
    void MarkFolders() {
        for (std::size_t i = folders_.size(); i-- > 0;) {
            Folder& folder = folders_[i];
            const std::string key = Key(folder.path);
            if (const auto found = folderOf_.find(key); found != folderOf_.end() && i > 0) {
                folder.category = found->second;
                plan_.sortedTree = true;
            }
            folder.tree = i == 0 || treeFolders_.contains(key);
            folder.own = folder.own || folder.foreign;
            if (i > 0 && !folder.tree && folder.own) {
                folders_[folder.parent].own = true;  // a folder of the user's own
            }
        }
        for (std::size_t i = 1; i < folders_.size(); ++i) {
            Folder& folder = folders_[i];
            folder.leftAlone = folders_[folder.parent].leftAlone || (!folder.tree && folder.own);
        }
    }

    // A category's folder gives its archives to the map; any other only when it holds
    // nothing but archives (a category renamed or dropped), and only those the map lists.
    void DecideArchives(std::size_t index) {
        const Folder& folder = folders_[index];
        const bool categoryFolder = folder.category != kNone;
        const std::string folderKey = Key(folder.path);
        bool source = false;
        for (const auto& name : folder.archives) {
            const auto category = CategoryOf(std::string_view(name).substr(0, name.size() - 4));
            if (folder.leftAlone || (!categoryFolder && folder.own)) {
                if (category) {
                    NameOwnFolder(index);
                }
                continue;
            }
            if (!category) {
                if (categoryFolder) {
                    Stays(plan_.notInMap, folder.path + name, Below(folder.path + name));
                }
                continue;
            }
            const auto target = targetOf_.find(*category);
            if (target == targetOf_.end()) {
                Stays(plan_.notListed, folder.path + name,
                      Below(folder.path + name) + " (" + std::string(*category) + ")");
            } else if (targetKeys_[target->second] != folderKey) {
                plan_.moves.push_back({folder.path + name, target->second});
                source = true;
            }
        }
        if (source) {
            plan_.sources.push_back(folder.path);
        }
    }

    // Only an archive there to move is named; an empty one is nobody's concern.
    void Stays(std::vector<std::string>& list, const std::string& path, std::string text) {
        if (MeasureFile(system_, path) == FileState::Full) {
            list.push_back(std::move(text));
        }
    }

    // The outermost folder that is the user's, once.
    void NameOwnFolder(std::size_t index) {
        while (folders_[index].leftAlone && folders_[folders_[index].parent].leftAlone) {
            index = folders_[index].parent;
        }
        if (namedOwn_.insert(index).second) {
            plan_.ownFolders.push_back(WithoutSeparator(folders_[index].path));
        }
    }

    void Finish() {
        std::sort(plan_.moves.begin(), plan_.moves.end(),
                  [](const ListedArchive& a, const ListedArchive& b) { return a.path < b.path; });
        for (auto* names : {&plan_.notInMap, &plan_.notListed, &plan_.ownFolders}) {
            std::sort(names->begin(), names->end());
        }
    }

    fs::FileSystem& system_;
    std::string_view map_;
    const std::vector<CategoryTarget>& targets_;
    std::string tree_;
    PassProgress* progress_;
    ResortPlan plan_;
    std::vector<Folder> folders_;
    std::int64_t listed_ = 0;
    bool foldsCase_ = false;
    std::unordered_map<std::string_view, std::size_t> targetOf_;
    std::unordered_map<std::string, std::size_t> folderOf_;
    std::unordered_set<std::string> treeFolders_;
    std::vector<std::string> targetKeys_;
    std::unordered_map<std::string_view, std::string_view> categoryOf_;
    std::unordered_map<std::string, std::string_view> foldedCategoryOf_;
    std::set<std::size_t> namedOwn_;
};

void RequireSearchable(fs::FileSystem& system, const std::string& folder) {
    if (const auto failure = system.CheckAccess(folder, fs::Access::Search)) {
        throw LorvexError("cannot search directory " + Quoted(folder) + ": " + failure->reason);
    }
}

// Incoming archives inside the tree would be taken for the tree's, and the tree's for
// incoming ones.
void RequireOutside(fs::FileSystem& system, const std::string& incoming, const std::string& tree) {
    for (std::string at = system.Absolute(WithoutSeparator(incoming));;) {
        if (system.SameFolder(at, tree) == true) {
            throw LorvexError("the incoming folder " + Quoted(incoming) +
                              " is inside the sorted tree " + Quoted(tree) + " (nothing was done)");
        }
        const std::string up = FolderOf(at);
        if (up == at || up.find_first_of(platform::kSeparators) == std::string::npos) {
            return;
        }
        at = up;
    }
}

void AddCounts(std::vector<CategoryCount>& into, const std::vector<CategoryCount>& more) {
    for (const CategoryCount& count : more) {
        const auto same = std::find_if(into.begin(), into.end(), [&](const CategoryCount& c) {
            return c.category == count.category;
        });
        if (same == into.end()) {
            into.push_back(count);
        } else {
            same->moved += count.moved;
        }
    }
    std::stable_sort(into.begin(), into.end(), [](const CategoryCount& a, const CategoryCount& b) {
        return a.moved > b.moved;
    });
}

// The incoming archives' pass joins the re-sort's, as one run reports it.
void Merge(PassResult& into, PassResult more) {
    into.moved += more.moved;
    into.failed.insert(into.failed.end(), more.failed.begin(), more.failed.end());
    into.cancelled = into.cancelled || more.cancelled;
    into.planned.insert(into.planned.end(), more.planned.begin(), more.planned.end());
    AddCounts(into.perCategory, more.perCategory);
    into.leftoversRemoved += more.leftoversRemoved;
    into.leftoversKept.insert(into.leftoversKept.end(), more.leftoversKept.begin(),
                              more.leftoversKept.end());
    if (into.stopped.empty()) {
        into.stopped = more.stopped;
    }
}

// The folders the moves left and those above them, the deepest first, go when empty: the
// tree then looks as --all with the current map would have made it. Undo makes them again.
void RemoveEmptiedFolders(fs::FileSystem& system, const std::string& tree, ResortResult& result,
                          RunJournal* journal) {
    std::set<std::string> folders;
    for (const auto& source : result.plan.sources) {
        for (std::string at = WithoutSeparator(source); at.size() > tree.size();
             at = FolderOf(at)) {
            folders.insert(at);
        }
    }
    std::vector<std::string> deepestFirst(folders.begin(), folders.end());
    std::stable_sort(
        deepestFirst.begin(), deepestFirst.end(),
        [](const std::string& a, const std::string& b) { return LevelsOf(a) > LevelsOf(b); });
    for (const auto& folder : deepestFirst) {
        if (!system.RemoveFolder(folder)) {  // fails, as it should, where anything is left
            if (journal) {
                journal->FolderRemoved(folder);
            }
            result.foldersRemoved.push_back(folder);
        }
    }
}

std::unique_ptr<RunJournal> StartJournal(fs::FileSystem& system, const ResortRequest& request,
                                         const PassRequest& pass) {
    if (!request.journal) {
        return nullptr;
    }
    RunJournalText run;
    run.category = "--resort";
    run.searchdir = request.incoming.empty() ? pass.destdir : WithSeparator(request.incoming);
    run.destdir = pass.destdir;
    return std::make_unique<RunJournal>(system, std::move(run));
}

void AddNames(MoveReportText& report, const std::vector<std::string>& names, std::string_view why,
              std::size_t shown) {
    if (names.empty()) {
        return;
    }
    const std::string head =
        "\n" + Files(names.size()) +
        (names.size() == 1 ? " stays where it is, " : " stay where they are, ") + std::string(why) +
        ":";
    std::string lines;
    report.summary += head;
    for (std::size_t i = 0; i < names.size(); ++i) {
        lines += "\n  " + names[i];
        if (i < shown) {
            report.summary += "\n  " + names[i];
        }
    }
    if (names.size() > shown) {
        report.summary += "\n  ... and " + std::to_string(names.size() - shown) + " more";
    }
    report.full += head + lines;
    if (names.size() > shown) {
        report.details += (report.details.empty() ? head.substr(1) : head) + lines;
    }
}

}  // namespace

ResortPlan PlanResort(fs::FileSystem& system, std::string_view map,
                      const std::vector<CategoryTarget>& targets, const std::string& sorteddir,
                      PassProgress* progress) {
    return Planner(system, map, targets, sorteddir, progress).Run();
}

ResortResult Resort(fs::FileSystem& real, std::string_view map, const ResortRequest& request,
                    PassProgress* progress) {
    PassRequest pass{{}, WithSeparator(request.sorteddir), WithSeparator(request.sorteddir)};
    RequireSearchable(real, pass.destdir);
    if (!request.incoming.empty()) {
        RequireSearchable(real, WithSeparator(request.incoming));
        RequireOutside(real, request.incoming, pass.destdir);
    }
    if (request.categories.empty()) {
        throw LorvexError("the category list " + Quoted(request.listPath) +
                          " holds no category, so --resort has no folder to sort into");
    }
    // A dry run takes every step below over a file system that changes nothing.
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& system = request.dryRun ? dry.emplace(real) : real;
    pass.targets = TargetsOf(request.categories, pass.destdir);
    pass.dryRun = request.dryRun;
    pass.journal = request.journal;
    ResortResult result;
    result.pass.dryRun = request.dryRun;
    {
        const ProgressSpan span(progress);
        result.plan = PlanResort(system, map, pass.targets, pass.destdir, progress);
    }
    if (result.plan.cancelled) {
        result.pass.cancelled = true;
        return result;
    }
    if (!result.plan.sortedTree) {
        throw LorvexError(Quoted(pass.destdir) +
                          " is not a sorted tree: none of its folders is the folder of a category "
                          "of " +
                          Quoted(request.listPath) + ", as --all makes them (nothing was done)");
    }
    // The journal before anything is moved, so that an undo finds all of it.
    const std::unique_ptr<RunJournal> journal = StartJournal(system, request, pass);
    pass.listed = result.plan.moves;
    pass.withoutLeftovers = result.plan.withoutLeftovers;
    if (!pass.listed.empty()) {
        result.pass = RunPassOver(system, map, pass, journal.get(), progress, false);
    }
    result.pass.failed.insert(result.pass.failed.begin(), result.plan.unreadable.begin(),
                              result.plan.unreadable.end());
    if (!request.incoming.empty() && !result.pass.cancelled && result.pass.stopped.empty()) {
        pass.listed.clear();
        pass.searchdir = WithSeparator(request.incoming);
        Merge(result.pass, RunPassOver(system, map, pass, journal.get(), progress, false));
    }
    RemoveEmptiedFolders(system, pass.destdir, result, journal.get());
    if (journal) {
        journal->Finish();
    }
    result.pass.spaceEstimated = dry && dry->SpaceEstimated();
    return result;
}

MoveReportText ResortReportParts(const ResortResult& result, std::size_t shownNames) {
    MoveReportText report = MoveReportParts(result.pass, shownNames);
    AddNames(report, result.plan.notInMap, "no longer in the map", shownNames);
    AddNames(report, result.plan.notListed, "category not in your list", shownNames);
    std::string folders;
    for (const auto& folder : result.plan.ownFolders) {
        folders += "\nLeft alone, as it holds other files or folders of its own: " + Quoted(folder);
    }
    for (const auto& folder : result.foldersRemoved) {
        folders += result.pass.dryRun
                       ? "\nThe folder " + Quoted(folder) + " would be left empty and removed."
                       : "\nRemoved the folder " + Quoted(folder) + ", which the run left empty.";
    }
    report.full += folders;
    report.summary += folders;
    return report;
}

}  // namespace lorvex
