#include "pass.h"

#include <algorithm>
#include <utility>

#include "category_map.h"
#include "errors.h"
#include "run_history.h"

namespace lorvex {
namespace {

// The system's words for a name already taken, as a real move reports it.
constexpr std::string_view kNameTaken = "File exists";

// Something that is not a directory stands under `path`, or a directory does.
bool NameTaken(const std::string& path) {
    return platform::RegularFileLength(path).has_value() ||
           !platform::CheckSearchableDirectory(path);
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == platform::kSeparator) {
        path.pop_back();
    }
    return path;
}

}  // namespace

void RequireWritableDestination(const std::string& destdir) {
    if (const auto failure = platform::CheckWritableDirectory(destdir)) {
        throw LorvexError("cannot write to destination directory " + Quoted(destdir) + ": " +
                          failure->reason);
    }
}

FileState MeasureFile(const std::string& path, const platform::PassDirectories* directories) {
    const auto length = platform::RegularFileLength(path, directories);
    if (!length) {
        return FileState::Missing;
    }
    return *length > 0 ? FileState::Full : FileState::Empty;
}

namespace {

FileState StateOf(const std::optional<platform::MeasuredFile>& measured) {
    if (!measured) {
        return FileState::Missing;
    }
    return measured->length > 0 ? FileState::Full : FileState::Empty;
}

}  // namespace

Pass::Pass(std::string_view mapText, PassRequest request, PassProgress* progress)
    : mapText_(mapText), request_(std::move(request)), progress_(progress) {
    result_.dryRun = request_.dryRun;
    result_.transfer = request_.transfer;
    const std::size_t folders = std::max<std::size_t>(1, request_.targets.size());
    folderReady_.assign(folders, !SortsSeveral());
    folderFailures_.assign(folders, std::nullopt);
    movedPerTarget_.assign(folders, 0);
    folderUnwritable_.assign(folders, std::nullopt);
}

PassResult Pass::Run() {
    // A real run's destination is made before the pass; a dry run only tells whether it
    // could be, and counts it as made from then on.
    if (request_.dryRun) {
        if (const auto why = WouldMakeDirectory(request_.destdir)) {
            throw LorvexError("cannot create destination directory " + Quoted(request_.destdir) +
                              ": " + *why);
        }
        if (!plannedFolders_.contains(WithoutTrailingSeparators(request_.destdir))) {
            RequireWritableDestination(request_.destdir);
        }
    }
    CollectCandidates();
    // Moves across file systems complete in batches, so an archive counts, or is named as
    // not moved, when the mover reports it done; a cancelled pass still finishes its batch.
    const platform::PassDirectories directories(request_.searchdir, request_.destdir);
    platform::FileMover mover(
        [this](const std::string& from, const std::optional<platform::Failure>& failure) {
            RecordOutcome(from, failure);
        },
        &directories, request_.transfer, journal_);
    directories_ = &directories;
    mover_ = &mover;
    if (!SortsSeveral()) {
        RemoveLeftovers(request_.destdir);
    }
    for (const Candidate& candidate : candidates_) {
        if (!CheckCandidate(candidate)) {
            result_.cancelled = true;
            break;
        }
    }
    mover.Finish();
    mover_ = nullptr;
    directories_ = nullptr;
    SortPerCategory();
    return std::move(result_);
}

// One look through the map for the names to check, in map order, so that progress knows
// the total from the start. Over several categories each name comes once: the first line
// naming an archive decides where it goes. A name listed twice in one category comes twice
// to a move, which finds it gone (or in a dry run, already planned) the second time.
void Pass::CollectCandidates() {
    if (!SortsSeveral()) {
        // A copy or a link leaves its source, so there a name listed twice comes once.
        const bool keepsSources = request_.transfer != platform::Transfer::Move;
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

// Measures one archive and, when it is there and not empty, moves or plans it. False when
// progress asks the pass to stop there, before the archive is moved.
bool Pass::CheckCandidate(const Candidate& candidate) {
    sourcePath_.assign(request_.searchdir).append(candidate.name).append(kArchiveExtension);
    const auto measured = platform::MeasureRegularFile(sourcePath_, directories_);
    const bool present = StateOf(measured) == FileState::Full;
    ++checked_;
    if (progress_ && !progress_->ContinuePass(
                         {checked_, static_cast<std::int64_t>(candidates_.size()), result_.moved,
                          static_cast<std::int64_t>(result_.failed.size()), sourcePath_})) {
        return false;
    }
    if (!present) {
        return true;
    }
    archiveName_.assign(candidate.name).append(kArchiveExtension);
    if (const auto failure = PrepareFolder(candidate.target)) {
        result_.failed.push_back({archiveName_, *failure});
        return true;
    }
    targetPath_.assign(FolderOf(candidate.target)).append(archiveName_);
    MoveOrPlan(candidate.target, measured->facts);
    return true;
}

const std::string& Pass::FolderOf(std::size_t target) const {
    return SortsSeveral() ? request_.targets[target].destdir : request_.destdir;
}

// Starts the move of sourcePath_ to targetPath_, or in a dry run decides it.
void Pass::MoveOrPlan(std::size_t target, const platform::FileFacts& facts) {
    if (!request_.dryRun) {
        if (SortsSeveral()) {
            pendingTargets_[sourcePath_] = target;
        }
        mover_->Move(sourcePath_, targetPath_, &facts);
        return;
    }
    if (plannedAway_.contains(sourcePath_)) {
        return;  // listed twice: the real run finds it gone the second time
    }
    if (NameTaken(targetPath_)) {
        result_.failed.push_back({archiveName_, std::string(kNameTaken)});
        return;
    }
    if (const auto why = WhyMoveWouldFail(target)) {
        result_.failed.push_back({archiveName_, *why});
        return;
    }
    result_.planned.push_back({archiveName_, targetPath_});
    plannedAway_.insert(sourcePath_);
    CountMoved(target);
}

void Pass::RecordOutcome(const std::string& from, const std::optional<platform::Failure>& failure) {
    const auto target = pendingTargets_.empty() ? decltype(pendingTargets_)::node_type()
                                                : pendingTargets_.extract(from);
    if (failure) {
        result_.failed.push_back(
            {from.substr(from.find_last_of(platform::kSeparator) + 1), failure->reason});
        return;
    }
    CountMoved(target.empty() ? kOnlyTarget : target.mapped());
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
    for (auto end = folder.find(platform::kSeparator, from); end != std::string::npos;
         end = folder.find(platform::kSeparator, end + 1)) {
        const std::string level = folder.substr(0, end + 1);
        std::optional<std::string> why;
        if (request_.dryRun) {
            why = WouldMakeDirectory(level);
        } else {
            why = MakeFolder(level);
        }
        if (why) {
            folderFailures_[target] = "cannot create folder " + Quoted(level) + ": " + *why;
            return folderFailures_[target];
        }
    }
    folderReady_[target] = true;
    RemoveLeftovers(folder);
    return std::nullopt;
}

// Makes one folder, and tells the journal when this pass is what made it.
std::optional<std::string> Pass::MakeFolder(const std::string& path) {
    const bool existed = journal_ && !platform::CheckSearchableDirectory(path);
    if (const auto failure = platform::MakeDirectory(path)) {
        return failure->reason;
    }
    if (journal_ && !existed) {
        journal_->FolderCreated(path);
    }
    return std::nullopt;
}

// Removes what an interrupted earlier move left in a destination folder before this pass
// moves anything there; a dry run touches nothing.
void Pass::RemoveLeftovers(const std::string& folder) {
    if (!request_.dryRun) {
        result_.leftoversRemoved += platform::RemoveLeftoverCopies(folder);
    }
}

// Why a dry run's directory could not be made, as far as can be told without making it.
// A directory it would make counts as made for the rest of the run.
std::optional<std::string> Pass::WouldMakeDirectory(const std::string& path) {
    // Without its trailing separator, so that a file of that name is seen as a file.
    const std::string bare = WithoutTrailingSeparators(path);
    if (plannedFolders_.contains(bare) || !platform::CheckSearchableDirectory(bare)) {
        return std::nullopt;
    }
    // In the order mkdir finds them: the name's length, the parent, then the right to write.
    if (const auto failure = platform::CheckNameFits(bare)) {
        return failure->reason;
    }
    if (NameTaken(bare)) {
        return "a file is in the way";
    }
    const auto slash = bare.find_last_of(platform::kSeparator);
    const std::string parent = slash == std::string::npos ? "." : bare.substr(0, slash + 1);
    const std::string bareParent = parent.size() > 1 ? parent.substr(0, parent.size() - 1) : parent;
    if (!plannedFolders_.contains(bareParent)) {
        if (platform::CheckSearchableDirectory(parent)) {
            return "No such file or directory";
        }
        if (const auto failure = platform::CheckWritableDirectory(parent)) {
            return failure->reason;
        }
    }
    plannedFolders_.insert(bare);
    return std::nullopt;
}

// What a real move of sourcePath_ to targetPath_ would meet after the name check: a name
// too long for the destination, a source that cannot be removed, a folder that exists but
// takes nothing.
std::optional<std::string> Pass::WhyMoveWouldFail(std::size_t target) {
    if (const auto failure = platform::CheckNameFits(targetPath_)) {
        return failure->reason;
    }
    if (request_.transfer == platform::Transfer::Move) {
        if (const auto failure = platform::CheckRemovable(sourcePath_)) {
            return failure->reason;
        }
    }
    const std::string folder = WithoutTrailingSeparators(FolderOf(target));
    if (!folderUnwritable_[target] && !plannedFolders_.contains(folder)) {
        const auto failure = platform::CheckWritableDirectory(folder);
        folderUnwritable_[target] = failure ? failure->reason : std::string();
    }
    if (folderUnwritable_[target] && !folderUnwritable_[target]->empty()) {
        return folderUnwritable_[target];
    }
    if (request_.transfer == platform::Transfer::HardLink ||
        request_.transfer == platform::Transfer::SymbolicLink) {
        // A folder the dry run would make does not exist yet; its parent tells the same.
        std::string existing = folder;
        while (plannedFolders_.contains(existing)) {
            const auto separator = existing.find_last_of(platform::kSeparator);
            existing = separator == std::string::npos ? "." : existing.substr(0, separator);
        }
        if (const auto failure =
                platform::CheckLinkable(sourcePath_, existing, request_.transfer)) {
            return failure->reason;
        }
    }
    return std::nullopt;
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
