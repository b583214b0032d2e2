// POSIX (Linux) implementation of the platform services; the file mover is in
// file_mover_posix.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "errors.h"
#include "platform.h"
#include "platform_posix.h"

namespace lorvex::platform {
namespace {

Failure FailureFromErrno(int error) { return Failure{std::strerror(error)}; }

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `path` relative to `fd` when it names a file directly inside `directory`.
Place PlaceIn(const std::string& path, const std::string& directory, const FileDescriptor& fd) {
    if (fd.valid() && path.size() > directory.size() && path.starts_with(directory) &&
        path.find('/', directory.size()) == std::string::npos) {
        return {fd.get(), path.c_str() + directory.size()};
    }
    return {AT_FDCWD, path.c_str()};
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Place SearchPlace(const std::string& path, const PassDirectories* directories) {
    const auto* held = directories ? directories->handles() : nullptr;
    return held ? PlaceIn(path, held->searchdir, held->search) : Place{AT_FDCWD, path.c_str()};
}

Place DestPlace(const std::string& path, const PassDirectories* directories) {
    const auto* held = directories ? directories->handles() : nullptr;
    return held ? PlaceIn(path, held->destdir, held->dest) : Place{AT_FDCWD, path.c_str()};
}

PassDirectories::PassDirectories(const std::string& searchdir, const std::string& destdir)
    : handles_(std::make_unique<Handles>()) {
    handles_->searchdir = searchdir;
    handles_->destdir = destdir;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    handles_->search = FileDescriptor(::open(searchdir.c_str(), flags));
    handles_->dest = FileDescriptor(::open(destdir.c_str(), flags));
}

PassDirectories::~PassDirectories() = default;

bool IsPlainFileName(std::string_view name) {
    // A plain loop: find_first_of with a set of two costs ten times as much on every entry.
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\0'; });
}

std::vector<std::string> CommandLineWords(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::string ProgramDirectory() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return ".";
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return DirectoryOf(std::string(buffer.data(), static_cast<std::size_t>(length)));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<MeasuredFile> MeasureRegularFile(const std::string& path,
                                               const PassDirectories* directories) {
    // lstat first: an ordinary archive costs one call, and only a link a second one to
    // learn what it names.
    struct stat st {};
    const Place place = SearchPlace(path, directories);
    if (path.empty() || ::fstatat(place.directory, place.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    const FileFacts facts{static_cast<std::uint64_t>(st.st_size),
                          std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
    if (S_ISLNK(st.st_mode) && ::fstatat(place.directory, place.name, &st, 0) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return MeasuredFile{static_cast<std::uint64_t>(st.st_size), facts};
}

std::optional<std::uint64_t> RegularFileLength(const std::string& path,
                                               const PassDirectories* directories) {
    const auto measured = MeasureRegularFile(path, directories);
    return measured ? std::optional(measured->length) : std::nullopt;
}

bool IsSameDirectory(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 &&
           S_ISDIR(a.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<Failure> CheckSearchableDirectory(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return FailureFromErrno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return FailureFromErrno(ENOTDIR);
    }
    if (::access(path.c_str(), X_OK) != 0) {
        return FailureFromErrno(errno);
    }
    return std::nullopt;
}

std::optional<Failure> MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return std::nullopt;
    }
    const int error = errno;
    if (error == EEXIST) {
        if (IsDirectory(path)) {
            return std::nullopt;
        }
        return FailureFromErrno(ENOTDIR);
    }
    return FailureFromErrno(error);
}

FileText ReadWholeFile(const std::string& path, std::string_view what) {
    const auto fail = [&](std::string_view reason) {
        return DataFileError("cannot read " + std::string(what) + " " + Quoted(path) + ": " +
                             std::string(reason));
    };
    // Non-blocking, so that opening a pipe with no writer cannot hang the program.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        throw fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        throw fail(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        throw fail(std::strerror(EISDIR));
    }
    // A device or a pipe may never end (a link to /dev/zero would fill the memory).
    if (!S_ISREG(st.st_mode)) {
        throw fail("not a regular file");
    }
    // One byte more than the file holds, so that the read which finds the end needs no
    // second buffer; a file that grew meanwhile is still read whole.
    std::size_t room = static_cast<std::size_t>(st.st_size) + 1;
    auto text = std::make_unique_for_overwrite<char[]>(room);
    std::size_t filled = 0;
    for (;;) {
        if (filled == room) {
            auto larger = std::make_unique_for_overwrite<char[]>(room * 2);
            std::copy(text.get(), text.get() + filled, larger.get());
            text = std::move(larger);
            room *= 2;
        }
        const ssize_t got = ::read(fd.get(), text.get() + filled, room - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw fail(std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return FileText(std::move(text), filled);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool IsTemporaryCopyName(std::string_view name) {
    return HasTemporaryCopyShape(name,
                                 [](std::string_view whole) { return whole.size() == NAME_MAX; });
}

std::size_t RemoveLeftoverCopies(const std::string& directory) {
    const FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* listing = fd.valid() ? ::fdopendir(::dup(fd.get())) : nullptr;
    if (!listing) {
        return 0;  // nothing can be there to remove, or nothing can be removed
    }
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(listing)) {
        // Only files: a directory of that name is nobody's copy.
        if ((entry->d_type == DT_REG || entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
            IsTemporaryCopyName(entry->d_name)) {
            leftovers.emplace_back(entry->d_name);
        }
    }
    ::closedir(listing);
    return static_cast<std::size_t>(std::count_if(
        leftovers.begin(), leftovers.end(),
        [&](const std::string& name) { return ::unlinkat(fd.get(), name.c_str(), 0) == 0; }));
}

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void NoteStopRequest(int) { stopRequested = 1; }

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct SavedActions {
    struct sigaction stop[std::size(kStopSignals)];
    struct sigaction pipe;
};

SavedActions savedActions;

}  // namespace

StopRequests::StopRequests() {
    stopRequested = 0;
    struct sigaction note {};
    note.sa_handler = NoteStopRequest;
    sigemptyset(&note.sa_mask);
    note.sa_flags = SA_RESTART;  // the file operations of the batch in hand go on
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        ::sigaction(kStopSignals[i], &note, &savedActions.stop[i]);
    }
    // A terminal or pipe that is gone makes a write fail (EIO, EPIPE) instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &savedActions.pipe);
}

StopRequests::~StopRequests() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        ::sigaction(kStopSignals[i], &savedActions.stop[i], nullptr);
    }
    ::sigaction(SIGPIPE, &savedActions.pipe, nullptr);
}

bool StopRequests::Requested() const { return stopRequested != 0; }
std::string ExecutableName() { return std::string(kExecutableName); }

std::string UserDataDirectory() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG base directory rules say.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') {
        return std::string(data) + "/lorvex";
    }
    const char* home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/.local/share/lorvex" : std::string();
}

bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int TerminalColumns() {
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void DrawStatusLine(std::string_view line) {
    std::string text = "\r\x1b[K";
    text += line;
    // One write, so that the line never shows half drawn.
    for (std::string_view rest = text; !rest.empty();) {
        const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<Failure> CheckWritableDirectory(const std::string& path) {
    if (const auto failure = CheckSearchableDirectory(path)) {
        return failure;
    }
    if (::access(path.c_str(), W_OK | X_OK) != 0) {
        return FailureFromErrno(errno);
    }
    return std::nullopt;
}

std::optional<Failure> CheckRemovable(const std::string& path) {
    const std::string directory = DirectoryOf(path);
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        return FailureFromErrno(errno);
    }
    struct stat dir {};
    struct stat file {};
    const uid_t user = ::geteuid();
    if (::stat(directory.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && user != 0 &&
        dir.st_uid != user && ::lstat(path.c_str(), &file) == 0 && file.st_uid != user) {
        return FailureFromErrno(EPERM);
    }
    return std::nullopt;
}

std::optional<Failure> CheckNameFits(const std::string& path) {
    std::string bare = path;
    while (bare.size() > 1 && bare.back() == '/') {
        bare.pop_back();
    }
    if (bare.size() >= PATH_MAX) {
        return FailureFromErrno(ENAMETOOLONG);
    }
    std::string existing = DirectoryOf(bare);
    while (!IsDirectory(existing) && existing != DirectoryOf(existing)) {
        existing = DirectoryOf(existing);
    }
    const long limit = ::pathconf(existing.c_str(), _PC_NAME_MAX);
    const std::size_t name = bare.size() - bare.find_last_of('/') - 1;
    if (limit > 0 && name > static_cast<std::size_t>(limit)) {
        return FailureFromErrno(ENAMETOOLONG);
    }
    return std::nullopt;
}

}  // namespace lorvex::platform

namespace lorvex::platform {

const char* FileSystemWithoutLinks(const std::string& folder) {
    constexpr long kFat = 0x4d44;        // MSDOS_SUPER_MAGIC: FAT12/16/32, vfat
    constexpr long kExFat = 0x2011BAB0;  // EXFAT_SUPER_MAGIC
    struct statfs system {};
    if (::statfs(folder.c_str(), &system) != 0) {
        return nullptr;
    }
    if (system.f_type == kFat) {
        return "FAT";
    }
    return system.f_type == kExFat ? "exFAT" : nullptr;
}

std::optional<FileFacts> FactsOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileFacts{static_cast<std::uint64_t>(st.st_size),
                     std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

AppendFile::~AppendFile() {
    if (IsOpen()) {
        ::close(static_cast<int>(handle_));
    }
}

std::optional<Failure> AppendFile::Create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return FailureFromErrno(errno);
    }
    handle_ = fd;
    newFolder_ = DirectoryOf(path);
    return std::nullopt;
}

std::optional<Failure> AppendFile::OpenExisting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return FailureFromErrno(errno);
    }
    handle_ = fd;
    return std::nullopt;
}

std::optional<Failure> AppendFile::Append(std::string_view text) {
    const int fd = static_cast<int>(handle_);
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return FailureFromErrno(errno);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

std::optional<Failure> AppendFile::Sync() {
    if (::fdatasync(static_cast<int>(handle_)) != 0) {
        return FailureFromErrno(errno);
    }
    if (!newFolder_.empty()) {
        const FileDescriptor folder(::open(newFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.valid() || ::fsync(folder.get()) != 0) {
            return FailureFromErrno(errno);
        }
        newFolder_.clear();
    }
    return std::nullopt;
}

std::string UserStateDirectory() {
    // A relative XDG_STATE_HOME is invalid and ignored, as for XDG_DATA_HOME.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        return std::string(state) + "/lorvex";
    }
    const char* home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/.local/state/lorvex" : std::string();
}

std::vector<std::string> FileNamesIn(const std::string& directory) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(directory.c_str()), ::closedir);
    if (!listing) {
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) {
            names.emplace_back(entry->d_name);
        }
    }
    return names;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RemoveEmptyDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

std::string AbsolutePath(const std::string& path) {
    if (path.starts_with('/')) {
        return path;
    }
    std::string current(PATH_MAX, '\0');
    if (!::getcwd(current.data(), current.size())) {
        return path;
    }
    current.resize(std::strlen(current.c_str()));
    std::string_view rest = path;
    while (rest.starts_with("./")) {
        rest.remove_prefix(2);
    }
    return current + (current.ends_with('/') ? "" : "/") + std::string(rest);
}

std::optional<Failure> CheckLinkable(const std::string& source, const std::string& folder,
                                     Transfer kind) {
    if (const char* system = FileSystemWithoutLinks(folder)) {
        return Failure{"the destination's file system (" + std::string(system) + ") has no links"};
    }
    struct stat file {};
    struct stat directory {};
    if (kind == Transfer::HardLink && ::lstat(source.c_str(), &file) == 0 &&
        ::stat(folder.c_str(), &directory) == 0 && file.st_dev != directory.st_dev) {
        return Failure{std::string(kHardLinkAcrossReason)};
    }
    return std::nullopt;
}

}  // namespace lorvex::platform
