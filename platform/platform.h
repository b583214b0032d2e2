// The small set of operating-system services lorvex needs: the program's arguments and
// directory, measuring a file, creating a directory and moving a file without replacing
// anything. One implementation per system: platform_posix.cpp (with the mover in
// file_mover_posix.cpp) and platform_windows.cpp.
// Text is UTF-8 on every platform; the Windows layer converts at its API calls.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex::platform {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
inline constexpr std::string_view kExecutableName = "lorvex.exe";
#else
inline constexpr char kSeparator = '/';
inline constexpr std::string_view kExecutableName = "lorvex";
#endif

// True when `name` can only name a plain file inside a directory: it holds no separator
// or NUL, and on Windows no drive or stream colon, control character, wildcard or
// reserved device name (CON, NUL, COM1...), so that no map entry reaches elsewhere.
bool IsPlainFileName(std::string_view name);

// The words of the command line after the program's name, in UTF-8. POSIX passes them in
// `argv`; Windows reads its wide command line instead, so that any name arrives intact.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// True when standard input is a terminal, so a person is there to read the console.
bool StandardInputIsTerminal();

// True when standard error is a terminal, so a line redrawn in place is seen as one.
bool StandardErrorIsTerminal();

// Directory of the running executable, symlinks resolved, without a trailing separator.
std::string ProgramDirectory();

// The program's name as usages show it: "lorvex"; on Windows "lorvex.com" or "lorvex.exe",
// whichever is running.
std::string ExecutableName();

// The user's own folder for lorvex's data files, whether or not it exists:
// $XDG_DATA_HOME/lorvex (by default ~/.local/share/lorvex), or %APPDATA%\lorvex on Windows;
// "" when the environment names no such place.
std::string UserDataDirectory();

// True when anything at all stands under `path` (a file, a directory, a link).
bool EntryExists(const std::string& path);

// Columns of the terminal that standard error is, 0 when it is none or cannot tell.
int TerminalColumns();

// Draws `line` over the one line of progress on standard error, a terminal; "" clears it.
// A Windows console gets no escape codes, which not every console understands.
void DrawStatusLine(std::string_view line);

// The search and destination directories of a pass, held open so that each archive is
// measured and renamed relative to them: the kernel walks each directory's path once per
// pass instead of once per archive. A path not directly inside one of them, or a directory
// that could not be opened, is used by its full name as before.
class PassDirectories {
public:
    // Both end in a separator, as the pass keeps them.
    PassDirectories(const std::string& searchdir, const std::string& destdir);
    PassDirectories(const PassDirectories&) = delete;
    PassDirectories& operator=(const PassDirectories&) = delete;
    ~PassDirectories();

    struct Handles;  // what the platform holds open
    const Handles* handles() const { return handles_.get(); }

private:
    std::unique_ptr<Handles> handles_;
};

// Length in bytes of a regular file, or of the regular file a symbolic link names; nothing
// for a missing name, a dangling link, a directory or any failure.
std::optional<std::uint64_t> RegularFileLength(const std::string& path,
                                               const PassDirectories* directories = nullptr);

// The operating system's reason for a failure, e.g. "File exists".
struct Failure {
    std::string reason;
};

// Fails unless `path` is a directory whose files can be looked up by name.
std::optional<Failure> CheckSearchableDirectory(const std::string& path);

// Fails unless files may be created in the directory `path` (not a read-only file system,
// and the user has the right).
std::optional<Failure> CheckWritableDirectory(const std::string& path);

// Fails when the file `path` could certainly not be removed from its directory: a
// read-only file system, no right to change the directory, or a sticky directory that is
// neither the user's nor holds the user's file. (On Windows the file's own rights may allow
// what the directory's do not, so only a write-protected volume fails there.)
std::optional<Failure> CheckRemovable(const std::string& path);

// Fails with the system's "name too long" when `path` or its last name is longer than the
// file system allows; the last name is measured against the nearest existing directory.
std::optional<Failure> CheckNameFits(const std::string& path);

// True when both names lead to one and the same directory, however they are spelled
// (compared by device and inode, or volume and file ID); false when either cannot be reached.
bool IsSameDirectory(const std::string& first, const std::string& second);

// Creates one directory. Succeeds when the directory already exists; fails when the
// parent is missing or something that is not a directory stands under that name.
std::optional<Failure> MakeDirectory(const std::string& path);

// What a pass does with each archive: moves it, copies it (the source is never changed),
// or makes a hard or a symbolic link to it in the destination.
enum class Transfer { Move, Copy, HardLink, SymbolicLink };

// The length and modification time of a file itself (a symbolic link is not followed),
// which tell whether a moved archive is still the one that was moved.
struct FileFacts {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since 1970-01-01 UTC
    bool operator==(const FileFacts&) const = default;
};

std::optional<FileFacts> FactsOf(const std::string& path);

// What measuring an archive tells: the length of the regular file (through a symbolic
// link), and the facts of the name itself, as FactsOf gives them.
struct MeasuredFile {
    std::uint64_t length = 0;
    FileFacts facts;
};

// As RegularFileLength, with the facts of the name in the same system calls.
std::optional<MeasuredFile> MeasureRegularFile(const std::string& path,
                                               const PassDirectories* directories = nullptr);

// An archive moved to its new name, as a log of the run records it.
struct MovedFile {
    std::string from;
    std::string to;
    FileFacts facts;
};

// Hears of every move, so that a log of the run stays true to what was moved. Moves across
// file systems are recorded in batches, after the copies have their names and before any
// source goes, with `durable` set: the records are on disk before Record returns, and a
// failure keeps the batch's sources and fails those archives with the reason. A rename on
// one file system, which leaves nothing behind to lose, is recorded once it is made, and
// the log may gather such records before it writes them. A move recorded but then not
// completed is withdrawn.
class MoveLog {
public:
    virtual ~MoveLog() = default;
    virtual std::optional<std::string> Record(const std::vector<MovedFile>& files,
                                              bool durable) = 0;
    // A rename on one file system, once made, as Record(files, false) of one file.
    virtual void RecordRename(const std::string& from, const std::string& to,
                              const FileFacts& facts) = 0;
    virtual void Withdraw(const MovedFile& file) = 0;
};

// A file written by appending, for a log that must survive the program: each Append
// reaches the system at once (a killed program loses nothing of it), and Sync puts what was
// appended on disk, and the first Sync after Create the file's name too.
class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();
    // Creates `path`, which must not exist yet, or opens an existing file for appending.
    std::optional<Failure> Create(const std::string& path);
    std::optional<Failure> OpenExisting(const std::string& path);
    std::optional<Failure> Append(std::string_view text);
    std::optional<Failure> Sync();
    bool IsOpen() const { return handle_ != kClosed; }

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // a descriptor, or a Windows handle
    std::string newFolder_;           // a created file's folder, until its name is durable
};

// The user's own folder for what lorvex keeps between runs (the journals of moves), whether
// or not it exists: $XDG_STATE_HOME/lorvex (by default ~/.local/state/lorvex), or
// %LOCALAPPDATA%\lorvex on Windows; "" when the environment names no such place.
std::string UserStateDirectory();

// The names of the plain files directly in `directory`, in no particular order.
std::vector<std::string> FileNamesIn(const std::string& directory);

// Removes a file; false when it could not.
bool RemoveFile(const std::string& path);

// Removes `path` when it is an empty directory; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);

// `path` from the root: relative to the current directory when it is not already.
std::string AbsolutePath(const std::string& path);

// The reason given for a hard link that would cross file systems.
inline constexpr std::string_view kHardLinkAcrossReason =
    "the destination is on another file system, and a hard link cannot cross file systems "
    "(--link=symbolic can)";

// Fails when a link of `kind` to the file `source` could certainly not be made in the
// directory `folder`: another file system for a hard link, or a file system without links
// (FAT, exFAT).
std::optional<Failure> CheckLinkable(const std::string& source, const std::string& folder,
                                     Transfer kind);

// How one move ended: no failure when the file is in place under its new name and its
// source is gone; otherwise the reason, and the source is where it was.
using MoveOutcome =
    std::function<void(const std::string& from, const std::optional<Failure>& failure)>;

// Moves files to new names and never replaces an existing file. On one file system a move
// is a rename, done at once. Across file systems the files are copied in batches, which may
// span many destination directories: each copy is written under a hidden temporary name
// beside its target and flushed on its own, then the copies take their names, each
// directory of the batch is flushed once, and only then are the batch's sources removed.
// A name in the destination thus holds a whole archive or nothing, and an interrupted move
// never loses a file; one batch completes on a second thread while the next is copied. A
// symbolic link is moved as the link itself: nothing is ever read through it. Each move's
// outcome is reported once it is complete, always on the thread that calls Move and Finish.
class FileMover {
public:
    // With Transfer::Copy every archive is copied as a move across file systems is, on
    // one file system too, and no source is removed; a link is made at once, without
    // replacing anything, and its folder flushed when the mover finishes. `log` (moves only)
    // hears of every move before its source goes.
    explicit FileMover(MoveOutcome outcome, const PassDirectories* directories = nullptr,
                       Transfer transfer = Transfer::Move, MoveLog* log = nullptr);
    FileMover(const FileMover&) = delete;
    FileMover& operator=(const FileMover&) = delete;
    // Finishes the moves in hand.
    ~FileMover();

    // Starts moving `from` to `to`; may report moves started earlier. A source already on
    // its way is not taken twice. `facts`, when the caller has just measured `from`, spare
    // the log a second look.
    void Move(const std::string& from, const std::string& to, const FileFacts* facts = nullptr);
    // Completes every move started so far.
    void Finish();

    class Impl;  // each platform's own

private:
    std::unique_ptr<Impl> impl_;
};

// Moves one file at once, as FileMover does.
std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to);

// Marker at the end of the temporary name of a copy in progress; such a file never
// ends in ".zip", so it is never taken for an archive.
inline constexpr std::string_view kPartialSuffix = ".lorvex-partial";

// The reason given for an archive whose name is taken in the destination by a file with
// the same bytes, as an interrupted earlier move leaves it; both stay.
inline constexpr std::string_view kSameContentsReason =
    "already in the destination with the same contents (both copies kept)";

// True when `name` is the hidden name lorvex gives a copy in progress:
// ".<archive>.XXXXXX.lorvex-partial", the archive's name ending in ".zip" or cut short so
// that the whole is as long as a file name may be, and XXXXXX six letters or digits.
bool IsTemporaryCopyName(std::string_view name);

// The shape of that name, with whether a name fills the system's limit (as one cut short
// does) left to each system.
template <class FillsNameLimit>
bool HasTemporaryCopyShape(std::string_view name, FillsNameLimit fillsNameLimit) {
    constexpr std::string_view kUnique = ".XXXXXX";
    if (!name.starts_with('.') || !name.ends_with(kPartialSuffix) ||
        name.size() < 2 + kUnique.size() + kPartialSuffix.size()) {
        return false;
    }
    const std::string_view stem = name.substr(0, name.size() - kPartialSuffix.size());
    const std::string_view unique = stem.substr(stem.size() - kUnique.size());
    const std::string_view archive = stem.substr(1, stem.size() - 1 - kUnique.size());
    const auto letterOrDigit = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    return unique.front() == '.' && std::all_of(unique.begin() + 1, unique.end(), letterOrDigit) &&
           (archive.ends_with(".zip") || fillsNameLimit(name));
}

// Removes the temporary copies that an interrupted earlier move left in `directory`
// (ending in a separator), and no other file. Returns how many it removed.
std::size_t RemoveLeftoverCopies(const std::string& directory);

// For as long as it lives, a request from outside to stop (Ctrl+C, SIGTERM, SIGHUP; on
// Windows also Ctrl+Break and a closed console window) is noted instead of ending the
// program, so that a pass can finish the archives in hand and report. Writing to a
// terminal or pipe that has gone away fails instead of ending the program.
class StopRequests {
public:
    StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;
    ~StopRequests();
    bool Requested() const;
};

// A whole file's bytes, in a buffer that is never filled with zeros first: a map runs to
// megabytes, and the read fills it anyway.
class FileText {
public:
    FileText() = default;
    FileText(std::unique_ptr<char[]> bytes, std::size_t size)
        : bytes_(std::move(bytes)), size_(size) {}
    // A copy of `text`.
    explicit FileText(std::string_view text) : bytes_(new char[text.size()]), size_(text.size()) {
        std::copy(text.begin(), text.end(), bytes_.get());
    }
    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
};

// Reads a whole file. Throws DataFileError naming the file and the reason.
FileText ReadWholeFile(const std::string& path, std::string_view what);

}  // namespace lorvex::platform
