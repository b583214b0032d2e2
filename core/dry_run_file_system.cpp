#include "dry_run_file_system.h"

#include <utility>

#include "mover.h"
#include "platform.h"

namespace lorvex {
namespace {

using platform::kSeparators;

// One spelling per name: without trailing separators.
std::string Key(std::string path) {
    while (path.size() > 1 && platform::IsSeparator(path.back())) {
        path.pop_back();
    }
    return path;
}

bool IsFolderKind(const fs::Status& status) { return status.target == fs::Kind::Directory; }

// The last name of a temporary copy of `to`, as the real copy names it: hidden, cut so that
// it fits, with six letters that make it unique.
std::string TemporaryName(const std::string& to, std::string_view runTag, std::uint64_t number) {
    const std::size_t room = 255 - std::string_view("..XXXXXX").size() - kPartialSuffix.size() -
                             (runTag.empty() ? 0 : runTag.size() + 1);
    std::string unique = std::to_string(number % 1000000);
    unique.insert(0, 6 - unique.size(), '0');
    std::string name = FolderOf(to) + std::string(1, to[FolderOf(to).size()]) + "." +
                       std::string(NameOf(to).substr(0, room));
    if (!runTag.empty()) {
        name.append(".").append(runTag);
    }
    return name + "." + unique + std::string(kPartialSuffix);
}

}  // namespace

fs::Status DryRunFileSystem::StatusOf(const std::string& path) {
    const std::string key = Key(path);
    KnowStatus(key);
    const std::lock_guard lock(mutex_);
    return StatusLocked(key);
}

fs::Status DryRunFileSystem::StatusLocked(const std::string& path) {
    if (const auto made = made_.find(path); made != made_.end()) {
        return made->second.status;
    }
    if (removed_.contains(path)) {
        return {};
    }
    return RealStatusLocked(path);
}

fs::Status DryRunFileSystem::RealStatusLocked(const std::string& key) {
    if (!askAhead_) {
        return real_.StatusOf(key);  // a local status costs less than keeping it
    }
    if (const auto known = realStatus_.find(key); known != realStatus_.end()) {
        return known->second;
    }
    return realStatus_.emplace(key, real_.StatusOf(key)).first->second;
}

// The answer `ask` gives, kept by `keep`, asked without holding the lock; not asked where
// the run asks nothing ahead or `known` says it is known or not needed.
template <class Known, class Ask, class Keep>
void DryRunFileSystem::AskAhead(const Known& known, const Ask& ask, const Keep& keep) {
    std::unique_lock lock(mutex_);
    if (!askAhead_ || known()) {
        return;
    }
    lock.unlock();
    auto answer = ask();
    lock.lock();
    keep(std::move(answer));
}

void DryRunFileSystem::KnowStatus(const std::string& key) {
    AskAhead(
        [&] { return made_.contains(key) || removed_.contains(key) || realStatus_.contains(key); },
        [&] { return real_.StatusOf(key); },
        [&](fs::Status status) { realStatus_.emplace(key, status); });
}

namespace {

std::string AccessKey(const std::string& key, fs::Access access) {
    return key + '\0' + static_cast<char>('0' + static_cast<int>(access));
}

}  // namespace

fs::Outcome DryRunFileSystem::RealAccessLocked(const std::string& key, fs::Access access) {
    if (!askAhead_) {
        return real_.CheckAccess(key, access);
    }
    std::string known = AccessKey(key, access);
    if (const auto found = realAccess_.find(known); found != realAccess_.end()) {
        return found->second;
    }
    return realAccess_.emplace(std::move(known), real_.CheckAccess(key, access)).first->second;
}

void DryRunFileSystem::KnowAccess(const std::string& key, fs::Access access) {
    std::string known = AccessKey(key, access);
    AskAhead(
        [&] {
            return made_.contains(key) || made_.contains(FolderOf(key)) ||
                   realAccess_.contains(known);
        },
        [&] { return real_.CheckAccess(key, access); },
        [&](fs::Outcome outcome) { realAccess_.emplace(std::move(known), std::move(outcome)); });
}

std::optional<fs::Outcome> DryRunFileSystem::KnownNameFit(const std::string& key) const {
    const auto room = nameRoom_.find(FolderOf(key));
    if (room == nameRoom_.end()) {
        return std::nullopt;
    }
    const std::size_t length = NameOf(key).size();
    if (length <= room->second.longestFit) {
        return fs::Outcome();
    }
    if (length >= room->second.shortestRefused) {
        return room->second.refusal;
    }
    return std::nullopt;
}

void DryRunFileSystem::LearnNameFit(const std::string& key, const fs::Outcome& outcome) {
    NameRoom& room = nameRoom_[FolderOf(key)];
    const std::size_t length = NameOf(key).size();
    if (!outcome) {
        room.longestFit = std::max(room.longestFit, length);
    } else if (length < room.shortestRefused) {
        room.shortestRefused = length;
        room.refusal = outcome;
    }
}

void DryRunFileSystem::KnowNameFits(const std::string& key) {
    AskAhead([&] { return KnownNameFit(key).has_value(); },
             [&] { return real_.CheckNameFits(key); },
             [&](const fs::Outcome& outcome) { LearnNameFit(key, outcome); });
}

fs::Outcome DryRunFileSystem::NameFitsLocked(const std::string& key) {
    if (auto known = KnownNameFit(key)) {
        return *known;
    }
    fs::Outcome outcome = real_.CheckNameFits(key);
    LearnNameFit(key, outcome);
    return outcome;
}

std::optional<fs::Space> DryRunFileSystem::RealSpaceLocked(const std::string& folder) {
    if (const auto known = realSpace_.find(folder); known != realSpace_.end()) {
        return known->second;
    }
    return realSpace_.emplace(folder, real_.FreeSpace(folder)).first->second;
}

bool DryRunFileSystem::IsFolder(const std::string& path) {
    return IsFolderKind(StatusLocked(Key(path)));
}

fs::Outcome DryRunFileSystem::List(const std::string& folder,
                                   const std::function<void(const fs::Entry&)>& visit) {
    std::unique_lock lock(mutex_);
    const std::string key = Key(folder);
    if (!IsFolder(key)) {
        return Fail(StatusLocked(key).kind == fs::Kind::Missing ? fs::Error::NotFound
                                                                : fs::Error::NotDirectory);
    }
    struct Listed {
        std::string name;
        fs::Kind kind;
        std::optional<std::uint64_t> size;
    };
    std::vector<Listed> names;
    if (!made_.contains(key)) {
        // Named as the run names them: the folder's own separator, none doubled at a root.
        const bool separated = platform::IsSeparator(key.back());
        const std::string prefix = separated ? key : key + std::string(1, kSeparators.back());
        if (auto failure = real_.List(key, [&](const fs::Entry& entry) {
                const std::string path = prefix + std::string(entry.name);
                if (!removed_.contains(path) && !made_.contains(path)) {
                    names.push_back({std::string(entry.name), entry.kind, entry.size});
                }
            })) {
            return failure;
        }
    }
    for (const auto& [path, made] : made_) {
        if (FolderOf(path) == key) {
            const fs::Status& status = made.status;
            names.push_back(
                {std::string(NameOf(path)), status.kind,
                 status.kind == fs::Kind::File ? std::optional(status.facts.size) : std::nullopt});
        }
    }
    lock.unlock();
    for (const auto& [name, kind, size] : names) {
        visit({name, kind, size});
    }
    return std::nullopt;
}

std::string DryRunFileSystem::OriginOf(const std::string& path) {
    if (const auto made = made_.find(path); made != made_.end()) {
        return made->second.origin;
    }
    return removed_.contains(path) ? std::string() : path;
}

bool DryRunFileSystem::SameContents(const std::string& first, const std::string& second) {
    std::unique_lock lock(mutex_);
    const std::string one = OriginOf(Key(first));
    const std::string two = OriginOf(Key(second));
    lock.unlock();
    if (one.empty() || two.empty()) {
        return false;
    }
    return one == two || real_.SameContents(one, two);
}

fs::Outcome DryRunFileSystem::ReadAll(const std::string& path, std::string& text) {
    std::unique_lock lock(mutex_);
    const std::string origin = OriginOf(Key(path));
    lock.unlock();
    if (origin.empty()) {
        return Fail(fs::Error::NotFound);
    }
    return real_.ReadAll(origin, text);
}

// The folder a new name would go in is there and is a folder.
fs::Outcome DryRunFileSystem::CheckParent(const std::string& path) {
    const fs::Status parent = StatusLocked(FolderOf(path));
    if (parent.kind == fs::Kind::Missing ||
        (parent.kind == fs::Kind::Link && parent.target == fs::Kind::Missing)) {
        return Fail(fs::Error::NotFound);
    }
    if (!IsFolderKind(parent)) {
        return Fail(fs::Error::NotDirectory);
    }
    return NameFitsLocked(path);
}

// The right to add `path` to its folder or take it away, asked of the real folder unless
// the run would have made that folder itself.
fs::Outcome DryRunFileSystem::CheckChange(const std::string& path, fs::Access access) {
    const std::string folder = FolderOf(path);
    if (made_.contains(folder)) {
        return std::nullopt;
    }
    // A name the run made is not there to ask about; the folder's right tells the same.
    if (access == fs::Access::AddTo || made_.contains(path)) {
        const auto known = addTo_.find(folder);
        if (known != addTo_.end()) {
            return known->second;
        }
        return addTo_.emplace(folder, real_.CheckAccess(folder, fs::Access::AddTo)).first->second;
    }
    return RealAccessLocked(path, access);
}

std::optional<bool> DryRunFileSystem::SameMountLocked(const std::string& first,
                                                      const std::string& second) {
    std::string folders = first + '\0' + second;
    const auto known = sameMount_.find(folders);
    if (known != sameMount_.end()) {
        return known->second;
    }
    return sameMount_.emplace(std::move(folders), real_.SameMount(first, second)).first->second;
}

std::string DryRunFileSystem::NearestReal(std::string path) {
    path = Key(path);
    while (made_.contains(path) || removed_.contains(path)) {
        const std::string up = FolderOf(path);
        if (up == path) {
            break;
        }
        path = up;
    }
    return path;
}

void DryRunFileSystem::Take(const std::string& path) {
    if (made_.erase(path) == 0) {
        removed_.insert(path);
    }
}

void DryRunFileSystem::Place(const std::string& path, fs::Status status, std::string origin) {
    made_[path] = {status, std::move(origin)};
}

fs::Outcome DryRunFileSystem::MakeFolder(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const std::string key = Key(path);
    // In the order mkdir finds them: the way there, the name taken, then the right.
    const fs::Status status = StatusLocked(key);
    if (IsFolderKind(status)) {
        return std::nullopt;
    }
    if (auto failure = CheckParent(key)) {
        return failure;
    }
    if (status.kind != fs::Kind::Missing) {
        return Fail(fs::Error::NotDirectory);
    }
    if (auto failure = CheckChange(key, fs::Access::AddTo)) {
        return failure;
    }
    fs::Status folder;
    folder.kind = folder.target = fs::Kind::Directory;
    Place(key, folder, {});
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::RemoveFolder(const std::string& path) {
    const std::string key = Key(path);
    bool empty = true;
    if (auto failure = List(key, [&](const fs::Entry&) { empty = false; })) {
        return failure;
    }
    const std::lock_guard lock(mutex_);
    if (!empty) {
        return fs::Failure{fs::Error::Other, "Directory not empty"};
    }
    if (auto failure = CheckChange(key, fs::Access::RemoveFrom)) {
        return failure;
    }
    Take(key);
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::Remove(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const std::string key = Key(path);
    const fs::Status status = StatusLocked(key);
    if (status.kind == fs::Kind::Missing) {
        return Fail(fs::Error::NotFound);
    }
    if (status.kind == fs::Kind::Directory) {
        return fs::Failure{fs::Error::Other, "Is a directory"};
    }
    if (auto failure = CheckChange(key, fs::Access::RemoveFrom)) {
        return failure;
    }
    Take(key);
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
    const std::string source = Key(from);
    const std::string target = Key(to);
    KnowStatus(source);
    KnowStatus(target);
    KnowStatus(FolderOf(target));
    KnowNameFits(target);
    KnowAccess(source, fs::Access::RemoveFrom);
    const std::lock_guard lock(mutex_);
    const fs::Status status = StatusLocked(source);
    if (status.kind == fs::Kind::Missing) {
        return Fail(fs::Error::NotFound);
    }
    if (auto failure = CheckParent(target)) {
        return failure;
    }
    // As rename finds them: another mount, the name taken, then the rights.
    if (SameMountLocked(NearestReal(FolderOf(source)), NearestReal(FolderOf(target))) == false) {
        return Fail(fs::Error::CrossDevice);
    }
    if (StatusLocked(target).kind != fs::Kind::Missing) {
        return Fail(fs::Error::Exists);
    }
    if (auto failure = CheckChange(source, fs::Access::RemoveFrom)) {
        return failure;
    }
    if (auto failure = CheckChange(target, fs::Access::AddTo)) {
        return failure;
    }
    std::string origin = OriginOf(source);
    Take(source);
    Place(target, status, std::move(origin));
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::Link(const std::string& from, const std::string& to, bool symbolic) {
    const std::lock_guard lock(mutex_);
    const std::string target = Key(to);
    if (auto failure = CheckParent(target)) {
        return failure;
    }
    const std::string folder = NearestReal(FolderOf(target));
    fs::Status status;
    if (symbolic) {
        status.kind = fs::Kind::Link;
        status.target = StatusLocked(Key(from)).target;
    } else {
        status = StatusLocked(Key(from));
        if (status.kind == fs::Kind::Missing) {
            return Fail(fs::Error::NotFound);
        }
        if (SameMountLocked(NearestReal(FolderOf(Key(from))), folder) == false) {
            return Fail(fs::Error::CrossDevice);
        }
    }
    if (StatusLocked(target).kind != fs::Kind::Missing) {
        return Fail(fs::Error::Exists);
    }
    if (real_.WithoutLinks(folder)) {
        return Fail(fs::Error::NotSupported);
    }
    if (auto failure = CheckChange(target, fs::Access::AddTo)) {
        return failure;
    }
    Place(target, status, symbolic ? std::string() : OriginOf(Key(from)));
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::FlushFolder(const std::string& folder) {
    const std::lock_guard lock(mutex_);
    return IsFolder(folder) ? fs::Outcome() : Fail(fs::Error::NotFound);
}

fs::Outcome DryRunFileSystem::CopyToTemporary(const std::string& from, const std::string& to,
                                              std::string_view runTag, fs::CopyInProgress& copy) {
    const std::string source = Key(from);
    const std::string target = Key(to);
    KnowStatus(source);
    KnowStatus(FolderOf(target));
    KnowNameFits(target);
    KnowAccess(source, fs::Access::Read);
    const std::lock_guard lock(mutex_);
    const fs::Status status = StatusLocked(source);
    if (status.kind == fs::Kind::Missing) {
        return Fail(fs::Error::NotFound);
    }
    // As the copy meets them: the archive opened, the temporary made, its bytes written.
    const std::string origin = OriginOf(source);
    if (status.kind == fs::Kind::File) {
        if (auto failure = RealAccessLocked(origin, fs::Access::Read)) {
            return failure;
        }
    }
    if (auto failure = CheckParent(target)) {
        return failure;
    }
    if (auto failure = CheckChange(target, fs::Access::AddTo)) {
        return failure;
    }
    const std::uint64_t bytes = status.kind == fs::Kind::File ? status.facts.size : 0;
    if (const auto space = RealSpaceLocked(NearestReal(FolderOf(target))); space && bytes > 0) {
        const std::uint64_t block = std::max<std::uint64_t>(space->block, 1);
        const std::uint64_t needed = (bytes + block - 1) / block * block;
        std::uint64_t& taken = spaceTaken_[space->volume];
        if (taken + needed > space->available) {
            spaceEstimated_ = spaceEstimated_ || !space->exact;
            return Fail(fs::Error::NoSpace);
        }
        taken += needed;
    }
    copy.temporary = TemporaryName(to, runTag, ++nextTemporary_);
    copy.bytes = bytes;
    copy.handle = fs::kNoHandle;
    Place(Key(copy.temporary), status, origin);
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::OpenForAppend(const std::string& path, bool create,
                                            fs::Handle& file) {
    const std::lock_guard lock(mutex_);
    const std::string key = Key(path);
    if (auto failure = CheckParent(key)) {
        return failure;
    }
    const bool exists = StatusLocked(key).kind != fs::Kind::Missing;
    if (create && exists) {
        return Fail(fs::Error::Exists);
    }
    if (!create && !exists) {
        return Fail(fs::Error::NotFound);
    }
    if (create) {
        if (auto failure = CheckChange(key, fs::Access::AddTo)) {
            return failure;
        }
        fs::Status status;
        status.kind = status.target = fs::Kind::File;
        Place(key, status, {});
    }
    file = fs::kNoHandle;
    return std::nullopt;
}

fs::Outcome DryRunFileSystem::Lock(const std::string& path, fs::Handle& lock) {
    lock = fs::kNoHandle;
    return OpenForAppend(path, StatusOf(path).kind == fs::Kind::Missing, lock);
}

std::optional<bool> DryRunFileSystem::IsLocked(const std::string& path) {
    std::unique_lock guard(mutex_);
    const std::string key = Key(path);
    if (made_.contains(key)) {
        return false;  // the run's own, which it would hold
    }
    if (removed_.contains(key)) {
        return std::nullopt;
    }
    guard.unlock();
    return real_.IsLocked(key);
}

bool DryRunFileSystem::IsRemote(const std::string& folder) {
    const std::lock_guard lock(mutex_);
    const bool remote = real_.IsRemote(NearestReal(folder));
    askAhead_ = askAhead_ || remote;
    return remote;
}

fs::Outcome DryRunFileSystem::CheckAccess(const std::string& path, fs::Access access) {
    const std::lock_guard lock(mutex_);
    const std::string key = Key(path);
    if (access == fs::Access::AddTo ? made_.contains(key) : made_.contains(FolderOf(key))) {
        return std::nullopt;
    }
    if (access == fs::Access::Search) {
        const fs::Status status = StatusLocked(key);
        if (made_.contains(key) || removed_.contains(key)) {
            return IsFolderKind(status) ? fs::Outcome() : Fail(fs::Error::NotFound);
        }
        return real_.CheckAccess(key, access);
    }
    if (access == fs::Access::Read) {
        const std::string origin = OriginOf(key);
        return origin.empty() ? Fail(fs::Error::NotFound) : RealAccessLocked(origin, access);
    }
    return real_.CheckAccess(key, access);
}

fs::Outcome DryRunFileSystem::CheckNameFits(const std::string& path) {
    return real_.CheckNameFits(path);
}

std::optional<fs::Space> DryRunFileSystem::FreeSpace(const std::string& folder) {
    const std::lock_guard lock(mutex_);
    auto space = RealSpaceLocked(NearestReal(folder));
    if (space) {
        const std::uint64_t taken = spaceTaken_[space->volume];
        space->available = space->available > taken ? space->available - taken : 0;
    }
    return space;
}

std::optional<bool> DryRunFileSystem::SameMount(const std::string& first,
                                                const std::string& second) {
    const std::lock_guard lock(mutex_);
    return SameMountLocked(NearestReal(first), NearestReal(second));
}

std::optional<bool> DryRunFileSystem::SameFolder(const std::string& first,
                                                 const std::string& second) {
    const std::lock_guard lock(mutex_);
    const std::string one = Key(first);
    const std::string two = Key(second);
    if (made_.contains(one) || made_.contains(two)) {
        return one == two;
    }
    return real_.SameFolder(one, two);
}

std::optional<std::string> DryRunFileSystem::WithoutLinks(const std::string& folder) {
    const std::lock_guard lock(mutex_);
    return real_.WithoutLinks(NearestReal(folder));
}

}  // namespace lorvex
