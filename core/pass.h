// One sorting pass: made from the map text and a request, it checks every name of the
// request's categories once, moves (or in a dry run plans) each archive that is there and
// not empty, and ends in a result. All state of the pass lives here, and dies with it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "call_pool.h"
#include "file_system.h"
#include "folder_listing.h"
#include "interfaces.h"
#include "list_mode.h"
#include "mover.h"

namespace lorvex {

class RunJournal;

struct MoveFailure {
    std::string archive;  // file name, e.g. "album.zip"
    std::string reason;
};

// One category of a pass over several, and the directory its archives go to (ending in
// a separator; its parents below the pass's destination are made as needed).
struct CategoryTarget {
    std::string category;
    std::string destdir;
};

// An archive a re-sort found by listing its tree: its full path, and the place in the
// request's targets of the folder it goes to.
struct ListedArchive {
    std::string path;
    std::size_t target = 0;
};

// What one sorting pass is asked to do. Directories end in a separator.
struct PassRequest {
    std::string category;
    std::string searchdir;
    std::string destdir;
    ListMode listMode = ListMode::Full;
    // When not empty, the pass sorts each of these categories into its own directory
    // instead of `category` into `destdir`, and the first map line naming an archive
    // decides where it goes.
    std::vector<CategoryTarget> targets{};
    bool dryRun = false;  // decide every move but make none, and create nothing
    Transfer transfer = Transfer::Move;
    // Write the run's journal (a real move only), so that it can be listed and undone.
    bool journal = false;
    // What the run's temporary copies carry, so that other runs know whose they are.
    std::string runTag{};
    // When not empty, these archives go to their targets instead of the map's names in the
    // search directory: a re-sort found them by listing, so none is looked for by name.
    std::vector<ListedArchive> listed{};
    // Folders the caller has just listed and found no temporary copy or run lock in: the
    // pass does not list them again for leftovers (on a share each listing is slow).
    std::unordered_set<std::string> withoutLeftovers{};
};

struct PlannedMove {
    std::string archive;  // file name, e.g. "album.zip"
    std::string target;   // full path it would be moved to
};

struct CategoryCount {
    std::string category;
    std::int64_t moved = 0;
};

struct PassResult {
    std::int64_t moved = 0;
    std::vector<MoveFailure> failed;  // archives found but not moved, with the reason
    bool cancelled = false;
    bool dryRun = false;
    Transfer transfer = Transfer::Move;
    std::vector<PlannedMove> planned;  // a dry run's moves, in map order
    // A pass over several categories: each that moved (or would move) something, the
    // largest count first.
    std::vector<CategoryCount> perCategory;
    // Temporary copies an interrupted earlier move had left in the destination folders,
    // removed before this pass moved anything there.
    std::size_t leftoversRemoved = 0;
    // Folders holding temporary copies that no run on this machine holds, on a file system
    // other machines reach: they may be another machine's run's, and are left alone.
    std::vector<std::string> leftoversKept;
    // Why the run stopped before its end although nobody asked it to (its journal could not
    // be written); "" when it did not.
    std::string stopped{};
    // A dry run that found a volume too full, where its room can only be estimated.
    bool spaceEstimated = false;
    // A dry run's word that the real run's journal would not fit; "" when it would.
    std::string journalRoom{};
};

// What a file measured for a pass is; only Full has an archive to move.
enum class FileState { Missing = -1, Empty = 0, Full = 1 };

// What `path` is for a pass: a regular file (also through a link), empty or not.
FileState MeasureFile(fs::FileSystem& system, const std::string& path);

// Stops a pass before it starts when nothing can be put into the existing directory
// `destdir` (a read-only file system, no right to write there): one message instead of one
// failure per archive. Throws LorvexError.
void RequireWritableDestination(fs::FileSystem& system, const std::string& destdir);

// Stops a link pass before it starts when no link could be made from `searchdir` into
// `destdir` (another mount for a hard link, a file system without links). Throws
// LorvexError.
void RequireLinkable(fs::FileSystem& system, const std::string& searchdir,
                     const std::string& destdir, Transfer transfer);

// A folder that could not be made, and why.
struct FolderFailure {
    std::string folder;
    std::string reason;
    std::string Message() const;  // "cannot create folder "...": reason"
};

// Makes `path` (ending in a separator) and every missing folder above it, from the
// position `from` on, telling `made` of each folder it made; the first that cannot be made
// stops it. Folders in `there` are taken as there, and each made or found joins it.
std::optional<FolderFailure> MakeFolders(fs::FileSystem& system, const std::string& path,
                                         std::size_t from,
                                         const std::function<void(const std::string&)>& made,
                                         std::unordered_set<std::string>* there = nullptr);

// What an interrupted earlier run left in a folder: temporary copies removed, and whether
// some were kept because other machines reach the folder and may be writing them.
struct Leftovers {
    std::size_t removed = 0;
    bool kept = false;
};

// Removes the temporary copies in `folder` (ending in a separator) of runs that have ended,
// and their locks, before a run tagged `ownTag` puts anything there.
Leftovers RemoveLeftovers(fs::FileSystem& system, const std::string& folder,
                          std::string_view ownTag);

// The lock a run holds in a folder it puts archives into for as long as it lives, so that
// another run there leaves its temporary copies alone. Without it (a folder that takes no
// new file) the run goes on: it could put nothing there either.
class RunLock {
public:
    RunLock(fs::FileSystem& system, std::string path);
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock();

private:
    fs::FileSystem& system_;
    std::string path_;
    fs::Handle handle_ = fs::kNoHandle;
};

class Pass {
public:
    // `mapText` must outlive the pass; `progress` (may be null) hears of every name. A dry
    // run's `system` is one that changes nothing.
    Pass(fs::FileSystem& system, std::string_view mapText, PassRequest request,
         PassProgress* progress);
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    // The journal that hears of every folder the pass makes and every archive it moves.
    void SetJournal(RunJournal* journal) { journal_ = journal; }

    PassResult Run();

private:
    static constexpr std::string_view kArchiveExtension = ".zip";
    static constexpr std::size_t kOnlyTarget = 0;
    // A share sends a page of a hundred or more names for one round trip, and a local
    // listing reads names far faster than it looks them up.
    static constexpr std::int64_t kNamesListedPerLookUp = 64;

    // A name to check, and the place in the request's targets of the folder it goes to.
    struct Candidate {
        std::string_view name;
        std::size_t target;
        std::string_view path{};  // a listed archive's own full path
    };

    void CollectCandidates();
    bool ListSearchFolder();
    bool OnAShare();
    void MakeFoldersAhead();
    bool CheckCandidate(std::size_t index);
    fs::Status StatusOfCandidate(std::size_t index);
    std::optional<std::string> PrepareFolder(std::size_t target);
    void RemoveLeftovers(const std::string& folder);
    void RemoveEmptyFoldersMade();
    bool JournalFailed();
    void RecordOutcome(const std::string& from, const std::optional<std::string>& reason);
    void CountMoved(std::size_t target);
    void SortPerCategory();
    void SortFailuresInMapOrder();
    bool SortsSeveral() const { return !request_.targets.empty(); }
    const std::string& FolderOf(std::size_t target) const;

    fs::FileSystem& system_;
    std::string_view mapText_;
    PassRequest request_;
    PassProgress* progress_;
    PassResult result_;
    std::vector<Candidate> candidates_;     // views into the map text, each name once
    std::optional<FolderListing> listing_;  // of the search folder
    std::int64_t checked_ = 0;
    // Each target's folder: made, or why it could not be; and what it moved.
    std::vector<bool> folderReady_;
    std::vector<std::optional<std::string>> folderFailures_;
    std::vector<std::int64_t> movedPerTarget_;
    std::vector<std::string> foldersMade_;          // in the order they were made
    std::unordered_set<std::string> foldersThere_;  // known to be folders
    std::unordered_set<std::string> madeHere_;      // of those, the ones this pass made
    // On a share: calls side by side, and the statuses of the next names to look up, by
    // their place among the candidates.
    CallPool* pool_ = nullptr;
    std::deque<std::pair<std::size_t, std::future<fs::Status>>> lookAhead_;
    std::size_t lookedAheadTo_ = 0;
    // The paths asked ahead: a name the map lists twice is asked again at its own turn, as
    // the answer from before the first was moved is out of date by then.
    std::unordered_set<std::string> askedAhead_;
    // Archives the mover has in hand, and the target each goes to.
    std::unordered_map<std::string, std::size_t> pendingTargets_;
    // Work buffers kept across archives, so that a pass allocates no strings per archive.
    std::string sourcePath_;
    std::string targetPath_;
    Mover* mover_ = nullptr;
    RunJournal* journal_ = nullptr;
};

}  // namespace lorvex
