// The passes only the command line offers: every category into its own folder (--all),
// and a dry run that decides every move and makes none (--dry-run).
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "category_folder.h"
#include "errors.h"
#include "form1.h"
#include "platform.h"

namespace lorvex {

// One scan of the map for every category: an archive goes where the first line naming it
// says, so a name listed under two categories is moved (or tried) once.
void Form1::RunMultiCategoryPass(const PassRequest& request) {
    const auto count = request.targets.size();
    folderFailures_.assign(count, std::nullopt);
    folderReady_.assign(count, false);
    movedPerTarget_.assign(count, 0);
    std::unordered_map<std::string_view, std::size_t> targetOf;
    for (std::size_t i = 0; i < count; ++i) {
        targetOf.emplace(request.targets[i].category, i);  // the first of duplicates wins
    }
    std::unordered_set<std::string_view> decided;  // views into the map text
    ScanMap([&](const MapEntry& entry) {
        if (!platform::IsPlainFileName(entry.name) || !decided.insert(entry.name).second) {
            return true;
        }
        const auto target = targetOf.find(entry.category);
        return target == targetOf.end() || MoveToTarget(entry.name, target->second, request);
    });
}

// Each category that moved something, largest first; known only once the mover is done.
void Form1::SortPerCategory(const PassRequest& request) {
    for (std::size_t i = 0; i < request.targets.size(); ++i) {
        if (movedPerTarget_[i] > 0) {
            lastPass_.perCategory.push_back({request.targets[i].category, movedPerTarget_[i]});
        }
    }
    std::stable_sort(
        lastPass_.perCategory.begin(), lastPass_.perCategory.end(),
        [](const CategoryCount& a, const CategoryCount& b) { return a.moved > b.moved; });
}

bool Form1::MoveToTarget(std::string_view name, std::size_t target, const PassRequest& request) {
    archiveName_.assign(name).append(kArchiveExtension);
    CheckForFile(request.searchdir, archiveName_);
    if (vars_.check != static_cast<int>(FileState::Full)) {
        return true;
    }
    // The total is not known here: the folders' archives are found as the scan goes.
    if (progress_ && !progress_->ContinuePass({lastPass_.moved,
                                               static_cast<std::int64_t>(lastPass_.failed.size()),
                                               checkedPath_, 0})) {
        lastPass_.cancelled = true;
        return false;
    }
    if (const auto failure = PrepareFolder(target, request)) {
        lastPass_.failed.push_back({archiveName_, *failure});
        return true;
    }
    targetPath_.assign(request.targets[target].destdir).append(archiveName_);
    MoveOrPlan(target);
    return true;
}

// Makes the folders between the pass's destination and the target's, once per pass; a
// folder that cannot be made fails every archive of its category with the same reason.
std::optional<std::string> Form1::PrepareFolder(std::size_t target, const PassRequest& request) {
    if (folderReady_[target] || folderFailures_[target]) {
        return folderFailures_[target];
    }
    const std::string& folder = request.targets[target].destdir;
    std::size_t from = folder.starts_with(request.destdir) ? request.destdir.size() : 0;
    for (auto end = folder.find(platform::kSeparator, from); end != std::string::npos;
         end = folder.find(platform::kSeparator, end + 1)) {
        const std::string level = folder.substr(0, end + 1);
        std::optional<std::string> why;
        if (lastPass_.dryRun) {
            why = WouldMakeDirectory(level);
        } else if (const auto failure = platform::MakeDirectory(level)) {
            why = failure->reason;
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

// Why a dry run's directory could not be made, as far as can be told without making it.
// A directory it would make counts as made for the rest of the run.
std::optional<std::string> Form1::WouldMakeDirectory(const std::string& path) {
    // Without its trailing separator, so that a file of that name is seen as a file.
    std::string bare = path;
    while (bare.size() > 1 && bare.back() == platform::kSeparator) {
        bare.pop_back();
    }
    if (plannedFolders_.contains(bare) || !platform::CheckSearchableDirectory(bare)) {
        return std::nullopt;
    }
    if (TargetTaken(bare)) {
        return "a file is in the way";
    }
    const auto slash = bare.find_last_of(platform::kSeparator);
    const std::string parent = slash == std::string::npos ? "." : bare.substr(0, slash + 1);
    const std::string bareParent = parent.size() > 1 ? parent.substr(0, parent.size() - 1) : parent;
    if (!plannedFolders_.contains(bareParent) && platform::CheckSearchableDirectory(parent)) {
        return "No such file or directory";
    }
    plannedFolders_.insert(bare);
    return std::nullopt;
}

std::vector<CategoryTarget> Form1::AllCategoryTargets() const {
    std::vector<CategoryTarget> targets;
    for (int i = 0; i < Combo1.ListCount(); ++i) {
        std::string folder = vars_.destdir;
        for (const auto& name : CategoryFolderNames(Combo1.List(i))) {
            folder.append(name).push_back(platform::kSeparator);
        }
        targets.push_back({Combo1.List(i), std::move(folder)});
    }
    return targets;
}

std::string Form1::DryRunReport() const {
    std::string report;
    for (const auto& move : lastPass_.planned) {
        report += move.archive + " -> " + move.target + "\n";
    }
    if (lastPass_.cancelled) {
        report += "The dry run was cancelled; the remaining archives were not looked at.\n";
    }
    if (!lastPass_.failed.empty()) {
        const auto count = lastPass_.failed.size();
        report +=
            std::to_string(count) + (count == 1 ? " file" : " files") + " would not be moved:\n";
        for (const auto& failure : lastPass_.failed) {
            report += failure.archive + ": " + failure.reason + "\n";
        }
    }
    for (const auto& [category, moved] : lastPass_.perCategory) {
        report += category + ": " + std::to_string(moved) + "\n";
    }
    return report + " " + std::to_string(lastPass_.planned.size()) + " files would be moved.";
}

}  // namespace lorvex
