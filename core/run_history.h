// The runs lorvex keeps: each move run writes a journal in the user's state folder
// (runs/<id>.log), from which `--runs` lists the recent runs and `--undo` puts a run's
// archives back where they came from.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "file_system.h"
#include "mover.h"
#include "pass.h"
#include "run_journal.h"

namespace lorvex {

// How many journals are kept; older ones are dropped when a run starts.
inline constexpr std::size_t kRunsKept = 100;

// The folder of the journals, ending in a separator; throws LorvexError when the
// environment names no state folder.
std::string RunsDirectory();

// The journal of one move run, written as the run goes.
class RunJournal : public MoveLog {
public:
    // Makes the folders and a new journal, writes `run`'s header (its id is set here) and
    // puts it on disk, then drops journals beyond the last kRunsKept. Throws LorvexError
    // naming the path and the reason, before anything is moved.
    RunJournal(fs::FileSystem& system, RunJournalText run);
    ~RunJournal() override;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // A folder this run made, so that an undo can remove it again when it is empty.
    void FolderCreated(const std::string& path);
    // A folder this run emptied and removed, so that an undo can make it again.
    void FolderRemoved(const std::string& path);
    std::optional<std::string> RecordAhead(const std::vector<MovedFile>& files,
                                           std::uint64_t& batch) override;
    void BatchMade(std::uint64_t batch) override;
    void Withdraw(const MovedFile& file) override;
    // The run's end: a run that moved and made nothing leaves no journal.
    void Finish();

    const std::string& Path() const { return path_; }
    const std::string& Id() const { return id_; }
    // Why the journal could not be written, once it could not: the run must stop, as undo
    // would not find what it moved from then on.
    std::optional<std::string> Failure() const;

private:
    void PruneJournals(const std::vector<std::string>& earlier);
    std::optional<std::string> Write(const std::string& lines, bool durable);
    std::string FromRoot(const std::string& path) const;
    void AppendRecord(std::string& out, std::string_view key, const MovedFile& file) const;

    fs::FileSystem& system_;
    mutable std::mutex mutex_;  // batches across file systems are recorded from the mover's thread
    std::optional<std::string> failure_;
    fs::Handle file_ = fs::kNoHandle;
    fs::Handle lock_ = fs::kNoHandle;  // held while the run goes on
    std::string id_;
    bool nameDurable_ = false;  // the journal's own name flushed into its folder
    std::string path_;
    // The run's two directories as given and from the root (also as written in a record):
    // a record's path is made absolute by its prefix, without asking the system for each.
    struct Root {
        std::string given;
        std::string absolute;
        std::string escaped;
    };
    std::vector<Root> roots_;
    // Lines that need not be on disk at once (a withdrawal), written with the next.
    std::string gathered_;
    std::uint64_t batches_ = 0;           // recorded ahead so far
    std::atomic<bool> eventful_ = false;  // something was made or moved
    std::atomic<bool> moved_ = false;
};

// Each journal's id, oldest first.
std::vector<std::string> RunIds(fs::FileSystem& system);

// The text of `--runs`: the recent runs, the newest first.
std::string RunsListText(fs::FileSystem& system);

struct UndoResult {
    std::string runId;
    std::int64_t movedBack = 0;
    // Archives an error kept (not a change or a taken name, which are the user's doing).
    std::int64_t unsettled = 0;
    std::vector<MoveFailure> failed;   // the archive's current path, and why it stayed
    std::vector<PlannedMove> planned;  // a dry run's moves back
    std::vector<std::string> foldersRemoved;
    bool dryRun = false;
    // Archives not looked at because the undo was asked to stop.
    std::int64_t notTried = 0;
    // Lines of the journal that could not be read: what they named stays where it is.
    std::int64_t unreadable = 0;
};

// Moves every archive of the run `id` ("" for the newest run not yet undone) back where it
// was, never replacing anything; an archive changed since the run stays where it is. Then
// marks the run undone and removes the empty folders it had made. Throws LorvexError when
// there is no such run or its journal cannot be read.
// A dry run takes the same steps over a file system that changes nothing. `progress` (may
// be null) hears of every archive, and may stop the undo there.
UndoResult UndoRun(fs::FileSystem& system, const std::string& id, bool dryRun,
                   PassProgress* progress = nullptr);

// Whether an undo put back all it could read: nothing kept by an error, stopped, or
// unreadable.
bool UndoSettled(const UndoResult& result);

std::string UndoReportText(const UndoResult& result);

}  // namespace lorvex
