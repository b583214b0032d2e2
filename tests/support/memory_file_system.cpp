#include "memory_file_system.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>

namespace lorvex::testing {

namespace {

constexpr std::string_view kPartialSuffix = ".lorvex-partial";
constexpr int kMostLinksFollowed = 40;  // Linux's

constexpr std::array<std::string_view, kCallCount> kCallNames{
    "StatusOf",        "List",          "SameContents",    "ReadAll",       "MakeFolder",
    "RemoveFolder",    "Remove",        "RenameNoReplace", "Link",          "FlushFolder",
    "CopyToTemporary", "FlushFiles",    "Close",           "OpenForAppend", "Append",
    "CheckAccess",     "CheckNameFits", "FreeSpace",       "SameMount",     "WithoutLinks",
    "OpenFileLimit",   "Absolute",      "HoldFolders",     "ForgetFolders",
};

// The names of `path`, last first, so that the next one is taken from the back.
std::vector<std::string> NamesReversed(std::string_view path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) {
            names.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    std::reverse(names.begin(), names.end());
    return names;
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string ParentOf(const std::string& path) {
    const std::string name = WithoutTrailingSeparators(path);
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : name.substr(0, slash);
}

fs::Failure Reason(fs::Error kind, std::string words) { return {kind, std::move(words)}; }

PathMatch Containing(const std::string& part) {
    return [part](std::string_view path) { return path.find(part) != std::string_view::npos; };
}

}  // namespace

std::string_view NameOf(Call call) { return kCallNames.at(static_cast<std::size_t>(call)); }

// Where a path leads: the folder that holds its last name, and what that name is.
struct MemoryFileSystem::Place {
    std::optional<fs::Failure> failure;
    Node* folder = nullptr;  // none for the root
    std::string name;
    Node* node = nullptr;          // none when the name is free
    std::shared_ptr<Mount> mount;  // of `folder`
    std::vector<Node*> chain;      // the folders from the root to `folder`

    std::shared_ptr<Node> Shared() const { return folder->children.at(name); }
    // The mount a folder at this place is on: its own when it is a mount folder.
    std::shared_ptr<Mount> FolderMount() const { return node->mount ? node->mount : mount; }
};

// One call from its entry to its return, for the counts.
class MemoryFileSystem::InCall {
public:
    InCall(MemoryFileSystem& owner, Call call, const std::vector<std::string>& paths)
        : owner_(owner), armed(owner.Enter(call, paths)) {}
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;
    ~InCall() { owner_.Leave(); }
    bool FailsBefore() const { return armed.failure && !armed.afterActing; }

private:
    MemoryFileSystem& owner_;

public:
    const Armed armed;
};

struct Gate::State {
    Call call;
    PathMatch match;
    bool open = false;
    std::size_t arrived = 0;
    std::size_t held = 0;
};

Gate::Gate(Gate&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), state_(std::move(other.state_)) {}

Gate::~Gate() {
    if (owner_ != nullptr && state_) {
        Release();
    }
}

bool Gate::WaitUntilHeld(std::size_t calls, std::chrono::milliseconds limit) {
    std::unique_lock lock(owner_->mutex_);
    return owner_->changed_.wait_for(lock, limit, [&] { return state_->arrived >= calls; });
}

std::size_t Gate::HeldNow() const {
    std::lock_guard lock(owner_->mutex_);
    return state_->held;
}

void Gate::Release() {
    std::lock_guard lock(owner_->mutex_);
    state_->open = true;
    std::erase(owner_->gates_, state_);
    owner_->changed_.notify_all();
}

MemoryFileSystem::MemoryFileSystem() : root_(std::make_shared<Node>()) {
    root_->kind = fs::Kind::Directory;
    root_->mount = std::make_shared<Mount>();
    root_->mount->id = nextMount_++;
    root_->mount->folder = root_.get();
}

MemoryFileSystem::~MemoryFileSystem() = default;

// ---- Calls: counted, held and failed as the test asks ----

MemoryFileSystem::Armed MemoryFileSystem::Enter(Call call, const std::vector<std::string>& paths) {
    const auto matches = [&](const PathMatch& match) {
        return !match || std::any_of(paths.begin(), paths.end(),
                                     [&](const std::string& path) { return match(path); });
    };
    std::unique_lock lock(mutex_);
    ++counts_.at(static_cast<std::size_t>(call));
    maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
    // The gates as they are now: a gate added while this call waits is not for it.
    const auto gates = gates_;
    for (const auto& gate : gates) {
        if (gate->call == call && !gate->open && matches(gate->match)) {
            ++gate->arrived;
            ++gate->held;
            changed_.notify_all();
            changed_.wait(lock, [&] { return gate->open; });
            --gate->held;
        }
    }
    for (Fault& fault : faults_) {
        if (fault.call == call && fault.times != 0 && matches(fault.match)) {
            if (fault.times > 0) {
                --fault.times;
            }
            return {fault.failure, fault.afterActing};
        }
    }
    return {};
}

void MemoryFileSystem::Leave() {
    std::lock_guard lock(mutex_);
    --inFlight_;
}

std::vector<std::string> MemoryFileSystem::PathsOf(std::span<const fs::Handle> files) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const fs::Handle file : files) {
        if (const auto open = open_.find(file); open != open_.end()) {
            paths.push_back(open->second.path);
        }
    }
    return paths;
}

fs::Outcome MemoryFileSystem::Run(Call call, const std::vector<std::string>& paths,
                                  const std::function<fs::Outcome()>& act) {
    const InCall in(*this, call, paths);
    if (in.FailsBefore()) {
        return in.armed.failure;
    }
    fs::Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        outcome = act();
    }
    return in.armed.failure ? in.armed.failure : outcome;
}

void MemoryFileSystem::FailCall(Call call, const std::string& pathPart, fs::Failure failure,
                                int times, bool afterActing) {
    FailCall(call, Containing(pathPart), std::move(failure), times, afterActing);
}

void MemoryFileSystem::FailCall(Call call, PathMatch match, fs::Failure failure, int times,
                                bool afterActing) {
    switch (call) {
        case Call::Close:
        case Call::OpenFileLimit:
        case Call::Absolute:
        case Call::HoldFolders:
        case Call::ForgetFolders:
            throw std::logic_error(std::string(NameOf(call)) + " cannot fail");
        default:
            break;
    }
    if (failure.reason.empty()) {
        failure.reason = Words(failure.kind);
    }
    std::lock_guard lock(mutex_);
    faults_.push_back({call, std::move(match), std::move(failure), times, afterActing});
}

void MemoryFileSystem::ClearFailures() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

Gate MemoryFileSystem::Hold(Call call, const std::string& pathPart) {
    return Hold(call, Containing(pathPart));
}

Gate MemoryFileSystem::Hold(Call call, PathMatch match) {
    auto state = std::make_shared<Gate::State>();
    state->call = call;
    state->match = std::move(match);
    std::lock_guard lock(mutex_);
    gates_.push_back(state);
    return Gate(*this, std::move(state));
}

std::size_t MemoryFileSystem::CallCount(Call call) const {
    std::lock_guard lock(mutex_);
    return counts_.at(static_cast<std::size_t>(call));
}

std::size_t MemoryFileSystem::CallsInFlight() const {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

std::size_t MemoryFileSystem::MaxCallsInFlight() const {
    std::lock_guard lock(mutex_);
    return maxInFlight_;
}

// ---- The tree ----

MemoryFileSystem::Place MemoryFileSystem::Find(std::string_view path, bool followLast,
                                               Need need) const {
    Place place = Locate(path, followLast);
    if (!place.failure && need != Need::Nothing) {
        if (place.node == nullptr) {
            place.failure = Fail(fs::Error::NotFound);
        } else if (need == Need::Folder && place.node->kind != fs::Kind::Directory) {
            place.failure = Fail(fs::Error::NotDirectory);
        }
    }
    return place;
}

MemoryFileSystem::Place MemoryFileSystem::Locate(std::string_view path, bool followLast) const {
    Place place;
    if (path.size() > kPathMax) {
        place.failure = Fail(fs::Error::NameTooLong);
        return place;
    }
    std::vector<std::string> rest = NamesReversed(path);
    std::vector<Node*> chain{root_.get()};
    const auto mountOfChain = [&chain] {
        const auto folder = std::find_if(chain.rbegin(), chain.rend(),
                                         [](const Node* node) { return node->mount != nullptr; });
        return (*folder)->mount;  // the root has one
    };
    int linksFollowed = 0;
    while (!rest.empty()) {
        std::string name = std::move(rest.back());
        rest.pop_back();
        if (name.size() > kNameMax) {
            place.failure = Fail(fs::Error::NameTooLong);
            return place;
        }
        if (name == "." || name == "..") {
            if (name == ".." && chain.size() > 1) {
                chain.pop_back();
            }
            continue;
        }
        Node* folder = chain.back();
        auto found = folder->children.find(name);
        if (found == folder->children.end() && ignoresCase_) {
            const auto lower = [](std::string text) {
                for (char& c : text) {
                    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                }
                return text;
            };
            found =
                std::find_if(folder->children.begin(), folder->children.end(),
                             [&](const auto& child) { return lower(child.first) == lower(name); });
            if (found != folder->children.end()) {
                name = found->first;  // the name as it was made, which a change must name
            }
        }
        Node* node = found == folder->children.end() ? nullptr : found->second.get();
        const bool last = rest.empty();
        if (node != nullptr && node->kind == fs::Kind::Link && (!last || followLast)) {
            if (++linksFollowed > kMostLinksFollowed) {
                place.failure = Reason(fs::Error::Other, "Too many levels of symbolic links");
                return place;
            }
            const std::vector<std::string> target = NamesReversed(node->bytes);
            rest.insert(rest.end(), target.begin(), target.end());
            if (node->bytes.starts_with('/')) {
                chain.resize(1);
            }
            continue;
        }
        if (last) {
            place.folder = folder;
            place.name = std::move(name);
            place.node = node;
            place.chain = chain;
            place.mount = mountOfChain();
            return place;
        }
        if (node == nullptr) {
            place.failure = Fail(fs::Error::NotFound);
            return place;
        }
        if (node->kind != fs::Kind::Directory) {
            place.failure = Fail(fs::Error::NotDirectory);
            return place;
        }
        chain.push_back(node);
    }
    // A folder named by "/" or ending in "..": named again by its parent.
    place.node = chain.back();
    if (chain.size() > 1) {
        chain.pop_back();
        place.folder = chain.back();
        for (const auto& [name, child] : place.folder->children) {
            if (child.get() == place.node) {
                place.name = name;
            }
        }
    }
    place.chain = chain;
    place.mount = mountOfChain();
    return place;
}

MemoryFileSystem::Node* MemoryFileSystem::FollowedNode(std::string_view path) const {
    const Place place = Find(path, true);
    return place.failure ? nullptr : place.node;
}

// Whether the names in the place's folder may change, as the mount and the folder's right
// say; a read-only mount is told first, as Linux does.
fs::Outcome MemoryFileSystem::MayChange(const Place& place) const {
    if (place.folder == nullptr) {
        return Reason(fs::Error::Other, "Device or resource busy");
    }
    if (place.mount->readOnly) {
        return Fail(fs::Error::ReadOnly);
    }
    if (place.folder->readOnly) {
        return Fail(fs::Error::Permission);
    }
    return {};
}

std::uint64_t MemoryFileSystem::Blocks(const Mount& mount, std::uint64_t size) const {
    return (size + mount.block - 1) / mount.block * mount.block;
}

// Every file on the mount once, however many names it has, and those still open.
std::uint64_t MemoryFileSystem::Used(const Mount& mount) const {
    std::set<const Node*> counted;
    std::uint64_t used = 0;
    const auto count = [&](const Node& file) {
        if (counted.insert(&file).second) {
            used += Blocks(mount, file.bytes.size());
        }
    };
    std::function<void(const Node&)> walk = [&](const Node& folder) {
        for (const auto& [name, child] : folder.children) {
            if (child->kind == fs::Kind::File) {
                count(*child);
            } else if (child->kind == fs::Kind::Directory && !child->mount) {
                walk(*child);
            }
        }
    };
    walk(*mount.folder);
    for (const auto& [handle, open] : open_) {
        if (open.mount.get() == &mount) {
            count(*open.node);
        }
    }
    return used;
}

// ".<name>.XXXXXX.lorvex-partial" in the place's folder, the name cut so that the whole
// fits in a file name; XXXXXX counts up, so that runs are repeatable.
std::string MemoryFileSystem::TemporaryName(const Place& beside, std::string_view runTag) {
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t room = kNameMax - std::string_view("..XXXXXX").size() -
                             kPartialSuffix.size() - (runTag.empty() ? 0 : runTag.size() + 1);
    for (;;) {
        std::string unique(6, 'A');
        for (std::uint64_t n = nextTemporary_++, i = 0; i < unique.size();
             ++i, n /= kLetters.size()) {
            unique[unique.size() - 1 - i] = kLetters[n % kLetters.size()];
        }
        std::string name = "." + beside.name.substr(0, room) +
                           (runTag.empty() ? "" : "." + std::string(runTag)) + "." + unique;
        name += kPartialSuffix;
        if (!beside.folder->children.contains(name)) {
            return name;
        }
    }
}

fs::Handle MemoryFileSystem::Open(std::shared_ptr<Node> node, const std::string& path,
                                  std::shared_ptr<Mount> mount) {
    const fs::Handle handle = nextHandle_++;
    open_.emplace(handle, OpenFile{std::move(node), path, std::move(mount)});
    return handle;
}

// ---- Setting up and looking ----

void MemoryFileSystem::MakeFolders(const std::string& path) {
    std::string prefix;
    for (auto names = NamesReversed(path); !names.empty(); names.pop_back()) {
        prefix += "/" + names.back();
        const Place place = Find(prefix, true);
        if (place.failure) {
            throw std::logic_error(prefix + ": " + place.failure->reason);
        }
        if (place.node == nullptr) {
            auto folder = std::make_shared<Node>();
            folder->kind = fs::Kind::Directory;
            place.folder->children[place.name] = folder;
            place.folder->durable[place.name] = std::move(folder);
        } else if (place.node->kind != fs::Kind::Directory) {
            throw std::logic_error(prefix + " is not a folder");
        }
    }
}

void MemoryFileSystem::Put(const std::string& path, std::shared_ptr<Node> node) {
    MakeFolders(ParentOf(path));
    const Place place = Find(path, false);
    if (place.failure || place.folder == nullptr ||
        (place.node != nullptr && place.node->kind == fs::Kind::Directory)) {
        throw std::logic_error(path + ": a folder or unreachable");
    }
    node->durableBytes = node->bytes;
    place.folder->children[place.name] = node;
    place.folder->durable[place.name] = std::move(node);
}

void MemoryFileSystem::AddFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    MakeFolders(path);
}

void MemoryFileSystem::AddFile(const std::string& path, const std::string& bytes,
                               fs::FileTime modified) {
    auto file = std::make_shared<Node>();
    file->bytes = bytes;
    file->modified = modified;
    std::lock_guard lock(mutex_);
    Put(path, std::move(file));
}

void MemoryFileSystem::AddLink(const std::string& path, const std::string& target) {
    auto link = std::make_shared<Node>();
    link->kind = fs::Kind::Link;
    link->bytes = target;
    std::lock_guard lock(mutex_);
    Put(path, std::move(link));
}

void MemoryFileSystem::AddOther(const std::string& path) {
    auto other = std::make_shared<Node>();
    other->kind = fs::Kind::Other;
    std::lock_guard lock(mutex_);
    Put(path, std::move(other));
}

void MemoryFileSystem::AddMount(const std::string& folder, std::uint64_t capacityBytes,
                                std::uint64_t blockSize, bool readOnly) {
    if (blockSize == 0) {
        throw std::logic_error("a block of no bytes");
    }
    std::lock_guard lock(mutex_);
    MakeFolders(folder);
    Node* node = FollowedNode(folder);
    node->mount = std::make_shared<Mount>(
        Mount{nextMount_++, capacityBytes, blockSize, readOnly, std::nullopt, node});
}

void MemoryFileSystem::SetWithoutLinks(const std::string& folder, const std::string& name) {
    std::lock_guard lock(mutex_);
    Node* node = FollowedNode(folder);
    if (node == nullptr || !node->mount) {
        throw std::logic_error(folder + " is not a mount folder");
    }
    node->mount->withoutLinks = name;
}

void MemoryFileSystem::SetReadOnly(const std::string& folder, bool readOnly) {
    std::lock_guard lock(mutex_);
    Node* node = FollowedNode(folder);
    if (node == nullptr || node->kind != fs::Kind::Directory) {
        throw std::logic_error(folder + " is not a folder");
    }
    node->readOnly = readOnly;
}

void MemoryFileSystem::SetUnreadable(const std::string& file) {
    std::lock_guard lock(mutex_);
    Node* node = FollowedNode(file);
    if (node == nullptr || node->kind != fs::Kind::File) {
        throw std::logic_error(file + " is not a file");
    }
    node->readable = false;
}

void MemoryFileSystem::SetIgnoresCase(bool ignores) {
    std::lock_guard lock(mutex_);
    ignoresCase_ = ignores;
}

void MemoryFileSystem::SetOpenFileLimit(std::size_t limit) {
    std::lock_guard lock(mutex_);
    openFileLimit_ = limit;
}

bool MemoryFileSystem::Exists(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const Place place = Find(path, false);
    return !place.failure && place.node != nullptr;
}

std::optional<std::string> MemoryFileSystem::Contents(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const Node* node = FollowedNode(path);
    if (node == nullptr || node->kind != fs::Kind::File) {
        return std::nullopt;
    }
    return node->bytes;
}

std::vector<std::string> MemoryFileSystem::Names(const std::string& folder) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    if (const Node* node = FollowedNode(folder); node != nullptr) {
        for (const auto& [name, child] : node->children) {
            names.push_back(name);
        }
    }
    return names;
}

bool MemoryFileSystem::DataFlushed(const std::string& file) const {
    std::lock_guard lock(mutex_);
    const Node* node = FollowedNode(file);
    if (node == nullptr) {
        throw std::logic_error(file + " is not there");
    }
    return node->flushed;
}

// True when a power cut would leave the name as it is now, there or not there.
bool MemoryFileSystem::NameFlushed(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const Place place = Find(path, false);
    if (place.failure || place.folder == nullptr) {
        return !place.failure;
    }
    const auto durable = place.folder->durable.find(place.name);
    const Node* kept = durable == place.folder->durable.end() ? nullptr : durable->second.get();
    return kept == place.node;
}

std::size_t MemoryFileSystem::OpenFiles() const {
    std::lock_guard lock(mutex_);
    return open_.size();
}

void MemoryFileSystem::PowerCut() {
    std::lock_guard lock(mutex_);
    open_.clear();
    std::function<void(Node&)> restore = [&](Node& folder) {
        folder.children = folder.durable;
        for (const auto& [name, child] : folder.children) {
            if (child->kind == fs::Kind::Directory) {
                restore(*child);
            } else if (child->kind == fs::Kind::File) {
                child->bytes = child->durableBytes;
                child->flushed = true;
            }
        }
    };
    restore(*root_);
}

// ---- fs::FileSystem ----

std::string MemoryFileSystem::Words(fs::Error kind) const {
    switch (kind) {
        case fs::Error::Exists:
            return "File exists";
        case fs::Error::NotFound:
            return "No such file or directory";
        case fs::Error::NotDirectory:
            return "Not a directory";
        case fs::Error::NoSpace:
            return "No space left on device";
        case fs::Error::Permission:
            return "Permission denied";
        case fs::Error::ReadOnly:
            return "Read-only file system";
        case fs::Error::CrossDevice:
            return "Invalid cross-device link";
        case fs::Error::NotSupported:
            return "Operation not supported";
        case fs::Error::NameTooLong:
            return "File name too long";
        case fs::Error::Io:
            return "Input/output error";
        case fs::Error::Other:
            break;
    }
    return "Unknown error";
}

fs::Status MemoryFileSystem::StatusOf(const std::string& path) {
    const InCall in(*this, Call::StatusOf, {path});
    if (in.armed.failure) {
        // A name that is not there says so; any other failure leaves it untold.
        fs::Status untold;
        if (in.armed.failure->kind != fs::Error::NotFound) {
            untold.kind = untold.target = fs::Kind::Unknown;
        }
        return untold;
    }
    std::lock_guard lock(mutex_);
    const Place place = Find(path, false);
    if (place.failure || place.node == nullptr) {
        return {};
    }
    const Node& node = *place.node;
    const bool hasBytes = node.kind == fs::Kind::File || node.kind == fs::Kind::Link;
    fs::Status status{node.kind, {hasBytes ? node.bytes.size() : 0, node.modified}, node.kind, 0};
    const Node* target = &node;
    if (node.kind == fs::Kind::Link) {
        target = FollowedNode(path);
        status.target = target == nullptr ? fs::Kind::Missing : target->kind;
    }
    if (status.target == fs::Kind::File) {
        status.targetSize = target->bytes.size();
    }
    return status;
}

fs::Outcome MemoryFileSystem::List(const std::string& folder,
                                   const std::function<void(const fs::Entry&)>& visit) {
    const InCall in(*this, Call::List, {folder});
    if (in.FailsBefore()) {
        return in.armed.failure;
    }
    std::vector<std::pair<std::string, fs::Entry>> entries;
    {
        std::lock_guard lock(mutex_);
        const Place place = Find(folder, true, Need::Folder);
        if (place.failure) {
            return place.failure;
        }
        // With each file's length, as Windows lists.
        for (const auto& [name, child] : place.node->children) {
            entries.emplace_back(
                name, fs::Entry{{},
                                child->kind,
                                child->kind == fs::Kind::File ? std::optional(child->bytes.size())
                                                              : std::nullopt});
        }
    }
    // Outside the lock, so that the visit may call again.
    for (auto& [name, entry] : entries) {
        entry.name = name;
        visit(entry);
    }
    return in.armed.failure;
}

bool MemoryFileSystem::SameContents(const std::string& first, const std::string& second) {
    const InCall in(*this, Call::SameContents, {first, second});
    if (in.armed.failure) {
        return false;
    }
    std::lock_guard lock(mutex_);
    const Node* one = FollowedNode(first);
    const Node* other = FollowedNode(second);
    const auto readable = [](const Node* node) {
        return node != nullptr && node->kind == fs::Kind::File && node->readable;
    };
    return readable(one) && readable(other) && one->bytes == other->bytes;
}

fs::Outcome MemoryFileSystem::ReadAll(const std::string& path, std::string& text) {
    return Run(Call::ReadAll, {path}, [&]() -> fs::Outcome {
        const Place place = Find(path, true, Need::Name);
        if (place.failure) {
            return place.failure;
        }
        if (place.node->kind == fs::Kind::Directory) {
            return Reason(fs::Error::Other, "Is a directory");
        }
        if (place.node->kind != fs::Kind::File) {
            return Fail(fs::Error::NotSupported);
        }
        if (!place.node->readable) {
            return Fail(fs::Error::Permission);
        }
        text = place.node->bytes;
        return {};
    });
}

fs::Outcome MemoryFileSystem::MakeFolder(const std::string& path) {
    return Run(Call::MakeFolder, {path}, [&]() -> fs::Outcome {
        const Place place = Find(path, false);
        if (place.failure) {
            return place.failure;
        }
        if (place.node != nullptr) {
            const Node* there = FollowedNode(path);
            return there != nullptr && there->kind == fs::Kind::Directory
                       ? fs::Outcome{}
                       : Fail(fs::Error::NotDirectory);
        }
        if (auto refused = MayChange(place)) {
            return refused;
        }
        auto folder = std::make_shared<Node>();
        folder->kind = fs::Kind::Directory;
        place.folder->children[place.name] = std::move(folder);
        return {};
    });
}

fs::Outcome MemoryFileSystem::RemoveFolder(const std::string& path) {
    return Run(Call::RemoveFolder, {path}, [&]() -> fs::Outcome {
        const Place place = Find(path, false, Need::Folder);
        if (place.failure) {
            return place.failure;
        }
        if (place.node->mount) {
            return Reason(fs::Error::Other, "Device or resource busy");
        }
        if (auto refused = MayChange(place)) {
            return refused;
        }
        if (!place.node->children.empty()) {
            return Reason(fs::Error::Other, "Directory not empty");
        }
        place.folder->children.erase(place.name);
        return {};
    });
}

fs::Outcome MemoryFileSystem::Remove(const std::string& path) {
    return Run(Call::Remove, {path}, [&]() -> fs::Outcome {
        const Place place = Find(path, false, Need::Name);
        if (place.failure) {
            return place.failure;
        }
        if (place.node->kind == fs::Kind::Directory) {
            return Reason(fs::Error::Other, "Is a directory");
        }
        if (auto refused = MayChange(place)) {
            return refused;
        }
        place.folder->children.erase(place.name);
        return {};
    });
}

// In Linux's order: the mounts, the mount's right, the source, the target, the folders'.
fs::Outcome MemoryFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
    return Run(Call::RenameNoReplace, {from, to}, [&]() -> fs::Outcome {
        const Place source = Find(from, false);
        if (source.failure) {
            return source.failure;
        }
        const Place target = Find(to, false);
        if (target.failure) {
            return target.failure;
        }
        if (source.mount != target.mount) {
            return Fail(fs::Error::CrossDevice);
        }
        if (source.mount->readOnly) {
            return Fail(fs::Error::ReadOnly);
        }
        if (source.node == nullptr) {
            return Fail(fs::Error::NotFound);
        }
        if (target.node != nullptr) {
            return Fail(fs::Error::Exists);
        }
        if (source.node->mount) {
            return Reason(fs::Error::Other, "Device or resource busy");
        }
        if (auto refused = MayChange(source)) {
            return refused;
        }
        if (auto refused = MayChange(target)) {
            return refused;
        }
        if (std::find(target.chain.begin(), target.chain.end(), source.node) !=
            target.chain.end()) {
            return Reason(fs::Error::Other, "Invalid argument");  // a folder into itself
        }
        target.folder->children[target.name] = source.Shared();
        source.folder->children.erase(source.name);
        return {};
    });
}

fs::Outcome MemoryFileSystem::Link(const std::string& from, const std::string& to, bool symbolic) {
    return Run(Call::Link, {from, to}, [&]() -> fs::Outcome {
        const Place target = Find(to, false);
        if (target.failure) {
            return target.failure;
        }
        std::shared_ptr<Node> node;
        if (symbolic) {
            node = std::make_shared<Node>();
            node->kind = fs::Kind::Link;
            node->bytes = from;
        } else {
            const Place source = Find(from, false, Need::Name);
            if (source.failure) {
                return source.failure;
            }
            if (source.mount != target.mount) {
                return Fail(fs::Error::CrossDevice);
            }
            if (source.node->kind == fs::Kind::Directory) {
                return Reason(fs::Error::Permission, "Operation not permitted");
            }
            node = source.Shared();
        }
        if (target.node != nullptr) {
            return Fail(fs::Error::Exists);
        }
        if (auto refused = MayChange(target)) {
            return refused;
        }
        if (target.mount->withoutLinks) {
            return Fail(fs::Error::NotSupported);
        }
        target.folder->children[target.name] = std::move(node);
        return {};
    });
}

fs::Outcome MemoryFileSystem::FlushFolder(const std::string& folder) {
    return Run(Call::FlushFolder, {folder}, [&]() -> fs::Outcome {
        const Place place = Find(folder, true, Need::Folder);
        if (place.failure) {
            return place.failure;
        }
        place.node->durable = place.node->children;
        return {};
    });
}

fs::Outcome MemoryFileSystem::CopyToTemporary(const std::string& from, const std::string& to,
                                              std::string_view runTag, fs::CopyInProgress& copy) {
    copy = {};
    fs::Outcome outcome = Run(Call::CopyToTemporary, {from, to}, [&]() -> fs::Outcome {
        const Place source = Find(from, false, Need::Name);
        if (source.failure) {
            return source.failure;
        }
        const Node& original = *source.node;
        if (original.kind == fs::Kind::Directory) {
            return Reason(fs::Error::Other, "Is a directory");
        }
        if (original.kind == fs::Kind::Other) {
            return Fail(fs::Error::NotSupported);
        }
        if (!original.readable) {
            return Fail(fs::Error::Permission);
        }
        const Place target = Find(to, false);
        if (target.failure) {
            return target.failure;
        }
        if (auto refused = MayChange(target)) {
            return refused;
        }
        const bool isLink = original.kind == fs::Kind::Link;
        if (isLink && target.mount->withoutLinks) {
            return Fail(fs::Error::NotSupported);
        }
        if (!isLink && open_.size() >= openFileLimit_) {
            return Reason(fs::Error::Other, "Too many open files");
        }
        // The room is asked before the temporary is made, so a full mount keeps nothing.
        const Mount& mount = *target.mount;
        if (!isLink && mount.capacity != kUnlimited &&
            Used(mount) + Blocks(mount, original.bytes.size()) > mount.capacity) {
            return Fail(fs::Error::NoSpace);
        }
        auto made = std::make_shared<Node>(original);
        made->durableBytes.clear();
        made->flushed = isLink;  // a link has no data; its folder's flush keeps it
        const std::string name = TemporaryName(target, runTag);
        target.folder->children[name] = made;
        const std::string folder = ParentOf(to);
        copy.temporary = folder == "/" ? "/" + name : folder + "/" + name;
        if (!isLink) {
            copy.bytes = made->bytes.size();
            copy.handle = Open(std::move(made), copy.temporary, target.mount);
        }
        return {};
    });
    // A copy that fails after it is made stays for the caller to remove, but closed.
    if (outcome && copy.handle != fs::kNoHandle) {
        std::lock_guard lock(mutex_);
        open_.erase(std::exchange(copy.handle, fs::kNoHandle));
    }
    return outcome;
}

fs::Outcome MemoryFileSystem::FlushFiles(std::span<const fs::Handle> files) {
    return Run(Call::FlushFiles, PathsOf(files), [&]() -> fs::Outcome {
        fs::Outcome first;
        for (const fs::Handle file : files) {
            const auto open = open_.find(file);
            if (open == open_.end()) {
                if (!first) {
                    first = Reason(fs::Error::Other, "Bad file descriptor");
                }
                continue;
            }
            Node& node = *open->second.node;
            node.durableBytes = node.bytes;
            node.flushed = true;
        }
        return first;
    });
}

void MemoryFileSystem::Close(fs::Handle file) {
    const InCall in(*this, Call::Close, PathsOf(std::span(&file, 1)));
    std::lock_guard lock(mutex_);
    open_.erase(file);
    std::erase_if(locks_, [file](const auto& held) { return held.second == file; });
}

void MemoryFileSystem::SetRemote(const std::string& folder) {
    std::lock_guard lock(mutex_);
    remote_.push_back(folder.ends_with('/') ? folder : folder + "/");
}

fs::Outcome MemoryFileSystem::Lock(const std::string& path, fs::Handle& lock) {
    lock = fs::kNoHandle;
    {
        std::lock_guard guard(mutex_);
        if (locks_.contains(path)) {
            return fs::Failure{fs::Error::Exists, Words(fs::Error::Exists)};
        }
    }
    fs::Handle handle = fs::kNoHandle;
    if (auto failure = OpenForAppend(path, !Exists(path), handle)) {
        return failure;
    }
    std::lock_guard guard(mutex_);
    locks_[path] = handle;
    lock = handle;
    return std::nullopt;
}

std::optional<bool> MemoryFileSystem::IsLocked(const std::string& path) {
    if (!Exists(path)) {
        return std::nullopt;
    }
    std::lock_guard guard(mutex_);
    return locks_.contains(path);
}

std::optional<bool> MemoryFileSystem::SameFolder(const std::string& first,
                                                 const std::string& second) {
    std::lock_guard guard(mutex_);
    const Node* one = FollowedNode(first);
    const Node* two = FollowedNode(second);
    if (!one || !two) {
        return std::nullopt;
    }
    return one == two && one->kind == fs::Kind::Directory;
}

bool MemoryFileSystem::IsRemote(const std::string& folder) {
    std::lock_guard guard(mutex_);
    const std::string named = folder.ends_with('/') ? folder : folder + "/";
    return std::any_of(remote_.begin(), remote_.end(),
                       [&](const std::string& remote) { return named.starts_with(remote); });
}

fs::Outcome MemoryFileSystem::OpenForAppend(const std::string& path, bool create,
                                            fs::Handle& file) {
    file = fs::kNoHandle;
    fs::Outcome outcome = Run(Call::OpenForAppend, {path}, [&]() -> fs::Outcome {
        const Place place = Find(path, true);
        if (place.failure) {
            return place.failure;
        }
        std::shared_ptr<Node> node;
        if (place.node == nullptr) {
            if (!create) {
                return Fail(fs::Error::NotFound);
            }
            if (auto refused = MayChange(place)) {
                return refused;
            }
        } else if (create) {
            return Fail(fs::Error::Exists);  // a new file, never one that is there
        } else if (place.node->kind == fs::Kind::Directory) {
            return Reason(fs::Error::Other, "Is a directory");
        } else if (place.node->kind != fs::Kind::File) {
            return Fail(fs::Error::NotSupported);
        } else if (place.mount->readOnly) {
            return Fail(fs::Error::ReadOnly);
        } else {
            node = place.Shared();
        }
        if (open_.size() >= openFileLimit_) {
            return Reason(fs::Error::Other, "Too many open files");
        }
        if (!node) {
            node = std::make_shared<Node>();
            place.folder->children[place.name] = node;
        }
        file = Open(std::move(node), path, place.mount);
        return {};
    });
    if (outcome && file != fs::kNoHandle) {
        std::lock_guard lock(mutex_);
        open_.erase(std::exchange(file, fs::kNoHandle));
    }
    return outcome;
}

fs::Outcome MemoryFileSystem::Append(fs::Handle file, std::string_view text) {
    return Run(Call::Append, PathsOf(std::span(&file, 1)), [&]() -> fs::Outcome {
        const auto open = open_.find(file);
        if (open == open_.end()) {
            return Reason(fs::Error::Other, "Bad file descriptor");
        }
        Node& node = *open->second.node;
        const Mount& mount = *open->second.mount;
        if (mount.capacity != kUnlimited) {
            const std::uint64_t more =
                Blocks(mount, node.bytes.size() + text.size()) - Blocks(mount, node.bytes.size());
            if (Used(mount) + more > mount.capacity) {
                return Fail(fs::Error::NoSpace);  // and nothing of it written
            }
        }
        node.bytes += text;
        node.flushed = false;
        return {};
    });
}

fs::Outcome MemoryFileSystem::CheckAccess(const std::string& path, fs::Access access) {
    return Run(Call::CheckAccess, {path}, [&]() -> fs::Outcome {
        // To take a name away asks about the folder that holds it; the others follow links.
        const Place place = Find(path, access != fs::Access::RemoveFrom, Need::Name);
        if (place.failure) {
            return place.failure;
        }
        switch (access) {
            case fs::Access::Read:
                return place.node->kind == fs::Kind::File && !place.node->readable
                           ? Fail(fs::Error::Permission)
                           : fs::Outcome{};
            case fs::Access::Search:
                return place.node->kind == fs::Kind::Directory ? fs::Outcome{}
                                                               : Fail(fs::Error::NotDirectory);
            case fs::Access::AddTo:
                if (place.node->kind != fs::Kind::Directory) {
                    return Fail(fs::Error::NotDirectory);
                }
                if (place.FolderMount()->readOnly) {
                    return Fail(fs::Error::ReadOnly);
                }
                return place.node->readOnly ? Fail(fs::Error::Permission) : fs::Outcome{};
            case fs::Access::RemoveFrom:
                return MayChange(place);
        }
        return {};
    });
}

fs::Outcome MemoryFileSystem::CheckNameFits(const std::string& path) {
    return Run(Call::CheckNameFits, {path}, [&]() -> fs::Outcome {
        const auto names = NamesReversed(path);
        const bool tooLong = path.size() > kPathMax ||
                             std::any_of(names.begin(), names.end(),
                                         [](const auto& n) { return n.size() > kNameMax; });
        return tooLong ? Fail(fs::Error::NameTooLong) : fs::Outcome{};
    });
}

std::optional<fs::Space> MemoryFileSystem::FreeSpace(const std::string& folder) {
    const InCall in(*this, Call::FreeSpace, {folder});
    if (in.armed.failure) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const Place place = Find(folder, true, Need::Folder);
    if (place.failure) {
        return std::nullopt;
    }
    const Mount& mount = *place.FolderMount();
    const std::uint64_t available = mount.capacity == kUnlimited
                                        ? kUnlimited
                                        : mount.capacity - std::min(mount.capacity, Used(mount));
    return fs::Space{mount.id, available, mount.block, true};
}

std::optional<bool> MemoryFileSystem::SameMount(const std::string& first,
                                                const std::string& second) {
    const InCall in(*this, Call::SameMount, {first, second});
    if (in.armed.failure) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const Place one = Find(first, true, Need::Folder);
    const Place other = Find(second, true, Need::Folder);
    for (const Place* place : {&one, &other}) {
        if (place->failure) {
            return std::nullopt;
        }
    }
    return one.FolderMount() == other.FolderMount();
}

std::optional<std::string> MemoryFileSystem::WithoutLinks(const std::string& folder) {
    const InCall in(*this, Call::WithoutLinks, {folder});
    if (in.armed.failure) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const Place place = Find(folder, true, Need::Folder);
    if (place.failure) {
        return std::nullopt;
    }
    return place.FolderMount()->withoutLinks;
}

std::size_t MemoryFileSystem::OpenFileLimit() {
    const InCall in(*this, Call::OpenFileLimit, {});
    std::lock_guard lock(mutex_);
    return openFileLimit_;
}

std::string MemoryFileSystem::Absolute(const std::string& path) {
    const InCall in(*this, Call::Absolute, {path});
    return path.starts_with('/') ? path : "/" + path;
}

bool MemoryFileSystem::FillsNameLimit(std::string_view name) const {
    return name.size() == kNameMax;
}

void MemoryFileSystem::HoldFolders(std::span<const std::string> folders) {
    const InCall in(*this, Call::HoldFolders,
                    std::vector<std::string>(folders.begin(), folders.end()));
}

void MemoryFileSystem::ForgetFolders() { const InCall in(*this, Call::ForgetFolders, {}); }

}  // namespace lorvex::testing
