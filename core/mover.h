// The steps of every run that puts archives somewhere else, written once over the file
// system interface: a rename on one mount, and across mounts (and for every copy) a copy
// to a hidden temporary, its flush, the journal's record, the rename of the temporary
// without replacing anything, the flush of each folder, and only then the removal of the
// source. A dry run takes the same steps over a file system that changes nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "call_pool.h"
#include "file_system.h"
#include "transfer.h"

namespace lorvex {

using fs::kPartialSuffix;

// The reason given for an archive whose name is taken in the destination by a file with
// the same bytes, as an interrupted earlier move leaves it; both stay.
inline constexpr std::string_view kSameContentsReason =
    "already in the destination with the same contents (both copies kept)";

// The reason given for a hard link that would cross file systems.
inline constexpr std::string_view kHardLinkAcrossReason =
    "the destination is on another file system, and a hard link cannot cross file systems "
    "(--link=symbolic can)";

// True when `name` is the hidden name lorvex gives a copy in progress:
// ".<archive>.XXXXXX.lorvex-partial", the archive's name ending in ".zip" or cut short so
// that the whole is as long as a file name may be (as `system` tells), XXXXXX six letters
// or digits.
bool IsTemporaryCopyName(std::string_view name, const fs::FileSystem& system);

// The run tag a temporary copy's name carries (".<archive>.<tag>.XXXXXX.lorvex-partial"),
// "" for one an older version made without it.
std::string_view RunTagOf(std::string_view temporaryName);

// The tag of a run ("run-" and its id), which its temporary copies carry and its lock file
// is named by.
std::string RunTag(std::string_view runId);

// The lock file a run holds in its destination folder for as long as it lives, and whether
// a name is one.
std::string RunLockName(std::string_view runTag);
bool IsRunLockName(std::string_view name);

// An archive moved to its new name, as the run's journal records it.
struct MovedFile {
    std::string from;
    std::string to;
    fs::FileFacts facts;
};

// Hears of every move, so that the journal stays true to what was moved, and on disk ahead
// of it: every archive placed has its record however the run ends. A batch's records are
// written and put on disk before the first archive of the batch takes its new name (a
// failure keeps the batch's sources and fails those archives with the reason), and the
// batch is marked made once its archives have their names. A move recorded but then not
// made is withdrawn. Batches across mounts are recorded from a second thread.
class MoveLog {
public:
    virtual ~MoveLog() = default;
    // Sets `batch` to the number by which BatchMade names it.
    virtual std::optional<std::string> RecordAhead(const std::vector<MovedFile>& files,
                                                   std::uint64_t& batch) = 0;
    virtual void BatchMade(std::uint64_t batch) = 0;
    virtual void Withdraw(const MovedFile& file) = 0;
};

// How one archive ended: no reason when it is in place under its new name (and, for a move,
// its source is gone); otherwise why not, and the source is where it was.
using MoveOutcome =
    std::function<void(const std::string& from, const std::optional<std::string>& reason)>;

// How much a batch of copies may hold before it is completed.
struct BatchBounds {
    std::size_t files = 2048;
    std::uint64_t bytes = std::uint64_t{128} << 20;
    std::chrono::milliseconds time{500};
};

// The bounds for a file system: each copy holds a file open until its batch is flushed,
// and two batches are in hand at once.
BatchBounds BatchBoundsFor(fs::FileSystem& system);

// Puts archives in place, never replacing anything. Renames are done at once, or with a
// journal in batches recorded ahead; copies are gathered in batches, and one batch
// completes on a second thread while the next is copied. Given a pool (on a share), renames, copies
// and the steps of a batch go side by side through it, and each rename is reported in the order it
// was asked for. Each outcome is reported on the thread that calls Move, Finish and Stop.
class Mover {
public:
    // `runTag` names the run's temporary copies, so that other runs know whose they are.
    Mover(fs::FileSystem& system, MoveOutcome outcome, Transfer transfer = Transfer::Move,
          MoveLog* log = nullptr, std::string runTag = {}, CallPool* pool = nullptr);
    Mover(const Mover&) = delete;
    Mover& operator=(const Mover&) = delete;
    // Finishes the moves in hand.
    ~Mover();

    // Starts putting `from` at `to`; may report earlier ones. A source already on its way
    // is not taken twice. `facts`, when the caller has just measured `from`, spare the
    // journal a second look.
    void Move(const std::string& from, const std::string& to, const fs::FileFacts* facts = nullptr);
    // Completes every move started so far.
    void Finish();
    // With a pool: starts no new call but to take away the temporary copies not yet in
    // place, reports what the calls in flight did, and finishes a batch already named in
    // the destination. Without one, the same as Finish.
    void Stop();

    struct Copy {
        std::string from;
        std::string to;
        fs::CopyInProgress made;
    };
    struct Batch {
        std::vector<Copy> copies;
        std::uint64_t bytes = 0;
        std::chrono::steady_clock::time_point started{};
    };
    using Outcomes = std::vector<std::pair<std::string, std::optional<std::string>>>;

    // Renames gathered to be recorded ahead in one write and one flush.
    struct Renames {
        std::vector<MovedFile> files;
        std::chrono::steady_clock::time_point started{};
    };

private:
    // How far the mover runs ahead of the calls in flight, per thread of the pool.
    static constexpr std::size_t kRenamesAheadPerCall = 4;
    static constexpr std::size_t kCopiesAheadPerCall = 2;

    // A rename on its way through the pool.
    struct PendingRename {
        std::string from;
        std::string to;
        std::future<fs::Outcome> done;
    };

    void Rename(const std::string& from, const std::string& to);
    void Renamed(const std::string& from, const std::string& to, const fs::Outcome& failure);
    void RenameSideBySide(const std::string& from, const std::string& to);
    void RenameRecorded(const std::string& from, const std::string& to, const fs::FileFacts* facts);
    void MakeRenames();
    bool OnOneMount(const std::string& from, const std::string& to);
    void CollectRenames(bool wait);
    void CollectOneRename();
    std::optional<std::string> StartCopy(Copy& copy);
    void CopyAcrossSideBySide(const std::string& from, const std::string& to);
    void CollectCopies(bool wait);
    void CollectOneCopy();
    void TakeCopy(Copy copy);
    void Abandon(const Batch& batch);
    void MakeLink(const std::string& from, const std::string& to);
    void CopyAcross(const std::string& from, const std::string& to);
    void StartCompleting();
    void CollectCompleted();
    void Deliver(const Outcomes& outcomes);
    void Release(const Batch& batch);
    Outcomes Complete(const Batch& batch);
    std::optional<std::string> RemoveSource(const Copy& copy, const MovedFile* record);

    fs::FileSystem& system_;
    MoveOutcome outcome_;  // the caller's, noting each source that failed
    std::unordered_set<std::string> failed_;
    // Whether a move of `from` already failed in this run (most runs have no failure).
    bool FailedBefore(const std::string& from) const {
        return !failed_.empty() && failed_.contains(from);
    }
    Transfer transfer_;
    MoveLog* log_;
    BatchBounds bounds_;
    std::string runTag_;
    std::vector<std::string> linkedFolders_;
    Renames renaming_;
    std::unordered_map<std::string, bool> oneMount_;  // by the two folders, apart by a NUL
    struct FolderPair {
        std::string from;
        std::string to;
        bool oneMount = false;
    };
    std::optional<FolderPair> lastPair_;
    Batch building_;
    Batch completing_;                        // read by that thread until `completed_` is ready
    std::unordered_set<std::string> inHand_;  // the sources of the renames and both batches
    std::future<Outcomes> completed_;
    CallPool* pool_;
    std::deque<PendingRename> renames_;
    // Copies being made through the pool; each Copy stays where its call writes it.
    std::deque<std::pair<std::unique_ptr<Copy>, std::future<std::optional<std::string>>>> copies_;
    std::atomic<bool> stopping_ = false;  // read by the completing thread
};

// Why the archive `from` could not take the name `to`, in the words a report gives: a name
// taken by the same bytes says so.
std::string ReasonFor(fs::FileSystem& system, const fs::Failure& failure, const std::string& from,
                      const std::string& to);

// The folder part of a path without its trailing separator, and the last name.
std::string FolderOf(const std::string& path);
std::string_view FolderPart(std::string_view path);
std::string_view NameOf(std::string_view path);

}  // namespace lorvex
