#include "pass.h"

#include <algorithm>
#include <set>
#include <span>
#include <unordered_set>
#include <utility>

#include "category_map.h"
#include "errors.h"
#include "parent_folder.h"
#include "platform.h"
#include "run_history.h"

namespace lorvex {

void RequireWritableDestination(fs::FileSystem& system, const std::string& destdir) {
    if (const auto failure = system.CheckAccess(destdir, fs::Access::AddTo)) {
        throw LorvexError("cannot write to destination directory " + Quoted(destdir) + ": " +
                          failure->reason);
    }
}

void RequireLinkable(fs::FileSystem& system, const std::string& searchdir,
                     const std::string& destdir, Transfer transfer) {
    if (transfer != Transfer::HardLink && transfer != Transfer::SymbolicLink) {
        return;
    }
    // The destination may not exist yet: its nearest folder that does tells the same.
    std::string existing = destdir;
    while (system.StatusOf(existing).target != fs::Kind::Directory &&
           lorvex::FolderOf(existing) != existing) {
        existing = lorvex::FolderOf(existing);
    }
    const auto fail = [&](std::string_view why) {
        return LorvexError("cannot link into " + Quoted(destdir) + ": " + std::string(why) +
                           " (nothing was done)");
    };
    if (const auto system_ = system.WithoutLinks(existing)) {
        throw fail("the destination's file system (" + *system_ + ") has no links");
    }
    if (transfer == Transfer::HardLink && system.SameMount(searchdir, existing) == false) {
        throw fail(kHardLinkAcrossReason);
    }
}

std::string FolderFailure::Message() const {
    return "cannot create folder " + Quoted(folder) + ": " + reason;
}

std::optional<FolderFailure> MakeFolders(fs::FileSystem& system, const std::string& path,
                                         std::size_t from,
                                         const std::function<void(const std::string&)>& made,
                                         std::unordered_set<std::string>* there) {
    for (auto end = path.find(platform::kSeparator, from); end != std::string::npos;
         end = path.find(platform::kSeparator, end + 1)) {
        if (end == 0) {
            continue;  // the root
        }
        std::string level = path.substr(0, end + 1);
        if (there && there->contains(level)) {
            continue;  // on a share each level asked again is two round trips
        }
        const bool existed = system.StatusOf(level).target == fs::Kind::Directory;
        if (const auto failure = system.MakeFolder(level)) {
            return FolderFailure{level, failure->reason};
        }
        if (!existed && made) {
            made(level);
        }
        if (there) {
            there->insert(std::move(level));
        }
    }
    return std::nullopt;
}

FileState MeasureFile(fs::FileSystem& system, const std::string& path) {
    const fs::Status status = system.StatusOf(path);
    if (status.target != fs::Kind::File) {
        return FileState::Missing;
    }
    return status.targetSize > 0 ? FileState::Full : FileState::Empty;
}

Pass::Pass(fs::FileSystem& system, std::string_view mapText, PassRequest request,
           PassProgress* progress)
    : system_(system), mapText_(mapText), request_(std::move(request)), progress_(progress) {
    result_.dryRun = request_.dryRun;
    result_.transfer = request_.transfer;
    const std::size_t folders = std::max<std::size_t>(1, request_.targets.size());
    folderReady_.assign(folders, !SortsSeveral());
    folderFailures_.assign(folders, std::nullopt);
    movedPerTarget_.assign(folders, 0);
}

PassResult Pass::Run() {
    CollectCandidates();
    const std::string held[] = {request_.searchdir, request_.destdir};
    system_.HoldFolders(held);
    {
        // On a share each call waits a round trip, so several go at once there.
        std::optional<CallPool> pool;
        if (OnAShare()) {
            pool.emplace(kCallsInFlightOnAShare);
            pool_ = &*pool;
        }
        // Moves across mounts complete in batches, so an archive counts, or is named as not
        // moved, when the mover reports it done. A stopped pass finishes its batch in hand,
        // or on a share only the calls in flight.
        Mover mover(
            system_,
            [this](const std::string& from, const std::optional<std::string>& reason) {
                RecordOutcome(from, reason);
            },
            request_.transfer, journal_, request_.runTag, pool_);
        mover_ = &mover;
        if (!SortsSeveral()) {
            RemoveLeftovers(request_.destdir);
        }
        result_.cancelled = !ListSearchFolder();
        if (!result_.cancelled) {
            MakeFoldersAhead();
        }
        for (std::size_t i = 0; !result_.cancelled && i < candidates_.size(); ++i) {
            if (JournalFailed()) {
                break;
            }
            if (!CheckCandidate(i)) {
                result_.cancelled = true;
            }
        }
        if (result_.cancelled || JournalFailed()) {
            mover.Stop();
        } else {
            mover.Finish();
        }
        mover_ = nullptr;
        lookAhead_.clear();
        pool_ = nullptr;
        JournalFailed();
    }
    system_.ForgetFolders();
    RemoveEmptyFoldersMade();
    SortFailuresInMapOrder();
    SortPerCategory();
    return std::move(result_);
}

// Renames and copies report when their batch is done, after a failure found at once (a
// folder that cannot be made): the report names them as the names were checked.
void Pass::SortFailuresInMapOrder() {
    if (result_.failed.size() < 2) {
        return;
    }
    std::unordered_map<std::string_view, std::size_t> order;
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        order.emplace(candidates_[i].name, i);
    }
    const auto place = [&](const MoveFailure& failure) {
        std::string_view name = failure.archive;
        name.remove_suffix(name.ends_with(kArchiveExtension) ? kArchiveExtension.size() : 0);
        const auto found = order.find(name);
        return found == order.end() ? candidates_.size() : found->second;
    };
    std::stable_sort(
        result_.failed.begin(), result_.failed.end(),
        [&](const MoveFailure& a, const MoveFailure& b) { return place(a) < place(b); });
}

// One look through the map for the names to check, in map order, so that progress knows
// the total from the start. Over several categories each name comes once: the first line
// naming an archive decides where it goes. A name listed twice in one category comes twice
// to a move, which finds it gone the second time.
void Pass::CollectCandidates() {
    for (const ListedArchive& archive : request_.listed) {
        std::string_view name = NameOf(archive.path);
        name.remove_suffix(name.ends_with(kArchiveExtension) ? kArchiveExtension.size() : 0);
        candidates_.push_back({name, archive.target, archive.path});
    }
    if (!request_.listed.empty()) {
        return;
    }
    if (!SortsSeveral()) {
        // A copy or a link leaves its source, so there a name listed twice comes once.
        const bool keepsSources = request_.transfer != Transfer::Move;
        std::unordered_set<std::string_view> seen;
        ScanCategoryMap(mapText_, [&](const MapEntry& entry) {
            // A map entry must name a file inside the search directory, never a path elsewhere.
            if (entry.category == request_.category && platform::IsPlainFileName(entry.name) &&
                (!keepsSources || seen.insert(entry.name).second)) {
                candidates_.push_back({entry.name, kOnlyTarget});
            }
            return true;
        });
        return;
    }
    std::unordered_map<std::string_view, std::size_t> targetOf;
    for (std::size_t i = 0; i < request_.targets.size(); ++i) {
        targetOf.emplace(request_.targets[i].category, i);  // the first of duplicates wins
    }
    std::unordered_set<std::string_view> seen;
    ScanCategoryMap(mapText_, [&](const MapEntry& entry) {
        if (!platform::IsPlainFileName(entry.name) || !seen.insert(entry.name).second) {
            return true;
        }
        if (const auto target = targetOf.find(entry.category); target != targetOf.end()) {
            candidates_.push_back({entry.name, target->second});
        }
        return true;
    });
}

// One look at the search folder, so that only the names there are measured: on a share
// each look-up is a round trip, and most names of a map are not there. Progress hears of
// it from the start, as a slow share may take seconds to list. False when cancelled.
bool Pass::ListSearchFolder() {
    if (candidates_.empty() || !request_.listed.empty()) {
        return true;
    }
    const auto total = static_cast<std::int64_t>(candidates_.size());
    const auto listed = [&](std::int64_t names) {
        return !progress_ ||
               progress_->ContinuePass({0, total, 0, 0, request_.searchdir, true, names});
    };
    if (!listed(0)) {
        return false;
    }
    // Past this many names a listing costs more than looking up each name of the map.
    const std::int64_t mostNames = total * kNamesListedPerLookUp;
    listing_.emplace(system_, request_.searchdir, mostNames, listed);
    return !listing_->Cancelled();
}

bool Pass::OnAShare() {
    return system_.IsRemote(request_.searchdir) || system_.IsRemote(request_.destdir);
}

// Measures one archive and, when it is there and not empty, hands it to the mover. False
// when progress asks the pass to stop there, before the archive is moved.
bool Pass::CheckCandidate(std::size_t index) {
    const Candidate& candidate = candidates_[index];
    if (candidate.path.empty()) {
        sourcePath_.assign(request_.searchdir).append(candidate.name).append(kArchiveExtension);
    } else {
        sourcePath_.assign(candidate.path);
    }
    const auto answer =
        listing_ ? listing_->Find(std::string_view(sourcePath_).substr(request_.searchdir.size()))
                 : FolderListing::Answer::LookUp;
    const fs::Status status =
        answer == FolderListing::Answer::LookUp ? StatusOfCandidate(index) : fs::Status();
    const bool present = status.target == fs::Kind::File && status.targetSize > 0;
    ++checked_;
    if (progress_ && !progress_->ContinuePass(
                         {checked_, static_cast<std::int64_t>(candidates_.size()), result_.moved,
                          static_cast<std::int64_t>(result_.failed.size()), sourcePath_})) {
        return false;
    }
    if (!present) {
        return true;
    }
    if (const auto failure = PrepareFolder(candidate.target)) {
        result_.failed.push_back({std::string(candidate.name).append(kArchiveExtension), *failure});
        return true;
    }
    targetPath_.assign(FolderOf(candidate.target)).append(candidate.name).append(kArchiveExtension);
    if (SortsSeveral()) {
        pendingTargets_[sourcePath_] = candidate.target;
    }
    mover_->Move(sourcePath_, targetPath_, &status.facts);
    return true;
}

// On a share the folders of the categories the listing shows archives of are made before
// the first move, side by side, one level at a time; elsewhere, and for a level that
// fails, each is made as its first archive comes.
void Pass::MakeFoldersAhead() {
    if (!pool_ || !SortsSeveral()) {
        return;
    }
    std::vector<bool> wanted(request_.targets.size(), false);
    for (const Candidate& candidate : candidates_) {
        if (!wanted[candidate.target] &&
            (!listing_ || listing_->Find(std::string(candidate.name).append(kArchiveExtension)) ==
                              FolderListing::Answer::LookUp)) {
            wanted[candidate.target] = true;
        }
    }
    std::vector<std::vector<std::string>> levels;  // by depth below the destination
    std::unordered_set<std::string> seen;
    for (std::size_t target = 0; target < wanted.size(); ++target) {
        const std::string& folder = FolderOf(target);
        std::size_t depth = 0;
        for (auto end =
                 folder.find(platform::kSeparator,
                             folder.starts_with(request_.destdir) ? request_.destdir.size() : 0);
             wanted[target] && end != std::string::npos;
             end = folder.find(platform::kSeparator, end + 1), ++depth) {
            std::string level = folder.substr(0, end + 1);
            if (end > 0 && seen.insert(level).second) {
                levels.resize(std::max(levels.size(), depth + 1));
                levels[depth].push_back(std::move(level));
            }
        }
    }
    for (const auto& depth : levels) {
        const auto made = pool_->Each(depth.size(), [&](std::size_t i) {
            const bool existed = system_.StatusOf(depth[i]).target == fs::Kind::Directory;
            return std::pair{existed, system_.MakeFolder(depth[i]).has_value()};
        });
        for (std::size_t i = 0; i < depth.size(); ++i) {
            if (!made[i] || made[i]->second) {
                continue;  // made again, and reported, with its first archive
            }
            if (!made[i]->first) {
                foldersMade_.push_back(depth[i]);
                madeHere_.insert(depth[i]);
                if (journal_) {
                    journal_->FolderCreated(depth[i]);
                }
            }
            foldersThere_.insert(depth[i]);
        }
    }
}

// The status of the candidate at `index`, whose path is in sourcePath_. On a share the
// next names to look up are asked meanwhile, side by side.
fs::Status Pass::StatusOfCandidate(std::size_t index) {
    if (!pool_) {
        return system_.StatusOf(sourcePath_);
    }
    lookedAheadTo_ = std::max(lookedAheadTo_, index);
    while (lookAhead_.size() < pool_->Threads() && lookedAheadTo_ < candidates_.size()) {
        const std::size_t next = lookedAheadTo_++;
        const Candidate& candidate = candidates_[next];
        std::string path =
            candidate.path.empty()
                ? request_.searchdir + std::string(candidate.name) + std::string(kArchiveExtension)
                : std::string(candidate.path);
        const bool lookUp =
            !listing_ || listing_->Find(std::string_view(path).substr(request_.searchdir.size())) ==
                             FolderListing::Answer::LookUp;
        if (lookUp && askedAhead_.insert(path).second) {
            lookAhead_.emplace_back(next, pool_->Start([this, path = std::move(path)] {
                return system_.StatusOf(path);
            }));
        }
    }
    while (!lookAhead_.empty() && lookAhead_.front().first < index) {
        lookAhead_.pop_front();
    }
    if (lookAhead_.empty() || lookAhead_.front().first != index) {
        return system_.StatusOf(sourcePath_);
    }
    auto status = CallPool::Result(lookAhead_.front().second);
    lookAhead_.pop_front();
    return status ? *status : system_.StatusOf(sourcePath_);
}

const std::string& Pass::FolderOf(std::size_t target) const {
    return SortsSeveral() ? request_.targets[target].destdir : request_.destdir;
}

void Pass::RecordOutcome(const std::string& from, const std::optional<std::string>& reason) {
    const auto pending = pendingTargets_.empty() ? decltype(pendingTargets_)::node_type()
                                                 : pendingTargets_.extract(from);
    const std::string_view archive = NameOf(from);
    if (reason) {
        // An archive the journal could not record stays where it is, as one after a stop
        // does: the report names the stop once, not each of them.
        if (!JournalFailed() || *reason != result_.stopped) {
            result_.failed.push_back({std::string(archive), *reason});
        }
        return;
    }
    const std::size_t target = pending.empty() ? kOnlyTarget : pending.mapped();
    if (request_.dryRun) {
        result_.planned.push_back(
            {std::string(archive), std::string(FolderOf(target)).append(archive)});
    }
    CountMoved(target);
}

void Pass::CountMoved(std::size_t target) {
    ++result_.moved;
    ++movedPerTarget_[target];
}

// Makes the folders between the pass's destination and the target's, once per pass; a
// folder that cannot be made fails every archive of its category with the same reason.
std::optional<std::string> Pass::PrepareFolder(std::size_t target) {
    if (folderReady_[target] || folderFailures_[target]) {
        return folderFailures_[target];
    }
    const std::string& folder = request_.targets[target].destdir;
    const std::size_t from = folder.starts_with(request_.destdir) ? request_.destdir.size() : 0;
    const auto failure = MakeFolders(
        system_, folder, from,
        [&](const std::string& made) {
            foldersMade_.push_back(made);
            madeHere_.insert(made);
            if (journal_) {
                journal_->FolderCreated(made);
            }
        },
        &foldersThere_);
    if (failure) {
        folderFailures_[target] = failure->Message();
        return folderFailures_[target];
    }
    folderReady_[target] = true;
    // A folder this pass has just made holds nothing left by anyone.
    if (!madeHere_.contains(folder) && !request_.withoutLeftovers.contains(folder)) {
        RemoveLeftovers(folder);
    }
    return std::nullopt;
}

void Pass::RemoveLeftovers(const std::string& folder) {
    const Leftovers leftovers = lorvex::RemoveLeftovers(system_, folder, request_.runTag);
    result_.leftoversRemoved += leftovers.removed;
    if (leftovers.kept) {
        result_.leftoversKept.push_back(folder);
    }
}

namespace {

// Whether the run tagged `tag` still holds its lock, which it keeps in its destination:
// `folder` or one above it, named in `lock`. Nothing when no lock of that run is there.
std::optional<bool> RunStillGoing(fs::FileSystem& system, const std::string& folder,
                                  std::string_view tag, std::string& lock) {
    const std::string name = RunLockName(tag);
    for (std::string at = WithoutSeparator(folder);;) {
        lock = at + platform::kSeparator + name;
        if (const auto held = system.IsLocked(lock)) {
            return held;
        }
        lock.clear();
        const std::string up = lorvex::FolderOf(at);
        if (up == at || up == ".") {
            return std::nullopt;
        }
        at = up;
    }
}

}  // namespace

// A temporary copy of a run still going is that run's, and stays; where other machines
// reach the folder and their runs cannot be seen, neither is one whose run cannot be told
// to have ended.
Leftovers RemoveLeftovers(fs::FileSystem& system, const std::string& folder,
                          std::string_view ownTag) {
    std::vector<std::string> leftovers;
    std::set<std::string> deadLocks;
    system.List(folder, [&](const fs::Entry& entry) {
        // Only files: a folder of that name is nobody's copy.
        if (entry.kind != fs::Kind::Directory && IsTemporaryCopyName(entry.name, system)) {
            leftovers.emplace_back(entry.name);
        } else if (entry.kind != fs::Kind::Directory && IsRunLockName(entry.name)) {
            deadLocks.insert(folder + std::string(entry.name));  // if nobody holds it
        }
    });
    const bool remote = (!leftovers.empty() || !deadLocks.empty()) && system.IsRemote(folder);
    if (remote) {
        deadLocks.clear();  // another machine's run may hold it
    }
    std::erase_if(deadLocks, [&](const std::string& lock) {
        return system.IsLocked(lock) != false || lock.ends_with(RunLockName(ownTag));
    });
    Leftovers result;
    for (const auto& name : leftovers) {
        const std::string_view tag = RunTagOf(name);
        if (!tag.empty() && tag == ownTag) {
            continue;  // this run's own
        }
        std::string lock;
        if (!tag.empty() && RunStillGoing(system, folder, tag, lock) == true) {
            continue;
        }
        if (remote) {
            result.kept = true;
            continue;
        }
        if (!system.Remove(folder + name)) {
            ++result.removed;
        }
        if (!lock.empty()) {
            deadLocks.insert(lock);  // a run that ended without taking its lock away
        }
    }
    for (const auto& lock : deadLocks) {
        system.Remove(lock);
    }
    return result;
}

RunLock::RunLock(fs::FileSystem& system, std::string path)
    : system_(system), path_(std::move(path)) {
    // Another run may take a lock file for a dead run's between its making and its
    // locking, and remove it: then the lock is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (system_.Lock(path_, handle_)) {
            break;
        }
        if (system_.IsLocked(path_) == true) {
            return;
        }
        system_.Close(std::exchange(handle_, fs::kNoHandle));
    }
    path_.clear();
}

RunLock::~RunLock() {
    if (!path_.empty()) {
        system_.Remove(path_);  // while still held, so that nobody takes it for a dead run's
        system_.Close(handle_);
    }
}

// The category folders this pass made and then put nothing in go again, the deepest first.
void Pass::RemoveEmptyFoldersMade() {
    std::vector<std::string_view> filled;  // on a share each failing removal is a round trip
    for (std::size_t i = 0; i < request_.targets.size(); ++i) {
        if (movedPerTarget_[i] > 0) {
            filled.push_back(request_.targets[i].destdir);
        }
    }
    for (auto folder = foldersMade_.rbegin(); folder != foldersMade_.rend(); ++folder) {
        if (std::none_of(filled.begin(), filled.end(),
                         [&](std::string_view each) { return each.starts_with(*folder); })) {
            system_.RemoveFolder(*folder);  // fails, as it should, where anything is in it
        }
    }
}

// A journal that cannot be written stops the run where it is, as a request to stop does:
// what is moved from then on, undo would not find.
bool Pass::JournalFailed() {
    if (result_.stopped.empty() && journal_) {
        if (const auto failure = journal_->Failure()) {
            result_.stopped = *failure;
        }
    }
    return !result_.stopped.empty();
}

// Each category that moved something, largest first; known only once the mover is done.
void Pass::SortPerCategory() {
    for (std::size_t i = 0; i < request_.targets.size(); ++i) {
        if (movedPerTarget_[i] > 0) {
            result_.perCategory.push_back({request_.targets[i].category, movedPerTarget_[i]});
        }
    }
    std::stable_sort(
        result_.perCategory.begin(), result_.perCategory.end(),
        [](const CategoryCount& a, const CategoryCount& b) { return a.moved > b.moved; });
}

}  // namespace lorvex
