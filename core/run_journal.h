// The journal of a move run, in lines a person can read: what the run was asked to do,
// the folders it made, and one record per archive it moved, with the archive's size and
// modification time so that an undo can tell the archive is still the one that was moved.
// Writing and reading lines only; no I/O.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace lorvex {

struct RunRecord {
    std::string moved;     // where the archive is now
    std::string original;  // where it was
    fs::FileFacts facts;
    // False for a move recorded ahead whose batch the journal never marked made: it was
    // moved only if it is found at its new name.
    bool made = true;
    std::uint64_t batch = 0;
};

// The keys of a record: a move made (as older versions wrote it), and a move recorded
// before it is made, in a batch.
inline constexpr std::string_view kMovedKey = "moved";
inline constexpr std::string_view kMovingKey = "moving";

struct RunJournalText {
    std::string id;        // e.g. "20261207-164131", the journal's file name without ".log"
    std::string started;   // e.g. "2026-12-07 16:41:31 UTC"
    std::string category;  // "--all" for every category
    std::string searchdir;
    std::string destdir;
    std::vector<std::string> createdFolders;  // in the order they were made
    std::vector<RunRecord> records;           // withdrawn moves left out
    std::vector<std::string> undone;          // one line of what each undo did
    std::int64_t notBack = 0;  // archives the last undo that left some could not put back
    // Journals that mark their end ("ended"): one without the mark is of a run that never
    // finished. Older journals have neither.
    bool marksEnd = false;
    bool ended = false;
    // Lines that could not be read: cut short by a power cut or a full disk, or damaged.
    std::int64_t unreadable = 0;
    // Folders the run removed once it had emptied them (a re-sort), which undo makes again.
    std::vector<std::string> removedFolders{};
};

// The lines up to the first record.
std::string JournalHeader(const RunJournalText& run);
std::string CreatedFolderLine(std::string_view path);
std::string RemovedFolderLine(std::string_view path);
std::string RecordLine(const RunRecord& record);
// The pieces of a line, appended to `out`: a path with its tabs, line ends and backslashes
// escaped, and a modification time as ReadableModified writes it.
void AppendEscaped(std::string& out, std::string_view text);
void AppendModified(std::string& out, fs::FileTime time);
// The start of a batch of records written ahead, and the mark that its moves are made.
std::string BatchLine(std::uint64_t batch);
std::string BatchMadeLine(std::uint64_t batch);
// The run's end, when it was not killed.
std::string EndedLine(std::string_view when);
// A move recorded before it was made, and then not made.
std::string WithdrawnLine(std::string_view moved);
std::string UndoneLine(std::string_view when, std::string_view what);
// An undo that an error kept from putting `count` archives back: the run is not undone.
std::string NotBackLine(std::string_view when, std::int64_t count, std::string_view what);

// Reads a journal; lines it does not know are skipped, and a record it cannot read (a last
// line cut short, bytes a power cut left) is counted in `unreadable`.
RunJournalText ParseJournal(std::string_view text);

// "20261207-164131" and "2026-12-07 16:41:31 UTC", in UTC.
std::string RunIdAt(std::chrono::system_clock::time_point when);
std::string ReadableTime(std::chrono::system_clock::time_point when);

// A modification time as "2026-12-07 16:41:31.123456789 UTC", and back: any year a file
// system can hold, before year 1 ("-0044-03-15 ...") and past 9999 included.
std::string ReadableModified(fs::FileTime time);
std::optional<fs::FileTime> ParseModified(std::string_view text);

}  // namespace lorvex
