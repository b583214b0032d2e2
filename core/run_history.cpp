#include "run_history.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "errors.h"
#include "runs_list.h"

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

// Makes `path` and every missing folder above it; the deepest failure is the one told.
std::optional<platform::Failure> MakeDirectories(const std::string& path) {
    std::optional<platform::Failure> failure;
    for (auto end = path.find(platform::kSeparator, 1); end != std::string::npos;
         end = path.find(platform::kSeparator, end + 1)) {
        failure = platform::MakeDirectory(path.substr(0, end + 1));
    }
    if (!path.ends_with(platform::kSeparator)) {
        failure = platform::MakeDirectory(path);
    }
    return failure;
}

RunJournalText ReadRun(const std::string& id) {
    const platform::FileText text = platform::ReadWholeFile(JournalPath(id), "run journal");
    RunJournalText run = ParseJournal(text.view());
    run.id = id;
    return run;
}

// An archive is still the one a run moved when its size and modification time are.
bool StillThere(const RunRecord& record) { return platform::FactsOf(record.moved) == record.facts; }

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

RunJournal::RunJournal(RunJournalText run) {
    const std::string directory = RunsDirectory();
    const auto fail = [&](const std::string& path, const std::string& reason) {
        return LorvexError("cannot write the run's journal " + Quoted(path) + ": " + reason +
                           " (nothing was moved; --no-journal moves without one)");
    };
    if (const auto failure = MakeDirectories(directory)) {
        throw fail(directory, failure->reason);
    }
    const auto now = std::chrono::system_clock::now();
    const std::string id = RunIdAt(now);
    // Two runs in one second get "-02", "-03"..., which sort after the first.
    for (int attempt = 1;; ++attempt) {
        run.id = attempt == 1 ? id : id + (attempt < 10 ? "-0" : "-") + std::to_string(attempt);
        path_ = directory + run.id + std::string(kJournalExtension);
        const auto failure = file_.Create(path_);
        if (!failure) {
            break;
        }
        if (platform::EntryExists(path_) && attempt < 99) {
            continue;
        }
        throw fail(path_, failure->reason);
    }
    run.started = ReadableTime(now);
    // Paths from the root, so that an undo finds them from any folder.
    for (std::string* directory : {&run.searchdir, &run.destdir}) {
        std::string absolute = platform::AbsolutePath(*directory);
        roots_.emplace_back(*directory, absolute);
        *directory = std::move(absolute);
    }
    if (const auto failure = Write(JournalHeader(run), false)) {
        throw fail(path_, *failure);
    }
    const std::vector<std::string> ids = RunIds();
    for (std::size_t i = 0; i + kRunsKept < ids.size(); ++i) {
        platform::RemoveFile(JournalPath(ids[i]));
    }
}

void RunJournal::FolderCreated(const std::string& path) {
    eventful_ = true;
    Write(CreatedFolderLine(FromRoot(path)), false);
}

std::optional<std::string> RunJournal::Record(const std::vector<platform::MovedFile>& files,
                                              bool durable) {
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
                              const platform::FileFacts& facts) {
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
                              const platform::FileFacts& facts) const {
    const auto appendFromRoot = [&](const std::string& path) {
        for (const auto& [given, absolute] : roots_) {
            if (!given.empty() && path.starts_with(given)) {
                AppendEscaped(out, absolute);
                AppendEscaped(out, std::string_view(path).substr(given.size()));
                return;
            }
        }
        AppendEscaped(out, platform::AbsolutePath(path));
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

void RunJournal::Withdraw(const platform::MovedFile& file) {
    Write(WithdrawnLine(FromRoot(file.to)), false);
}

std::string RunJournal::FromRoot(const std::string& path) const {
    for (const auto& [given, absolute] : roots_) {
        if (!given.empty() && path.starts_with(given)) {
            return absolute + path.substr(given.size());
        }
    }
    return platform::AbsolutePath(path);
}

void RunJournal::Finish() {
    Write({}, false);
    // Records that must be durable were made so before any source went; a rename's record
    // reaches the system before the rename, and neither is flushed beyond that.
    if (!eventful_) {
        platform::RemoveFile(path_);
    }
}

std::optional<std::string> RunJournal::Write(const std::string& lines, bool durable) {
    const std::lock_guard lock(mutex_);
    // Whatever was gathered goes first, so that the journal keeps the order of events.
    auto failure = file_.Append(std::exchange(gathered_, {}) + lines);
    gatheredRecords_ = 0;
    if (!failure && durable) {
        failure = file_.Sync();
    }
    return failure ? std::optional(failure->reason) : std::nullopt;
}

std::vector<std::string> RunIds() {
    std::vector<std::string> ids;
    for (std::string& name : platform::FileNamesIn(RunsDirectory())) {
        if (name.size() > kJournalExtension.size() && name.ends_with(kJournalExtension)) {
            name.resize(name.size() - kJournalExtension.size());
            ids.push_back(std::move(name));
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string RunsListText() {
    const std::vector<std::string> ids = RunIds();
    if (ids.empty()) {
        return "No runs yet; the journal of each move is kept in " + RunsDirectory();
    }
    std::vector<RunLine> runs;
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        RunJournalText run;
        try {
            run = ReadRun(*id);
        } catch (const LorvexError&) {
            continue;  // removed meanwhile, or not readable: nothing to list or undo
        }
        const auto there = std::count_if(run.records.begin(), run.records.end(), StillThere);
        runs.push_back({run.id, run.started, run.category, run.destdir,
                        static_cast<std::int64_t>(run.records.size()), there, !run.undone.empty()});
    }
    return RunsListing(runs, platform::TerminalColumns());
}

namespace {

// The newest run not undone yet, when none is named.
std::string RunToUndo(const std::string& id) {
    const std::vector<std::string> ids = RunIds();
    if (!id.empty()) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            throw LorvexError("no run " + Quoted(id) + " in " + Quoted(RunsDirectory()) +
                              "; lorvex --runs lists them");
        }
        return id;
    }
    for (auto candidate = ids.rbegin(); candidate != ids.rend(); ++candidate) {
        if (ReadRun(*candidate).undone.empty()) {
            return *candidate;
        }
    }
    throw LorvexError("no run to undo in " + Quoted(RunsDirectory()));
}

// Why the archive of `record` cannot go back, or nothing; true in `back` when it already is.
std::optional<std::string> WhyNotBack(const RunRecord& record, bool& back) {
    const auto now = platform::FactsOf(record.moved);
    back = false;
    if (!now) {
        // A rename is recorded just before it is made: a run killed there never made it.
        back = platform::FactsOf(record.original) == record.facts;
        return back ? std::nullopt : std::optional<std::string>("no longer there");
    }
    if (*now != record.facts) {
        return "changed since the run (its size or modification time is not the recorded "
               "one); left where it is";
    }
    return std::nullopt;
}

void RemoveCreatedFolders(const RunJournalText& run, UndoResult& result) {
    std::vector<std::string> folders = run.createdFolders;
    // The deepest first, so that a parent is empty once its children are gone.
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const auto& folder : folders) {
        if (platform::RemoveEmptyDirectory(folder)) {
            result.foldersRemoved.push_back(folder);
        }
    }
}

}  // namespace

UndoResult UndoRun(const std::string& id, bool dryRun) {
    UndoResult result;
    result.dryRun = dryRun;
    result.runId = RunToUndo(id);
    const RunJournalText run = ReadRun(result.runId);
    platform::FileMover mover(
        [&](const std::string& from, const std::optional<platform::Failure>& failure) {
            // The run was stopped between its copy and the removal of the source: the
            // archive is back already, and the copy with the same bytes is not needed.
            if (failure && failure->reason == platform::kSameContentsReason &&
                platform::RemoveFile(from)) {
                ++result.movedBack;
            } else if (failure) {
                result.failed.push_back({from, failure->reason});
            } else {
                ++result.movedBack;
            }
        },
        nullptr, platform::Transfer::Move);
    for (auto record = run.records.rbegin(); record != run.records.rend(); ++record) {
        bool back = false;
        if (const auto why = WhyNotBack(*record, back)) {
            result.failed.push_back({record->moved, *why});
            continue;
        }
        if (back) {
            continue;
        }
        const std::string folder = ParentOf(record->original);
        if (dryRun) {
            // A name holding the recorded archive is what a run stopped before removing its
            // source leaves; the real undo compares the bytes.
            if (platform::EntryExists(record->original) &&
                platform::FactsOf(record->original) != record->facts) {
                result.failed.push_back({record->moved, Quoted(record->original) +
                                                            " is taken; it would not be replaced"});
            } else {
                result.planned.push_back({record->moved, record->original});
            }
            continue;
        }
        // A search folder removed since the run is made again.
        if (const auto failure = MakeDirectories(folder)) {
            result.failed.push_back(
                {record->moved, "cannot create folder " + Quoted(folder) + ": " + failure->reason});
            continue;
        }
        mover.Move(record->moved, record->original);
    }
    mover.Finish();
    if (dryRun) {
        return result;
    }
    RemoveCreatedFolders(run, result);
    platform::AppendFile journal;
    if (!journal.OpenExisting(JournalPath(result.runId))) {
        journal.Append(UndoneLine(ReadableTime(std::chrono::system_clock::now()),
                                  Files(result.movedBack) + " moved back, " +
                                      Files(static_cast<std::int64_t>(result.failed.size())) +
                                      " not"));
        journal.Sync();
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
