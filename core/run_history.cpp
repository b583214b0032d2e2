#include "run_history.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "dry_run_file_system.h"
#include "errors.h"
#include "platform.h"
#include "runs_list.h"
#include "terminal.h"

namespace lorvex {
namespace {

constexpr std::string_view kJournalExtension = ".log";
constexpr std::size_t kRecordsGathered = 64;

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
bool StillThere(fs::FileSystem& system, const RunRecord& record) {
    const fs::Status status = system.StatusOf(record.moved);
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
            const std::string_view number = std::string_view(each).substr(id.size());
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
        roots_.emplace_back(*directory, absolute);
        *directory = std::move(absolute);
    }
    if (const auto failure = Write(JournalHeader(run), false)) {
        throw fail(Quoted(path_) + ": " + *failure);
    }
    // The folder as listed before this run's journal was made, which sorts after them all:
    // read once per run, not again for the pruning.
    for (std::size_t i = 0; i + kRunsKept < earlier.size() + 1; ++i) {
        system_.Remove(JournalPath(earlier[i]));
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

std::optional<std::string> RunJournal::Record(const std::vector<MovedFile>& files, bool durable) {
    eventful_ = true;
    std::string lines;
    for (const auto& file : files) {
        AppendRecord(lines, file.from, file.to, file.facts);
    }
    if (const auto failure = Write(lines, durable)) {
        return "cannot write the run's journal " + Quoted(path_) + ": " + *failure;
    }
    return std::nullopt;
}

void RunJournal::RecordRename(const std::string& from, const std::string& to,
                              const fs::FileFacts& facts) {
    eventful_ = true;
    {
        const std::lock_guard lock(mutex_);
        AppendRecord(gathered_, from, to, facts);
        if (++gatheredRecords_ < kRecordsGathered) {
            return;
        }
    }
    Write({}, false);
}

// The record line built in place: the hot path of a move within one file system.
void RunJournal::AppendRecord(std::string& out, const std::string& from, const std::string& to,
                              const fs::FileFacts& facts) const {
    const auto appendFromRoot = [&](const std::string& path) {
        for (const auto& [given, absolute] : roots_) {
            if (!given.empty() && path.starts_with(given)) {
                AppendEscaped(out, absolute);
                AppendEscaped(out, std::string_view(path).substr(given.size()));
                return;
            }
        }
        AppendEscaped(out, system_.Absolute(path));
    };
    out += "moved\t";
    appendFromRoot(to);
    out += '\t';
    appendFromRoot(from);
    out += '\t';
    out += std::to_string(facts.size);
    out += " bytes\t";
    AppendModified(out, facts.modified);
    out += '\n';
}

void RunJournal::Withdraw(const MovedFile& file) { Write(WithdrawnLine(FromRoot(file.to)), false); }

std::string RunJournal::FromRoot(const std::string& path) const {
    for (const auto& [given, absolute] : roots_) {
        if (!given.empty() && path.starts_with(given)) {
            return absolute + path.substr(given.size());
        }
    }
    return system_.Absolute(path);
}

void RunJournal::Finish() {
    // On disk before the report, so that a power cut after a run that said it moved its
    // archives cannot take away what undo needs to put them back.
    Write({}, eventful_);
    if (!eventful_) {
        system_.Close(std::exchange(file_, fs::kNoHandle));
        system_.Close(std::exchange(lock_, fs::kNoHandle));
        system_.Remove(path_);
    }
}

std::optional<std::string> RunJournal::Write(const std::string& lines, bool durable) {
    const std::lock_guard lock(mutex_);
    // Whatever was gathered goes first, so that the journal keeps the order of events.
    auto failure = system_.Append(file_, std::exchange(gathered_, {}) + lines);
    gatheredRecords_ = 0;
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
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string RunsListText(fs::FileSystem& system) {
    const std::vector<std::string> ids = RunIds(system);
    if (ids.empty()) {
        return "No runs yet; the journal of each move is kept in " + RunsDirectory();
    }
    std::vector<RunLine> runs;
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        RunJournalText run;
        try {
            run = ReadRun(system, *id);
        } catch (const LorvexError&) {
            continue;  // removed meanwhile, or not readable: nothing to list or undo
        }
        const auto there =
            std::count_if(run.records.begin(), run.records.end(),
                          [&](const RunRecord& record) { return StillThere(system, record); });
        runs.push_back({run.id, run.started, run.category, run.destdir,
                        static_cast<std::int64_t>(run.records.size()), there, !run.undone.empty(),
                        run.undone.empty() ? run.notBack : 0});
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
    for (auto candidate = ids.rbegin(); candidate != ids.rend(); ++candidate) {
        if (ReadRun(system, *candidate).undone.empty()) {
            return *candidate;
        }
    }
    throw LorvexError("no run to undo in " + Quoted(RunsDirectory()));
}

// Why the archive of `record` cannot go back, or nothing; true in `back` when it already is.
std::optional<std::string> WhyNotBack(fs::FileSystem& system, const RunRecord& record, bool& back) {
    const fs::Status now = system.StatusOf(record.moved);
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

UndoResult UndoRun(fs::FileSystem& real, const std::string& id, bool dryRun) {
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
    Mover mover(system, [&](const std::string& from, const std::optional<std::string>& reason) {
        // The run was stopped between its copy and the removal of the source: the archive is
        // back already, and the copy with the same bytes is not needed.
        if (reason && *reason == kSameContentsReason && !system.Remove(from)) {
            ++result.movedBack;
        } else if (reason) {
            result.failed.push_back({from, *reason});
            // An old name taken since is the user's to decide; any other reason is an error
            // that a later undo may get past.
            result.unsettled += *reason == system.Words(fs::Error::Exists) ? 0 : 1;
        } else {
            ++result.movedBack;
        }
    });
    for (auto record = run.records.rbegin(); record != run.records.rend(); ++record) {
        bool back = false;
        if (const auto why = WhyNotBack(system, *record, back)) {
            result.failed.push_back({record->moved, *why});
            continue;
        }
        if (back) {
            continue;
        }
        // A search folder removed since the run is made again.
        if (const auto failure = MakeDirectories(system, ParentOf(record->original))) {
            result.failed.push_back({record->moved, failure->Message()});
            ++result.unsettled;
            continue;
        }
        if (dryRun) {
            result.planned.push_back({record->moved, record->original});
        }
        mover.Move(record->moved, record->original);
    }
    mover.Finish();
    if (dryRun) {
        // Only what went back is planned: the moves that would fail are named as failures.
        std::erase_if(result.planned, [&](const PlannedMove& move) {
            return std::any_of(
                result.failed.begin(), result.failed.end(),
                [&](const MoveFailure& failure) { return failure.archive == move.archive; });
        });
        return result;
    }
    // A run killed outright leaves the lock it held in its destination.
    std::string lock = run.destdir;
    if (!lock.empty() && lock.back() != platform::kSeparator) {
        lock += platform::kSeparator;
    }
    lock += RunLockName(RunTag(result.runId));
    if (system.IsLocked(lock) == false) {
        system.Remove(lock);
    }
    RemoveCreatedFolders(system, run, result);
    // "undone" only once every archive is back or left by the user's own doing (changed,
    // or its old name taken): a run with archives an error kept stays the one a plain
    // --undo takes.
    const std::string when = ReadableTime(std::chrono::system_clock::now());
    const std::string what = Files(result.movedBack) + " moved back, " +
                             Files(static_cast<std::int64_t>(result.failed.size())) + " not";
    fs::Handle journal = fs::kNoHandle;
    if (!system.OpenForAppend(JournalPath(result.runId), false, journal)) {
        system.Append(journal, result.unsettled == 0 ? UndoneLine(when, what)
                                                     : NotBackLine(when, result.unsettled, what));
        const fs::Handle files[] = {journal};
        system.FlushFiles(files);
        system.Close(journal);
    }
    return result;
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
    if (result.dryRun) {
        return text + " " + Files(static_cast<std::int64_t>(result.planned.size())) +
               " would be moved back (run " + result.runId + ").";
    }
    return text + " " + Files(result.movedBack) + " moved back where run " + result.runId +
           " found them.";
}

}  // namespace lorvex
