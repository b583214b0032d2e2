#include "mover.h"

#include <algorithm>
#include <utility>

#include "platform.h"

namespace lorvex {
namespace {

constexpr std::size_t kFewestBatchFiles = 16;
constexpr std::size_t kKeptForTheRest = 256;

}  // namespace

std::string_view FolderPart(std::string_view path) {
    const auto separator = platform::LastSeparator(path);
    if (separator == std::string_view::npos) {
        return ".";
    }
    return path.substr(0, separator == 0 ? 1 : separator);
}

std::string FolderOf(const std::string& path) { return std::string(FolderPart(path)); }

std::string_view NameOf(std::string_view path) {
    const auto separator = platform::LastSeparator(path);
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

namespace {

constexpr std::string_view kUnique = ".XXXXXX";
constexpr std::string_view kTagStart = ".run-";

bool IsTagCharacter(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-'; }

// The archive's part and the tag of a temporary copy's name of the right shape.
std::optional<std::pair<std::string_view, std::string_view>> PartsOf(std::string_view name) {
    if (!name.starts_with('.') || !name.ends_with(kPartialSuffix) ||
        name.size() < 2 + kUnique.size() + kPartialSuffix.size()) {
        return std::nullopt;
    }
    const std::string_view stem = name.substr(0, name.size() - kPartialSuffix.size());
    const std::string_view unique = stem.substr(stem.size() - kUnique.size());
    const auto letterOrDigit = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    if (unique.front() != '.' || !std::all_of(unique.begin() + 1, unique.end(), letterOrDigit)) {
        return std::nullopt;
    }
    std::string_view archive = stem.substr(1, stem.size() - 1 - kUnique.size());
    std::string_view tag;
    if (const auto at = archive.rfind(kTagStart); at != std::string_view::npos) {
        const std::string_view candidate = archive.substr(at + 1);
        if (std::all_of(candidate.begin(), candidate.end(), IsTagCharacter)) {
            tag = candidate;
            archive = archive.substr(0, at);
        }
    }
    return std::pair{archive, tag};
}

}  // namespace

std::string_view RunTagOf(std::string_view temporaryName) {
    const auto parts = PartsOf(temporaryName);
    return parts ? parts->second : std::string_view();
}

std::string RunTag(std::string_view runId) { return "run-" + std::string(runId); }

std::string RunLockName(std::string_view runTag) {
    return ".lorvex-" + std::string(runTag) + ".lock";
}

bool IsRunLockName(std::string_view name) {
    constexpr std::string_view kStart = ".lorvex-run-";
    constexpr std::string_view kEnd = ".lock";
    if (!name.starts_with(kStart) || !name.ends_with(kEnd) ||
        name.size() <= kStart.size() + kEnd.size()) {
        return false;
    }
    const std::string_view id =
        name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
    return std::all_of(id.begin(), id.end(), IsTagCharacter);
}

bool IsTemporaryCopyName(std::string_view name, const fs::FileSystem& system) {
    const auto parts = PartsOf(name);
    if (!parts) {
        return false;
    }
    const std::string_view archive = parts->first;
    return archive.ends_with(".zip") || system.FillsNameLimit(name);
}

BatchBounds BatchBoundsFor(fs::FileSystem& system) {
    BatchBounds bounds;
    const std::size_t open = system.OpenFileLimit();
    if (open < 2 * bounds.files + kKeptForTheRest) {
        const std::size_t room = open > kKeptForTheRest ? open - kKeptForTheRest : 0;
        bounds.files = std::max(kFewestBatchFiles, room / 2);
    }
    return bounds;
}

std::string ReasonFor(fs::FileSystem& system, const fs::Failure& failure, const std::string& from,
                      const std::string& to) {
    if (failure.kind == fs::Error::Exists && system.SameContents(from, to)) {
        return std::string(kSameContentsReason);
    }
    return failure.reason;
}

Mover::Mover(fs::FileSystem& system, MoveOutcome outcome, Transfer transfer, MoveLog* log,
             std::string runTag, CallPool* pool)
    : system_(system),
      outcome_([this, report = std::move(outcome)](const std::string& from,
                                                   const std::optional<std::string>& reason) {
          if (reason) {
              failed_.insert(from);
          }
          report(from, reason);
      }),
      transfer_(transfer),
      log_(transfer == Transfer::Move ? log : nullptr),
      bounds_(BatchBoundsFor(system)),
      runTag_(std::move(runTag)),
      pool_(pool) {}

Mover::~Mover() {
    try {
        Finish();
    } catch (...) {
        // A move left unfinished keeps its source, which loses nothing.
    }
}

void Mover::Move(const std::string& from, const std::string& to, const fs::FileFacts* facts) {
    // A name listed twice whose first move failed is not tried again: a second try would
    // only report the same failure again.
    if (FailedBefore(from)) {
        return;
    }
    switch (transfer_) {
        case Transfer::Move:
            if (log_) {
                RenameRecorded(from, to, facts);
            } else if (!inHand_.empty() && inHand_.contains(from)) {
                return;  // listed twice, and its copy to another mount is on its way
            } else if (pool_) {
                RenameSideBySide(from, to);
            } else {
                Rename(from, to);
            }
            return;
        case Transfer::Copy:
            CopyAcross(from, to);
            return;
        case Transfer::HardLink:
        case Transfer::SymbolicLink:
            MakeLink(from, to);
            return;
    }
}

void Mover::Rename(const std::string& from, const std::string& to) {
    Renamed(from, to, system_.RenameNoReplace(from, to));
}

void Mover::Renamed(const std::string& from, const std::string& to, const fs::Outcome& failure) {
    if (!failure) {
        outcome_(from, std::nullopt);
    } else if (failure->kind == fs::Error::CrossDevice) {
        CopyAcross(from, to);
    } else {
        outcome_(from, ReasonFor(system_, *failure, from, to));
    }
}

// On a share each rename waits a round trip: several go at once, and each is reported, in
// the order asked, once it returned.
void Mover::RenameSideBySide(const std::string& from, const std::string& to) {
    // A name listed twice: as one at a time, the second finds it gone once the first is
    // done, and is no archive to move. Looked for before any rename is collected: the
    // first may have ended since the pass found the name there.
    const auto same = [&](const PendingRename& each) { return each.from == from; };
    if (std::any_of(renames_.begin(), renames_.end(), same)) {
        CollectRenames(true);
        if (FailedBefore(from) || system_.StatusOf(from).kind == fs::Kind::Missing) {
            return;
        }
    }
    CollectRenames(false);
    while (renames_.size() >= kRenamesAheadPerCall * pool_->Threads()) {
        CollectOneRename();
    }
    auto done = pool_->Start([this, from, to] { return system_.RenameNoReplace(from, to); });
    renames_.push_back({from, to, std::move(done)});
}

void Mover::CollectRenames(bool wait) {
    while (!renames_.empty() && (wait || renames_.front().done.wait_for(std::chrono::seconds(0)) ==
                                             std::future_status::ready)) {
        CollectOneRename();
    }
}

void Mover::CollectOneRename() {
    PendingRename rename = std::move(renames_.front());
    renames_.pop_front();
    // One a stop kept from starting leaves its archive where it was.
    if (const auto failure = CallPool::Result(rename.done)) {
        Renamed(rename.from, rename.to, *failure);
    }
}

// A rename the journal must know of is gathered, so that its record is on disk before it
// is made at the cost of one flush for many.
void Mover::RenameRecorded(const std::string& from, const std::string& to,
                           const fs::FileFacts* facts) {
    // Bound for another mount: copied, and recorded once the copy has its name.
    if (!OnOneMount(from, to)) {
        CopyAcross(from, to);
        return;
    }
    // Already on its way; taking it twice would report the second attempt as a failure.
    if (!inHand_.insert(from).second) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (renaming_.files.empty()) {
        renaming_.started = now;
    }
    renaming_.files.push_back({from, to, facts ? *facts : system_.StatusOf(from).facts});
    if (renaming_.files.size() >= bounds_.files || now - renaming_.started >= bounds_.time) {
        MakeRenames();
    }
}

// Whether the folders of `from` and `to` are on one mount, asked once per pair of folders:
// a rename across mounts fails only after its record was written and flushed.
bool Mover::OnOneMount(const std::string& from, const std::string& to) {
    const std::string_view fromFolder = FolderPart(from);
    const std::string_view toFolder = FolderPart(to);
    // Most moves of a pass go between the same two folders: that pair is answered first.
    if (lastPair_ && fromFolder == lastPair_->from && toFolder == lastPair_->to) {
        return lastPair_->oneMount;
    }
    std::string folders(fromFolder);
    folders += '\0';
    folders += toFolder;
    auto known = oneMount_.find(folders);
    if (known == oneMount_.end()) {
        const auto answer = system_.SameMount(std::string(fromFolder), std::string(toFolder));
        known = oneMount_.emplace(std::move(folders), answer != false).first;
    }
    lastPair_ = FolderPair{std::string(fromFolder), std::string(toFolder), known->second};
    return known->second;
}

void Mover::MakeRenames() {
    const Renames renames = std::exchange(renaming_, Renames{});
    if (renames.files.empty()) {
        return;
    }
    for (const auto& file : renames.files) {
        inHand_.erase(file.from);
    }
    std::uint64_t batch = 0;
    if (const auto failure = log_->RecordAhead(renames.files, batch)) {
        for (const auto& file : renames.files) {
            outcome_(file.from, *failure);
        }
        return;
    }
    const auto renamed = EachOf(pool_, renames.files.size(), [&](std::size_t i) {
        return system_.RenameNoReplace(renames.files[i].from, renames.files[i].to);
    });
    std::vector<const MovedFile*> across;
    for (std::size_t i = 0; i < renames.files.size(); ++i) {
        const MovedFile& file = renames.files[i];
        if (renamed[i] && !*renamed[i]) {
            outcome_(file.from, std::nullopt);
            continue;
        }
        log_->Withdraw(file);  // failed, or kept from starting by a stop: where it was
        if (!renamed[i]) {
            continue;
        }
        const fs::Failure& failure = **renamed[i];
        if (failure.kind == fs::Error::CrossDevice) {
            across.push_back(&file);
        } else {
            outcome_(file.from, ReasonFor(system_, failure, file.from, file.to));
        }
    }
    log_->BatchMade(batch);
    // Copied only now, so that their records follow the withdrawal of the renames.
    for (const MovedFile* file : across) {
        CopyAcross(file->from, file->to);
    }
}

void Mover::MakeLink(const std::string& from, const std::string& to) {
    const bool symbolic = transfer_ == Transfer::SymbolicLink;
    const auto failure = system_.Link(symbolic ? system_.Absolute(from) : from, to, symbolic);
    if (!failure) {
        // The links' names made durable once per folder, when the mover finishes.
        std::string folder = FolderOf(to);
        if (linkedFolders_.empty() || linkedFolders_.back() != folder) {
            linkedFolders_.push_back(std::move(folder));
        }
        outcome_(from, std::nullopt);
        return;
    }
    if (failure->kind == fs::Error::CrossDevice) {
        outcome_(from, std::string(kHardLinkAcrossReason));
        return;
    }
    if (failure->kind == fs::Error::NotSupported || failure->kind == fs::Error::Permission) {
        if (const auto system = system_.WithoutLinks(FolderOf(to))) {
            outcome_(from, "the destination's file system (" + *system + ") has no links");
            return;
        }
    }
    outcome_(from, ReasonFor(system_, *failure, from, to));
}

void Mover::CopyAcross(const std::string& from, const std::string& to) {
    if (completed_.valid() &&
        completed_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        CollectCompleted();
    }
    // Already on its way, or failed once: a second attempt would report a failure again.
    if (inHand_.contains(from) || FailedBefore(from)) {
        return;
    }
    if (pool_) {
        CopyAcrossSideBySide(from, to);
        return;
    }
    Copy copy{from, to, {}};
    if (const auto reason = StartCopy(copy)) {
        outcome_(from, *reason);
        return;
    }
    TakeCopy(std::move(copy));
}

// Spares a long copy that could never be put in place; then copies to a temporary.
std::optional<std::string> Mover::StartCopy(Copy& copy) {
    if (system_.StatusOf(copy.to).kind != fs::Kind::Missing) {
        return ReasonFor(system_, {fs::Error::Exists, system_.Words(fs::Error::Exists)}, copy.from,
                         copy.to);
    }
    if (const auto failure = system_.CopyToTemporary(copy.from, copy.to, runTag_, copy.made)) {
        return failure->reason;
    }
    return std::nullopt;
}

// On a share several copies are made at once; each joins the batch, in the order asked,
// once made.
void Mover::CopyAcrossSideBySide(const std::string& from, const std::string& to) {
    CollectCopies(false);
    while (copies_.size() >= kCopiesAheadPerCall * pool_->Threads()) {
        CollectOneCopy();
    }
    inHand_.insert(from);
    auto& pending = copies_.emplace_back(std::make_unique<Copy>(Copy{from, to, {}}),
                                         std::future<std::optional<std::string>>());
    pending.second = pool_->Start([this, copy = pending.first.get()] { return StartCopy(*copy); });
}

void Mover::CollectCopies(bool wait) {
    while (!copies_.empty() && (wait || copies_.front().second.wait_for(std::chrono::seconds(0)) ==
                                            std::future_status::ready)) {
        CollectOneCopy();
    }
}

void Mover::CollectOneCopy() {
    auto [copy, done] = std::move(copies_.front());
    copies_.pop_front();
    const auto reason = CallPool::Result(done);
    if (!reason || *reason) {
        inHand_.erase(copy->from);
        if (reason) {
            outcome_(copy->from, **reason);
        }
        return;  // one a stop kept from starting leaves its archive where it was
    }
    TakeCopy(std::move(*copy));
}

void Mover::TakeCopy(Copy copy) {
    const auto now = std::chrono::steady_clock::now();
    if (building_.copies.empty()) {
        building_.started = now;
    }
    inHand_.insert(copy.from);
    building_.bytes += copy.made.bytes;
    building_.copies.push_back(std::move(copy));
    if (building_.copies.size() >= bounds_.files || building_.bytes >= bounds_.bytes ||
        now - building_.started >= bounds_.time) {
        StartCompleting();
    }
}

void Mover::StartCompleting() {
    if (building_.copies.empty()) {
        return;
    }
    CollectCompleted();  // one batch completes at a time
    completing_ = std::exchange(building_, Batch{});
    try {
        completed_ = std::async(std::launch::async, [this] { return Complete(completing_); });
    } catch (...) {
        // No thread to spare: complete it here and now, which is just as safe.
        std::promise<Outcomes> done;
        done.set_value(Complete(completing_));
        completed_ = done.get_future();
    }
}

void Mover::CollectCompleted() {
    if (!completed_.valid()) {
        return;
    }
    const Outcomes outcomes = completed_.get();
    Release(completing_);
    completing_ = Batch{};
    Deliver(outcomes);
}

void Mover::Finish() {
    if (log_) {
        MakeRenames();
    }
    CollectRenames(true);
    CollectCopies(true);
    for (const auto& folder : std::exchange(linkedFolders_, {})) {
        system_.FlushFolder(folder);
    }
    CollectCompleted();
    if (building_.copies.empty()) {
        return;
    }
    // Nothing left to copy meanwhile, so no thread.
    const Batch batch = std::exchange(building_, Batch{});
    Release(batch);
    Deliver(Complete(batch));
}

void Mover::Stop() {
    if (!pool_) {
        Finish();
        return;
    }
    stopping_ = true;
    pool_->Stop();
    // Renames gathered but not yet recorded leave their archives where they were.
    const Renames dropped = std::exchange(renaming_, Renames{});
    for (const auto& file : dropped.files) {
        inHand_.erase(file.from);
    }
    CollectRenames(true);
    CollectCopies(true);
    for (const auto& folder : std::exchange(linkedFolders_, {})) {
        system_.FlushFolder(folder);
    }
    CollectCompleted();
    const Batch batch = std::exchange(building_, Batch{});
    Release(batch);
    Abandon(batch);
}

// Takes away the temporary copies of a batch that will not be completed; the sources stay.
void Mover::Abandon(const Batch& batch) {
    for (const auto& copy : batch.copies) {
        system_.Close(copy.made.handle);
        system_.Remove(copy.made.temporary);
    }
}

void Mover::Deliver(const Outcomes& outcomes) {
    for (const auto& [from, reason] : outcomes) {
        outcome_(from, reason);
    }
}

void Mover::Release(const Batch& batch) {
    for (const auto& copy : batch.copies) {
        inHand_.erase(copy.from);
    }
}

// Completes a batch: every copy flushed, the journal's records of the batch on disk, then
// each copy takes its name without replacing anything, each folder of the batch is flushed
// once, the batch is marked made, and only then do the sources go. Touches nothing but the batch
// and the file system: it runs beside the copying of the next one.
Mover::Outcomes Mover::Complete(const Batch& batch) {
    Outcomes outcomes;
    outcomes.reserve(batch.copies.size());
    std::vector<fs::Handle> handles;
    for (const auto& copy : batch.copies) {
        if (copy.made.handle != fs::kNoHandle) {
            handles.push_back(copy.made.handle);
        }
    }
    // Stopped on a share: the copies not yet in place go, and their sources stay.
    if (stopping_) {
        Abandon(batch);
        return outcomes;
    }
    // Locally one flush of them all lets the file system commit once for the batch; on a
    // share each flush is a round trip of its own.
    fs::Outcome flushed;
    if (pool_) {
        for (const auto& each : EachOf(pool_, handles.size(), [&](std::size_t i) {
                 return system_.FlushFiles(std::span(&handles[i], 1));
             })) {
            if (!flushed && each && *each) {
                flushed = **each;
            }
        }
    } else {
        flushed = system_.FlushFiles(handles);
    }
    for (const fs::Handle handle : handles) {
        system_.Close(handle);
    }
    // A failed flush keeps every source of the batch.
    if (flushed || stopping_) {
        for (const auto& copy : batch.copies) {
            system_.Remove(copy.made.temporary);
            if (!stopping_) {
                outcomes.emplace_back(copy.from, flushed->reason);
            }
        }
        return outcomes;
    }
    // Recorded ahead, on disk before the first copy takes its name; a copy has its source's
    // size and modification time.
    std::vector<MovedFile> records;
    std::uint64_t number = 0;
    if (log_) {
        const auto facts = AllOf(pool_, batch.copies.size(), [&](std::size_t i) {
            return system_.StatusOf(batch.copies[i].made.temporary).facts;
        });
        for (std::size_t i = 0; i < batch.copies.size(); ++i) {
            records.push_back({batch.copies[i].from, batch.copies[i].to, facts[i]});
        }
        if (const auto failure = log_->RecordAhead(records, number)) {
            for (const auto& copy : batch.copies) {
                system_.Remove(copy.made.temporary);
                outcomes.emplace_back(copy.from, *failure);
            }
            return outcomes;
        }
    }
    const auto withdraw = [&](std::size_t i) {
        if (log_) {
            log_->Withdraw(records[i]);
        }
    };
    const auto renamed = EachOf(pool_, batch.copies.size(), [&](std::size_t i) {
        return system_.RenameNoReplace(batch.copies[i].made.temporary, batch.copies[i].to);
    });
    std::vector<std::size_t> placed;
    for (std::size_t i = 0; i < batch.copies.size(); ++i) {
        const Copy& copy = batch.copies[i];
        if (!renamed[i] || *renamed[i]) {
            system_.Remove(copy.made.temporary);
            withdraw(i);
            if (renamed[i]) {
                outcomes.emplace_back(copy.from,
                                      ReasonFor(system_, **renamed[i], copy.from, copy.to));
            }
        } else {
            placed.push_back(i);
        }
    }
    // From here the batch completes even when stopped: its copies have their names, and
    // only the rest of it leaves each archive in one place.
    std::vector<std::string> folders;
    for (const std::size_t i : placed) {
        std::string folder = FolderOf(batch.copies[i].to);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(std::move(folder));
        }
    }
    // The names durable before any source goes; a folder that cannot be flushed takes its
    // copies back.
    const auto folderFlushed = AllOf(
        pool_, folders.size(), [&](std::size_t i) { return system_.FlushFolder(folders[i]); });
    std::vector<std::size_t> durable;
    for (const std::size_t i : placed) {
        const Copy& copy = batch.copies[i];
        const auto at = std::find(folders.begin(), folders.end(), FolderOf(copy.to));
        if (const auto& failure = folderFlushed[at - folders.begin()]) {
            system_.Remove(copy.to);
            withdraw(i);
            outcomes.emplace_back(copy.from, failure->reason);
        } else {
            durable.push_back(i);
        }
    }
    if (log_) {
        log_->BatchMade(number);
    }
    if (transfer_ == Transfer::Copy) {
        for (const std::size_t i : durable) {
            outcomes.emplace_back(batch.copies[i].from, std::nullopt);
        }
        return outcomes;
    }
    const auto removed = AllOf(pool_, durable.size(), [&](std::size_t i) {
        const std::size_t copy = durable[i];
        return RemoveSource(batch.copies[copy], log_ ? &records[copy] : nullptr);
    });
    for (std::size_t i = 0; i < durable.size(); ++i) {
        outcomes.emplace_back(batch.copies[durable[i]].from, removed[i]);
    }
    return outcomes;
}

// Removes the source of a copy now in place. A source that cannot be removed takes its copy
// back, so that the archive stays in exactly one place; but a removal may report a failure
// after it took effect (a retried one on NFS, a FUSE daemon that dies), so the source is
// looked at again first and the copy, maybe the only one left, goes only when the source is
// certainly there and whole.
std::optional<std::string> Mover::RemoveSource(const Copy& copy, const MovedFile* record) {
    const auto failure = system_.Remove(copy.from);
    if (!failure) {
        return std::nullopt;
    }
    const fs::Status source = system_.StatusOf(copy.from);
    if (source.kind == fs::Kind::Missing) {
        return std::nullopt;  // gone after all: moved, and recorded
    }
    if (source.kind != fs::Kind::Unknown && system_.SameContents(copy.from, copy.to)) {
        system_.Remove(copy.to);
        if (record) {
            log_->Withdraw(*record);
        }
        return failure->reason;
    }
    return failure->reason + "; the archive may now be in both places (both copies kept)";
}

}  // namespace lorvex
