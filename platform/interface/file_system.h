// The file system as a run sees it: the few calls that moving, copying, linking, undoing
// and journalling need, and nothing else. The system's file system implements it
// (platform/), a dry run wraps it in a layer that answers and changes nothing (core/), and
// the tests keep one in memory. Paths are UTF-8 and absolute or relative to the current
// folder; a folder is named with or without its trailing separator.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lorvex::fs {

// What went wrong, in kinds a run decides on; the words are the system's own.
enum class Error {
    Exists,        // the name is taken
    NotFound,      // the name, or a folder on the way to it, is not there
    NotDirectory,  // something that is not a folder stands where a folder should be
    NoSpace,       // the volume is full
    Permission,    // no right to do it
    ReadOnly,      // a read-only file system
    CrossDevice,   // the two names are on different mounts
    NotSupported,  // the file system cannot do this (no links, no rename without replacing)
    NameTooLong,
    Io,  // the device, the network or the file system failed
    Other,
};

struct Failure {
    Error kind = Error::Other;
    std::string reason;  // e.g. "File exists"
};

// Nothing when the call did its work.
using Outcome = std::optional<Failure>;

// A point in time as the file system keeps it: seconds from 1970-01-01 UTC (negative
// before) and the nanoseconds into that second. Wide enough for any date any file system
// holds.
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    auto operator<=>(const FileTime&) const = default;
};

// The length and modification time of a name itself (a link is not followed), which tell
// whether an archive is still the one a run moved.
struct FileFacts {
    std::uint64_t size = 0;
    FileTime modified;
    bool operator==(const FileFacts&) const = default;
};

// Unknown: the system could not tell (a failing disk, a share that went away).
enum class Kind : std::uint8_t { Missing, File, Directory, Link, Other, Unknown };

struct Status {
    Kind kind = Kind::Missing;     // of the name itself
    FileFacts facts;               // of the name itself
    Kind target = Kind::Missing;   // what a link leads to; the name's own kind otherwise
    std::uint64_t targetSize = 0;  // the length of a regular file there
};

// One name of a folder's listing; `size` only where the listing carries it (Windows
// does, POSIX readdir does not).
struct Entry {
    std::string_view name;
    Kind kind = Kind::Other;              // Other also when the listing cannot tell
    std::optional<std::uint64_t> size{};  // of a regular file
};

// Room left on a volume, for a dry run's estimate.
struct Space {
    std::uint64_t volume = 0;     // tells volumes apart
    std::uint64_t available = 0;  // bytes
    std::uint64_t block = 1;      // a file takes whole blocks
    bool exact = false;           // the file system counts exactly this (tmpfs)
};

// What a right asks: to read a file, to look names up in a folder (which must be one), or
// to add to or take from a folder.
enum class Access { Read, Search, AddTo, RemoveFrom };

// The end of the hidden name of a copy in progress, which never ends in ".zip" and so is
// never taken for an archive.
inline constexpr std::string_view kPartialSuffix = ".lorvex-partial";

// A file this program has open for writing.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// A copy made under a temporary name, still open so that its own flush reports every
// write error of it.
struct CopyInProgress {
    std::string temporary;  // set as soon as the temporary exists
    Handle handle = kNoHandle;
    std::uint64_t bytes = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The system's words for a failure of `kind`, as one of its calls reports it.
    virtual std::string Words(Error kind) const = 0;

    virtual Status StatusOf(const std::string& path) = 0;
    // Every name in `folder` but "." and "..", in no particular order.
    virtual Outcome List(const std::string& folder,
                         const std::function<void(const Entry&)>& visit) = 0;
    // True when both are regular files with the same bytes.
    virtual bool SameContents(const std::string& first, const std::string& second) = 0;
    // The whole file, for a file of the program's own such as a journal.
    virtual Outcome ReadAll(const std::string& path, std::string& text) = 0;

    // Makes one folder; succeeds when a folder of that name is there already.
    virtual Outcome MakeFolder(const std::string& path) = 0;
    // Removes a folder that is empty.
    virtual Outcome RemoveFolder(const std::string& path) = 0;
    virtual Outcome Remove(const std::string& path) = 0;
    // Gives `from` the name `to` unless `to` is taken (also by a dangling link).
    virtual Outcome RenameNoReplace(const std::string& from, const std::string& to) = 0;
    // A hard link `to` of the name `from` itself, or a symbolic link `to` holding `from`.
    virtual Outcome Link(const std::string& from, const std::string& to, bool symbolic) = 0;
    // The names made or removed in `folder` survive a power cut once this returns.
    virtual Outcome FlushFolder(const std::string& folder) = 0;

    // Copies the file `from` (a link as the link itself) to a new hidden name beside `to`,
    // ".<name of to>.<runTag>.XXXXXX" + kPartialSuffix (the name cut short to fit, and
    // without ".<runTag>" when it is empty), with its permissions and times, open in `copy`
    // until Close.
    virtual Outcome CopyToTemporary(const std::string& from, const std::string& to,
                                    std::string_view runTag, CopyInProgress& copy) = 0;
    // Every file's data on disk; the first failure after trying all.
    virtual Outcome FlushFiles(std::span<const Handle> files) = 0;
    virtual void Close(Handle file) = 0;

    // A file written by appending: each Append reaches the system at once.
    virtual Outcome OpenForAppend(const std::string& path, bool create, Handle& file) = 0;
    virtual Outcome Append(Handle file, std::string_view text) = 0;

    // What a call would meet, asked without changing anything: the right to read a file
    // or to change a folder (a sticky folder checked against the file `path` names).
    virtual Outcome CheckAccess(const std::string& path, Access access) = 0;
    // Fails with the system's "name too long" when the last name of `path` or the whole
    // is longer than the file system under it allows.
    virtual Outcome CheckNameFits(const std::string& path) = 0;
    // Nothing when unknown.
    virtual std::optional<Space> FreeSpace(const std::string& folder) = 0;
    // True when both names lead to one and the same folder, however they are spelled;
    // nothing when either cannot be reached.
    virtual std::optional<bool> SameFolder(const std::string& first, const std::string& second) = 0;
    // True when both are folders of one mount (a bind mount is a mount of its own);
    // nothing when either cannot be reached.
    virtual std::optional<bool> SameMount(const std::string& first, const std::string& second) = 0;
    // The name of the file system under `folder` when it has no links (FAT, exFAT).
    virtual std::optional<std::string> WithoutLinks(const std::string& folder) = 0;
    // How many files the process may hold open at once (raising its own limit first
    // where the system lets it).
    virtual std::size_t OpenFileLimit() = 0;
    // `path` from the root: relative to the current folder when it is not already.
    virtual std::string Absolute(const std::string& path) = 0;
    // True when the file name `name` is as long as a name may be on this system, as a
    // temporary name cut short to fit is.
    virtual bool FillsNameLimit(std::string_view name) const = 0;

    // A lock a run holds for as long as it lives, so that every other run on this machine,
    // of this user or another, can tell it is still going: `path` is made when missing and
    // locked without waiting (Error::Exists when another holds it). Close releases it. The
    // lock never keeps anyone from reading or appending to the file.
    virtual Outcome Lock(const std::string& path, Handle& lock) = 0;
    // True when a run holds the lock on `path`, false when none does; nothing when there is
    // no such file or it cannot be told.
    virtual std::optional<bool> IsLocked(const std::string& path) = 0;
    // True when `folder` is on a file system other machines may reach (NFS, SMB, FUSE, 9p;
    // on Windows a network drive), where their runs' locks cannot be seen.
    virtual bool IsRemote(const std::string& folder) = 0;

    // Folders the run names files in again and again: a system may hold them open and
    // name their files relative to them. Until ForgetFolders.
    virtual void HoldFolders(std::span<const std::string> folders) { (void)folders; }
    virtual void ForgetFolders() {}
};

}  // namespace lorvex::fs
