#include "run_history.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

#include "call_pool.h"
#include "dry_run_file_system.h"
#include "errors.h"
#include "parent_folder.h"
#include "platform.h"
#include "runs_list.h"
#include "terminal.h"

namespace lorvex {
namespace {

constexpr std::string_view kJournalExtension = ".log";
// The end of the id of a run that moved nothing but made folders.
constexpr std::string_view kFoldersOnly = "-folders";

std::string JournalPath(const std::string& id) {
    return RunsDirectory() + id + std::string(kJournalExtension);
}

std::string ParentOf(const std::string& path) {
    const auto end = path.find_last_not_of(platform::kSeparator);
    const auto separator = path.find_last_of(platform::kSeparator, end);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Makes `path` (ending in a separator) and every missing folder above it; the first that
// cannot be made is the one told, with its own reason.
std::optional<FolderFailure> MakeDirectories(fs::FileSystem& system, const std::string& path) {
    return MakeFolders(system, path, 0, nullptr);
}

RunJournalText ReadRun(fs::FileSystem& system, const std::string& id) {
    std::string text;
    const std::string path = JournalPath(id);
    if (const auto failure = system.ReadAll(path, text)) {
        throw DataFileError("cannot read run journal " + Quoted(path) + ": " + failure->reason);
    }
    RunJournalText run = ParseJournal(text);
    run.id = id;
    return run;
}

// An archive is still the one a run moved when its size and modification time are.
// `status` is what is at the record's new name now.
bool StillThere(const RunRecord& record, const fs::Status& status) {
    return status.kind != fs::Kind::Missing && status.facts == record.facts;
}

std::string Files(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

std::string RunsDirectory() {
    const std::string state = platform::UserStateDirectory();
    if (state.empty()) {
        throw LorvexError(
            "no folder for the run journals: set HOME or XDG_STATE_HOME (or move with "
            "--no-journal)");
    }
    return state + platform::kSeparator + "runs" + platform::kSeparator;
}

RunJournal::RunJournal(fs::FileSystem& system, RunJournalText run) : system_(system) {
    const std::string directory = RunsDirectory();
    const auto fail = [&](const std::string& reason) {
        return LorvexError("cannot write the run's journal " + reason +
                           " (nothing was moved; --no-journal moves without one)");
    };
    if (const auto failure = MakeDirectories(system_, directory)) {
        throw fail(Quoted(directory) + ": " + failure->reason);
    }
    const auto now = std::chrono::system_clock::now();
    const std::string id = RunIdAt(now);
    // Runs in one second get "-000002", "-000003"..., which sort after the first; counted on
    // from the last of that second, so that no id comes twice, even after older ones went.
    const std::vector<std::string> earlier = RunIds(system_);
    int attempt = 1;
    for (const auto& each : earlier) {
        if (each.starts_with(id)) {
            std::string_view number = std::string_view(each).substr(id.size());
            if (number.ends_with(kFoldersOnly)) {
                number.remove_suffix(kFoldersOnly.size());
            }
            attempt = std::max(attempt, number.size() == 7 ? std::atoi(number.data() + 1) : 1);
        }
    }
    for (;; ++attempt) {
        std::string number = std::to_string(attempt);
        number.insert(0, number.size() < 6 ? 6 - number.size() : 0, '0');
        run.id = attempt == 1 ? id : id + "-" + number;
        path_ = directory + run.id + std::string(kJournalExtension);
        const auto failure = system_.OpenForAppend(path_, true, file_);
        if (!failure) {
            break;
        }
        if (failure->kind == fs::Error::Exists && attempt < 999'999) {
            continue;
        }
        throw fail(Quoted(path_) + ": " + failure->reason);
    }
    id_ = run.id;
    // Held until the run ends, so that an undo can tell the run is still going.
    system_.Lock(path_, lock_);
    run.started = ReadableTime(now);
    // Paths from the root, so that an undo finds them from any folder.
    for (std::string* directory : {&run.searchdir, &run.destdir}) {
        std::string absolute = system_.Absolute(*directory);
        std::string escaped;
        AppendEscaped(escaped, absolute);
        roots_.push_back({*directory, absolute, std::move(escaped)});
        *directory = std::move(absolute);
    }
    if (const auto failure = Write(JournalHeader(run), false)) {
        throw fail(Quoted(path_) + ": " + *failure);
    }
    PruneJournals(earlier);
}

// Keeps the journals of the last kRunsKept runs that moved something, this one included,
// and of the runs since that only made folders. `earlier` is the folder as listed before
// this run's journal was made, which sorts after them all: read once per run.
void RunJournal::PruneJournals(const std::vector<std::string>& earlier) {
    std::vector<std::string_view> moving;
    for (const auto& id : earlier) {
        if (!id.ends_with(kFoldersOnly)) {
            moving.push_back(id);
        }
    }
    if (moving.size() + 1 <= kRunsKept) {
        return;
    }
    const std::string_view oldestKept = moving[moving.size() + 1 - kRunsKept];
    for (const auto& id : earlier) {
        if (id < oldestKept) {
            system_.Remove(JournalPath(id));
        }
    }
}

RunJournal::~RunJournal() {
    system_.Close(file_);
    system_.Close(lock_);
}

void RunJournal::FolderCreated(const std::string& path) {
    eventful_ = true;
    Write(CreatedFolderLine(FromRoot(path)), false);
}

void RunJournal::FolderRemoved(const std::string& path) {
    eventful_ = true;
    Write(RemovedFolderLine(FromRoot(path)), false);
}

std::optional<std::string> RunJournal::RecordAhead(const std::vector<MovedFile>& files,
                                                   std::uint64_t& batch) {
    eventful_ = true;
    moved_ = true;
    {
        const std::lock_guard lock(mutex_);
        batch = ++batches_;
    }
    std::string lines = BatchLine(batch);
    for (const auto& file : files) {
        AppendRecord(lines, kMovingKey, file);
    }
    if (const auto failure = Write(lines, true)) {
        return "cannot write the run's journal " + Quoted(path_) + ": " + *failure;
    }
    return std::nullopt;
}

void RunJournal::BatchMade(std::uint64_t batch) { Write(BatchMadeLine(batch), false); }

// The record line built in place: the hot path of a move within one file system.
void RunJournal::AppendRecord(std::string& out, std::string_view key, const MovedFile& file) const {
    const auto appendFromRoot = [&](const std::string& path) {
        for (const auto& root : roots_) {
            if (!root.given.empty() && path.starts_with(root.given)) {
                out += root.escaped;
                AppendEscaped(out, std::string_view(path).substr(root.given.size()));
                return;
            }
        }
        AppendEscaped(out, system_.Absolute(path));
    };
    out += key;
    out += '\t';
    appendFromRoot(file.to);
    out += '\t';
    appendFromRoot(file.from);
    out += '\t';
    out += std::to_string(file.facts.size);
    out += " bytes\t";
    AppendModified(out, file.facts.modified);
    out += '\n';
}

void RunJournal::Withdraw(const MovedFile& file) {
    const std::lock_guard lock(mutex_);
    gathered_ += WithdrawnLine(FromRoot(file.to));
}

std::string RunJournal::FromRoot(const std::string& path) const {
    for (const auto& root : roots_) {
        if (!root.given.empty() && path.starts_with(root.given)) {
            return root.absolute + path.substr(root.given.size());
        }
    }
    return system_.Absolute(path);
}

void RunJournal::Finish() {
    // On disk before the report, so that a power cut after a run that said it moved its
    // archives cannot take away what undo needs to put them back.
    Write(EndedLine(ReadableTime(std::chrono::system_clock::now())), eventful_);
    if (moved_) {
        return;
    }
    system_.Close(std::exchange(file_, fs::kNoHandle));
    system_.Close(std::exchange(lock_, fs::kNoHandle));
    if (!eventful_) {
        system_.Remove(path_);
        return;
    }
    // A run that only made folders keeps what undo needs to remove them, under a name that
    // tells it from the runs that moved something without reading it.
    const std::string foldersOnly =
        RunsDirectory() + id_ + std::string(kFoldersOnly) + std::string(kJournalExtension);
    if (!system_.RenameNoReplace(path_, foldersOnly)) {
        path_ = foldersOnly;
        id_ += kFoldersOnly;
    }
}

std::optional<std::string> RunJournal::Write(const std::string& lines, bool durable) {
    const std::lock_guard lock(mutex_);
    // Whatever was gathered goes first, so that the journal keeps the order of events.
    auto failure = system_.Append(file_, std::exchange(gathered_, {}) + lines);
    if (!failure && durable) {
        const fs::Handle files[] = {file_};
        failure = system_.FlushFiles(files);
        // The first flush puts the journal's own name on disk too.
        if (!failure && !nameDurable_) {
            failure = system_.FlushFolder(RunsDirectory());
            nameDurable_ = !failure;
        }
    }
    if (failure && !failure_) {
        failure_ = "cannot write the run's journal " + Quoted(path_) + ": " + failure->reason;
    }
    return failure ? std::optional(failure->reason) : std::nullopt;
}

std::optional<std::string> RunJournal::Failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

std::vector<std::string> RunIds(fs::FileSystem& system) {
    std::vector<std::string> ids;
    system.List(RunsDirectory(), [&](const fs::Entry& entry) {
        const std::string_view name = entry.name;
        if (entry.kind != fs::Kind::Directory && name.size() > kJournalExtension.size() &&
            name.ends_with(kJournalExtension)) {
            ids.emplace_back(name.substr(0, name.size() - kJournalExtension.size()));
        }
    });
    // In the order the runs started: "-folders" is added to an id at the run's end.
    const auto started = [](std::string_view id) {
        return id.ends_with(kFoldersOnly) ? id.substr(0, id.size() - kFoldersOnly.size()) : id;
    };
    std::sort(ids.begin(), ids.end(),
              [&](const std::string& a, const std::string& b) { return started(a) < started(b); });
    return ids;
}

namespace {

// What `--runs` says of a journal that does not tell the whole run.
std::string JournalNote(fs::FileSystem& system, const RunJournalText& run) {
    if (run.unreadable > 0) {
        return "journal cut short: " + std::to_string(run.records.size()) +
               (run.records.size() == 1 ? " archive readable" : " archives readable");
    }
    if (run.marksEnd && !run.ended) {
        return system.IsLocked(JournalPath(run.id)) == true ? "still going" : "interrupted";
    }
    return {};
}

}  // namespace

std::string RunsListText(fs::FileSystem& system) {
    const std::vector<std::string> ids = RunIds(system);
    if (ids.empty()) {
        return "No runs yet; the journal of each move is kept in " + RunsDirectory();
    }
    std::vector<RunLine> runs;
    std::optional<CallPool> pool;  // for runs into a share, where each status is a round trip
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        RunJournalText run;
        try {
            run = ReadRun(system, *id);
        } catch (const LorvexError&) {
            continue;  // removed meanwhile, or not readable: nothing to list or undo
        }
        const bool remote = !run.records.empty() && system.IsRemote(run.destdir);
        if (remote && !pool) {
            pool.emplace(kCallsInFlightOnAShare);
        }
        const auto statuses =
            AllOf(remote ? &*pool : nullptr, run.records.size(),
                  [&](std::size_t i) { return system.StatusOf(run.records[i].moved); });
        // A rename recorded ahead but never marked made counts only where it is found.
        std::int64_t moved = 0;
        std::int64_t there = 0;
        for (std::size_t i = 0; i < run.records.size(); ++i) {
            const bool still = StillThere(run.records[i], statuses[i]);
            there += still;
            moved += run.records[i].made || still;
        }
        runs.push_back({run.id, run.started, run.category, run.destdir, moved, there,
                        !run.undone.empty(), run.undone.empty() ? run.notBack : 0,
                        JournalNote(system, run)});
    }
    return RunsListing(runs, platform::TerminalColumns());
}

namespace {

// The newest run not undone yet, when none is named.
// Undoing a run that is still going would race it for its archives: stop instead.
void RequireEnded(fs::FileSystem& system, const std::string& id) {
    if (system.IsLocked(JournalPath(id)) == true) {
        throw LorvexError("run " + id +
                          " is still going; undo it once it has finished (nothing was done)");
    }
}

std::string RunToUndo(fs::FileSystem& system, const std::string& id) {
    const std::vector<std::string> ids = RunIds(system);
    if (!id.empty()) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            throw LorvexError("no run " + Quoted(id) + " in " + Quoted(RunsDirectory()) +
                              "; lorvex --runs lists them");
        }
        RequireEnded(system, id);
        return id;
    }
    // Never an older run in silence while the newest is still going.
    if (!ids.empty()) {
        RequireEnded(system, ids.back());
    }
    // A run that only made folders has nothing a user would undo by default.
    for (auto candidate = ids.rbegin(); candidate != ids.rend(); ++candidate) {
        if (candidate->ends_with(kFoldersOnly)) {
            continue;
        }
        const RunJournalText run = ReadRun(system, *candidate);
        if (run.undone.empty() && !run.records.empty()) {
            return *candidate;
        }
    }
    throw LorvexError("no run to undo in " + Quoted(RunsDirectory()));
}

// Why the archive of `record` cannot go back, or nothing; true in `back` when it already is.
std::optional<std::string> WhyNotBack(fs::FileSystem& system, const RunRecord& record,
                                      const fs::Status& now, bool& back) {
    back = false;
    if (now.kind == fs::Kind::Missing) {
        // A run killed between recording a move and removing the copy's source, or an
        // archive put back by hand: it is where it was.
        const fs::Status original = system.StatusOf(record.original);
        back = original.kind != fs::Kind::Missing && original.facts == record.facts;
        return back ? std::nullopt : std::optional<std::string>("no longer there");
    }
    if (now.facts != record.facts) {
        return "changed since the run (its size or modification time is not the recorded "
               "one); left where it is";
    }
    return std::nullopt;
}

void RemoveCreatedFolders(fs::FileSystem& system, const RunJournalText& run, UndoResult& result) {
    std::vector<std::string> folders = run.createdFolders;
    // The deepest first, so that a parent is empty once its children are gone.
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const auto& folder : folders) {
        if (!system.RemoveFolder(folder)) {
            result.foldersRemoved.push_back(folder);
        }
    }
}

}  // namespace

namespace {

// Each folder an undo of `run` takes archives from or puts them into, ending in a separator.
std::set<std::string> FoldersOf(const RunJournalText& run) {
    std::set<std::string> folders;
    for (const RunRecord& record : run.records) {
        folders.insert(WithSeparator(FolderOf(record.moved)));
        folders.insert(WithSeparator(FolderOf(record.original)));
    }
    return folders;
}

// The run's own lock, left in its destination by a run killed outright.
void RemoveDeadRunLock(fs::FileSystem& system, const RunJournalText& run) {
    if (run.destdir.empty()) {
        return;  // a journal that lost its header
    }
    const std::string lock = WithSeparator(run.destdir) + RunLockName(RunTag(run.id));
    if (system.IsLocked(lock) == false) {
        system.Remove(lock);
    }
}

// The names an undo changed, on disk before it says the run is undone; false when a folder
// could not be flushed.
bool FlushFolders(fs::FileSystem& system, const std::set<std::string>& folders,
                  UndoResult& result) {
    bool flushed = true;
    for (const auto& folder : folders) {
        const auto failure = system.FlushFolder(folder);
        if (failure && failure->kind != fs::Error::NotFound) {
            result.failed.push_back({folder, "cannot be flushed: " + failure->reason});
            flushed = false;
        }
    }
    return flushed;
}

// The run's folders held while its archives go back (see FileSystem::HoldFolders).
class HeldFolders {
public:
    HeldFolders(fs::FileSystem& system, std::vector<std::string> folders) : system_(system) {
        system_.HoldFolders(folders);
    }
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;
    ~HeldFolders() { system_.ForgetFolders(); }

private:
    fs::FileSystem& system_;
};

// On a share, how many records' statuses are asked side by side before they are needed.
constexpr std::size_t kStatusesAhead = 64;

void MarkUndone(fs::FileSystem& system, const RunJournalText& run, const UndoResult& result) {
    const std::string when = ReadableTime(std::chrono::system_clock::now());
    const std::string what = Files(result.movedBack) + " moved back, " +
                             Files(static_cast<std::int64_t>(result.failed.size())) + " not";
    // A journal cut short ends mid-line: the mark starts a line of its own.
    std::string line = run.unreadable > 0 ? "\n" : "";
    line +=
        result.unsettled == 0 ? UndoneLine(when, what) : NotBackLine(when, result.unsettled, what);
    fs::Handle journal = fs::kNoHandle;
    if (!system.OpenForAppend(JournalPath(run.id), false, journal)) {
        system.Append(journal, line);
        const fs::Handle files[] = {journal};
        system.FlushFiles(files);
        system.Close(journal);
    }
}

}  // namespace

UndoResult UndoRun(fs::FileSystem& real, const std::string& id, bool dryRun,
                   PassProgress* progress) {
    std::optional<DryRunFileSystem> dry;
    fs::FileSystem& system = dryRun ? dry.emplace(real) : real;
    UndoResult result;
    result.dryRun = dryRun;
    result.runId = RunToUndo(system, id);
    const RunJournalText run = ReadRun(system, result.runId);
    // Folders the run emptied and removed come back first, empty ones included.
    for (const auto& folder : run.removedFolders) {
        MakeDirectories(system, folder.ends_with(platform::kSeparator)
                                    ? folder
                                    : folder + platform::kSeparator);
    }
    result.unreadable = run.unreadable;
    // The undo's temporary copies carry a tag of its own, and what the run or an earlier
    // undo left goes before anything is put back.
    const std::string tag = RunTag(RunIdAt(std::chrono::system_clock::now())) + "-undo";
    // On a share the calls go side by side, as a run's do: the folders' leftovers, the
    // statuses of the next archives and the moves back.
    std::optional<CallPool> pool;
    if (system.IsRemote(run.searchdir) || system.IsRemote(run.destdir)) {
        pool.emplace(kCallsInFlightOnAShare);
    }
    const std::set<std::string> folders = FoldersOf(run);
    const std::vector<std::string> listed(folders.begin(), folders.end());
    AllOf(pool ? &*pool : nullptr, listed.size(),
          [&](std::size_t i) { return RemoveLeftovers(system, listed[i], tag); });
    const RunLock lock(system, WithSeparator(run.searchdir) + RunLockName(tag));
    const HeldFolders held(system, {WithSeparator(run.searchdir), WithSeparator(run.destdir)});
    if (progress) {
        progress->PassBegins();
    }
    std::int64_t handed = 0;  // to the mover, and answered by it
    std::int64_t answered = 0;
    Mover mover(
        system,
        [&](const std::string& from, const std::optional<std::string>& reason) {
            ++answered;
            // The run was stopped between its copy and the removal of the source: the
            // archive is back already, and the copy with the same bytes is not needed.
            if (reason && *reason == kSameContentsReason && !system.Remove(from)) {
                ++result.movedBack;
            } else if (reason) {
                result.failed.push_back({from, *reason});
                // An old name taken since is the user's to decide; any other reason is an
                // error that a later undo may get past.
                result.unsettled += *reason == system.Words(fs::Error::Exists) ? 0 : 1;
            } else {
                ++result.movedBack;
            }
        },
        Transfer::Move, nullptr, tag, pool ? &*pool : nullptr);
    const auto total = static_cast<std::int64_t>(run.records.size());
    std::int64_t looked = 0;
    std::map<std::string, std::optional<FolderFailure>> madeAgain;
    std::vector<std::optional<fs::Status>> ahead;  // the statuses of the next records
    for (auto record = run.records.rbegin(); record != run.records.rend(); ++record) {
        const auto at = static_cast<std::size_t>(looked);
        if (pool && at % kStatusesAhead == 0) {
            ahead = pool->Each(std::min(kStatusesAhead, run.records.size() - at),
                               [&](std::size_t k) { return system.StatusOf(record[k].moved); });
        }
        PassStatus status{++looked, total, result.movedBack,
                          static_cast<std::int64_t>(result.failed.size()), NameOf(record->moved)};
        status.undoing = true;
        if (progress && !progress->ContinuePass(status)) {
            result.notTried = total - looked + 1;
            break;
        }
        const auto& known = pool ? ahead[at % kStatusesAhead] : std::nullopt;
        const fs::Status now = known ? *known : system.StatusOf(record->moved);
        // A rename recorded ahead of a batch that was never made: never moved.
        if (!record->made && !StillThere(*record, now)) {
            continue;
        }
        bool back = false;
        if (const auto why = WhyNotBack(system, *record, now, back)) {
            result.failed.push_back({record->moved, *why});
            continue;
        }
        if (back) {
            continue;
        }
        // A search folder removed since the run is made again: each folder asked once, as on
        // a share every level is a round trip.
        const std::string parent = ParentOf(record->original);
        auto [made, first] = madeAgain.try_emplace(parent);
        if (first) {
            made->second = MakeDirectories(system, parent);
        }
        if (made->second) {
            result.failed.push_back({record->moved, made->second->Message()});
            ++result.unsettled;
            continue;
        }
        if (dryRun) {
            result.planned.push_back({record->moved, record->original});
        }
        ++handed;
        mover.Move(record->moved, record->original);
    }
    // Stopped on a share, no new call starts; the moves it kept from starting stay.
    if (result.notTried > 0) {
        mover.Stop();
        result.notTried += handed - answered;
    } else {
        mover.Finish();
    }
    if (progress) {
        progress->PassEnds();
    }
    if (dryRun) {
        // Only what went back is planned: the moves that would fail are named as failures.
        std::erase_if(result.planned, [&](const PlannedMove& move) {
            return std::any_of(
                result.failed.begin(), result.failed.end(),
                [&](const MoveFailure& failure) { return failure.archive == move.archive; });
        });
        return result;
    }
    RemoveDeadRunLock(system, run);
    // "undone" only once every archive is back or left by the user's own doing (changed,
    // or its old name taken), and on disk: a run with archives an error kept, or that the
    // user stopped, stays the one a plain --undo takes.
    if (!FlushFolders(system, folders, result)) {
        result.unsettled = std::max<std::int64_t>(result.unsettled, 1);
    }
    RemoveCreatedFolders(system, run, result);
    result.unsettled += result.notTried;
    MarkUndone(system, run, result);
    return result;
}

bool UndoSettled(const UndoResult& result) {
    return result.unsettled == 0 && result.notTried == 0 && result.unreadable == 0;
}

std::string UndoReportText(const UndoResult& result) {
    const auto failedCount = static_cast<std::int64_t>(result.failed.size());
    std::string text;
    if (result.dryRun) {
        for (const auto& move : result.planned) {
            text += move.archive + " -> " + move.target + "\n";
        }
    }
    if (failedCount > 0) {
        text += Files(failedCount) +
                (result.dryRun ? " would not be moved back:\n" : " could not be moved back:\n");
        for (const auto& failure : result.failed) {
            text += failure.archive + ": " + failure.reason + "\n";
        }
    }
    for (const auto& folder : result.foldersRemoved) {
        text += "Removed the empty folder " + Quoted(folder) + ", which the run had made.\n";
    }
    if (result.unreadable > 0) {
        text += "The journal of run " + result.runId +
                " is cut short or damaged: " + std::to_string(result.unreadable) +
                (result.unreadable == 1 ? " line" : " lines") + " could not be read, and what " +
                (result.unreadable == 1 ? "it" : "they") + " named was not moved back.\n";
    }
    if (result.notTried > 0) {
        text += "Stopped on request: " + Files(result.notTried) +
                " not looked at; lorvex --undo takes up the run again.\n";
    }
    if (result.dryRun) {
        return text + " " + Files(static_cast<std::int64_t>(result.planned.size())) +
               " would be moved back (run " + result.runId + ").";
    }
    return text + " " + Files(result.movedBack) + " moved back where run " + result.runId +
           " found them.";
}

}  // namespace lorvex
