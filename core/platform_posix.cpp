// POSIX (Linux) implementation of the platform services.
#include "platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "errors.h"

namespace lorvex::platform {
namespace {

Failure FailureFromErrno(int error) { return Failure{std::strerror(error)}; }

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the result, since a failed close can mean lost data.
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

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

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A file named relative to a directory descriptor (AT_FDCWD: by its full path).
struct Place {
    int directory = AT_FDCWD;
    const char* name = nullptr;
};

}  // namespace

struct PassDirectories::Handles {
    std::string searchdir;
    std::string destdir;
    FileDescriptor search{-1};
    FileDescriptor dest{-1};
};

namespace {

// `path` relative to `fd` when it names a file directly inside `directory`.
Place PlaceIn(const std::string& path, const std::string& directory, const FileDescriptor& fd) {
    if (fd.valid() && path.size() > directory.size() && path.starts_with(directory) &&
        path.find('/', directory.size()) == std::string::npos) {
        return {fd.get(), path.c_str() + directory.size()};
    }
    return {AT_FDCWD, path.c_str()};
}

Place SearchPlace(const std::string& path, const PassDirectories* directories) {
    const auto* held = directories ? directories->handles() : nullptr;
    return held ? PlaceIn(path, held->searchdir, held->search) : Place{AT_FDCWD, path.c_str()};
}

Place DestPlace(const std::string& path, const PassDirectories* directories) {
    const auto* held = directories ? directories->handles() : nullptr;
    return held ? PlaceIn(path, held->destdir, held->dest) : Place{AT_FDCWD, path.c_str()};
}

// Puts `from` in place as `to` unless `to` exists. Falls back to link and unlink on
// file systems without the no-replace rename.
int RenameNoReplace(Place from, Place to) {
    if (::renameat2(from.directory, from.name, to.directory, to.name, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (::linkat(from.directory, from.name, to.directory, to.name, 0) != 0) {
        return errno;
    }
    if (::unlinkat(from.directory, from.name, 0) != 0) {
        const int error = errno;
        ::unlinkat(to.directory, to.name, 0);
        return error;
    }
    return 0;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    return RenameNoReplace(Place{AT_FDCWD, from.c_str()}, Place{AT_FDCWD, to.c_str()});
}

int CopyData(int source, int target) {
    // copy_file_range lets the kernel copy without a round trip through user space.
    for (;;) {
        const ssize_t copied = ::copy_file_range(source, nullptr, target, nullptr, 1 << 30, 0);
        if (copied == 0) {
            return 0;
        }
        if (copied < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                break;
            }
            return errno;
        }
    }
    // 128 KiB, as cp uses, allocated once: through 1 MiB the copies took six times the CPU
    // time while the previous batch was being flushed (docs/performance.md).
    static thread_local std::vector<char> buffer(128 << 10);
    for (;;) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got == 0) {
            return 0;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(target, buffer.data() + done, got - done);
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            done += put;
        }
    }
}

// The temporary name of a copy of `to` in progress, ending in "XXXXXX" + kPartialSuffix
// for the caller to fill in. It fits wherever the archive's own name fits.
std::string TemporaryPattern(const std::string& to) {
    constexpr std::size_t kRoom =
        NAME_MAX - std::string_view("..XXXXXX").size() - kPartialSuffix.size();
    std::string name = DirectoryOf(to) + "/." + BaseName(to).substr(0, kRoom) + ".XXXXXX";
    return name += kPartialSuffix;
}

// Writes a complete copy of the regular file open as `source` under a temporary name
// beside `to`, with the source's permissions and times, and starts writing it to disk.
// Sets `temporary` to the name as soon as it exists and `bytes` to the size copied.
int CopyToTemporary(int source, const std::string& to, std::string& temporary,
                    std::uint64_t& bytes) {
    struct stat st {};
    if (::fstat(source, &st) != 0) {
        return errno;
    }
    std::string name = TemporaryPattern(to);
    FileDescriptor target(
        ::mkostemps(name.data(), static_cast<int>(kPartialSuffix.size()), O_CLOEXEC));
    if (!target.valid()) {
        return errno;
    }
    temporary = name;
    bytes = static_cast<std::uint64_t>(st.st_size);
    int error = CopyData(source, target.get());
    if (error == 0 && ::fchmod(target.get(), st.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(target.get(), times);  // times are a courtesy; the data is what matters
        // The disk starts on this copy while the next ones are made; the batch's flush
        // then has little left to wait for.
        ::sync_file_range(target.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    if (target.Close() != 0 && error == 0) {
        error = errno;
    }
    return error;
}

// The target text of a symbolic link, exactly as stored.
int ReadLinkText(const std::string& path, std::string& text) {
    text.resize(256);
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), text.data(), text.size());
        if (length < 0) {
            return errno;
        }
        if (static_cast<std::size_t>(length) < text.size()) {
            text.resize(static_cast<std::size_t>(length));
            return 0;
        }
        text.resize(text.size() * 2);
    }
}

// Makes a link with the same target text as the link `from` under a temporary name beside
// `to`, as mv does. The target is never opened, so a link to a file elsewhere cannot leak
// that file's content into the destination.
int LinkToTemporary(const std::string& from, const std::string& to, std::string& temporary) {
    std::string target;
    if (const int error = ReadLinkText(from, target); error != 0) {
        return error;
    }
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 random(std::random_device{}());
    std::string name = TemporaryPattern(to);
    const std::size_t unique = name.size() - kPartialSuffix.size() - 6;
    // symlink has no mkstemp of its own: draw names until one is free, as mkstemp does.
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = unique; i < unique + 6; ++i) {
            name[i] = kLetters[random() % kLetters.size()];
        }
        if (::symlink(target.c_str(), name.c_str()) == 0) {
            temporary = name;
            struct stat st {};
            if (::lstat(from.c_str(), &st) == 0) {
                const struct timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
            }
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

// The bounds of a batch. One flush costs about as much for many files as for one, and
// while one batch is flushed the next is copied, so larger batches gain little (measured
// in docs/performance.md); smaller ones keep what a failed flush takes back, the memory
// waiting to be written and the wait for a cancelled pass short.
constexpr std::size_t kBatchFiles = 64;
constexpr std::uint64_t kBatchBytes = std::uint64_t{128} << 20;

struct Copy {
    std::string from;
    std::string to;
    std::string temporary;
};

// Copies made and not yet put in place, all in one destination directory.
struct Batch {
    std::vector<Copy> copies;
    std::uint64_t bytes = 0;
    std::string directory;
    // Opened before the first copy is written, so that syncfs reports every write error
    // of the batch's copies.
    FileDescriptor directoryFd{-1};
};

bool HasSource(const Batch& batch, const std::string& from) {
    return std::any_of(batch.copies.begin(), batch.copies.end(),
                       [&](const Copy& copy) { return copy.from == from; });
}

// Each archive's source with its error number, 0 when the move is complete.
using Outcomes = std::vector<std::pair<std::string, int>>;

void Deliver(const MoveOutcome& outcome, const std::string& from, int error) {
    if (error == 0) {
        outcome(from, std::nullopt);
    } else {
        outcome(from, FailureFromErrno(error));
    }
}

void Deliver(const MoveOutcome& outcome, const Outcomes& outcomes) {
    for (const auto& [from, error] : outcomes) {
        Deliver(outcome, from, error);
    }
}

// Flushes the batch's copies, puts them in place and removes their sources, in that
// order, so that a source only goes once its copy is durable under its own name. Touches
// nothing but the batch: it runs beside the copying of the next one.
Outcomes CompleteBatch(const Batch& batch) {
    Outcomes outcomes;
    outcomes.reserve(batch.copies.size());
    // Every copy durable before any takes the archive's name: a name in the destination
    // always holds a whole archive, even after a power cut. A failed flush keeps every
    // source of the batch.
    if (::syncfs(batch.directoryFd.get()) != 0) {
        const int error = errno;
        for (const auto& copy : batch.copies) {
            ::unlink(copy.temporary.c_str());
            outcomes.emplace_back(copy.from, error);
        }
        return outcomes;
    }
    std::vector<const Copy*> placed;
    for (const auto& copy : batch.copies) {
        if (const int error = RenameNoReplace(copy.temporary, copy.to); error != 0) {
            ::unlink(copy.temporary.c_str());
            outcomes.emplace_back(copy.from, error);
        } else {
            placed.push_back(&copy);
        }
    }
    // The names durable before any source goes; without that, the copies are taken back.
    if (!placed.empty() && ::fsync(batch.directoryFd.get()) != 0) {
        const int error = errno;
        for (const auto* copy : placed) {
            ::unlink(copy->to.c_str());
            outcomes.emplace_back(copy->from, error);
        }
        return outcomes;
    }
    for (const auto* copy : placed) {
        // A source that cannot be removed takes its copy back, so that the archive stays
        // in exactly one place.
        int error = 0;
        if (::unlink(copy->from.c_str()) != 0) {
            error = errno;
            ::unlink(copy->to.c_str());
        }
        outcomes.emplace_back(copy->from, error);
    }
    return outcomes;
}

}  // namespace

// The batch being copied, and the one before it, which completes meanwhile on a thread of
// its own: the disk writes one batch while the next is read into memory.
struct FileMover::State {
    Batch building;
    Batch completing;  // read by that thread until `completed` is ready
    std::future<Outcomes> completed;
};

PassDirectories::PassDirectories(const std::string& searchdir, const std::string& destdir)
    : handles_(std::make_unique<Handles>()) {
    handles_->searchdir = searchdir;
    handles_->destdir = destdir;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    handles_->search = FileDescriptor(::open(searchdir.c_str(), flags));
    handles_->dest = FileDescriptor(::open(destdir.c_str(), flags));
}

PassDirectories::~PassDirectories() = default;

FileMover::FileMover(MoveOutcome outcome, const PassDirectories* directories)
    : outcome_(std::move(outcome)), directories_(directories), state_(std::make_unique<State>()) {}

FileMover::~FileMover() {
    try {
        Finish();
    } catch (...) {
        // A move left unfinished keeps its source, which loses nothing.
    }
}

void FileMover::Move(const std::string& from, const std::string& to) {
    const int error = RenameNoReplace(SearchPlace(from, directories_), DestPlace(to, directories_));
    if (error != EXDEV) {
        Deliver(outcome_, from, error);
        return;
    }
    State& state = *state_;
    if (state.completed.valid() &&
        state.completed.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        CollectCompleted();
    }
    // Already on its way; taking it twice would report the second attempt as a failure.
    if (HasSource(state.building, from) || HasSource(state.completing, from)) {
        return;
    }
    Batch& batch = state.building;
    const std::string directory = DirectoryOf(to);
    if (!batch.copies.empty() && directory != batch.directory) {
        StartCompleting();
    }
    if (!batch.directoryFd.valid()) {
        batch.directory = directory;
        batch.directoryFd =
            FileDescriptor(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!batch.directoryFd.valid()) {
            Deliver(outcome_, from, errno);
            return;
        }
    }
    if (Exists(to)) {
        Deliver(outcome_, from, EEXIST);  // spares a long copy that could never be put in place
        return;
    }
    std::string temporary;
    std::uint64_t bytes = 0;
    int copyError = 0;
    // O_NOFOLLOW: a link is never opened, even one put there after the archive was found.
    FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (source.valid()) {
        copyError = CopyToTemporary(source.get(), to, temporary, bytes);
    } else if (errno == ELOOP) {
        copyError = LinkToTemporary(from, to, temporary);
    } else {
        copyError = errno;
    }
    if (copyError != 0) {
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
        Deliver(outcome_, from, copyError);
        return;
    }
    batch.copies.push_back({from, to, std::move(temporary)});
    batch.bytes += bytes;
    if (batch.copies.size() >= kBatchFiles || batch.bytes >= kBatchBytes) {
        StartCompleting();
    }
}

void FileMover::StartCompleting() {
    State& state = *state_;
    if (state.building.copies.empty()) {
        return;
    }
    CollectCompleted();  // one batch completes at a time
    state.completing = std::exchange(state.building, Batch{});
    try {
        state.completed = std::async(std::launch::async,
                                     [&batch = state.completing] { return CompleteBatch(batch); });
    } catch (...) {
        // No thread to spare: complete it here and now, which is just as safe.
        std::promise<Outcomes> done;
        done.set_value(CompleteBatch(state.completing));
        state.completed = done.get_future();
    }
}

void FileMover::CollectCompleted() {
    State& state = *state_;
    if (!state.completed.valid()) {
        return;
    }
    const Outcomes outcomes = state.completed.get();
    state.completing = Batch{};
    Deliver(outcome_, outcomes);
}

void FileMover::Finish() {
    CollectCompleted();
    State& state = *state_;
    if (state.building.copies.empty()) {
        return;
    }
    // Nothing left to copy meanwhile, so no thread.
    const Batch batch = std::exchange(state.building, Batch{});
    Deliver(outcome_, CompleteBatch(batch));
}

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

std::optional<std::uint64_t> RegularFileLength(const std::string& path,
                                               const PassDirectories* directories) {
    // lstat first: an ordinary archive costs one call, and only a link a second one to
    // learn what it names.
    struct stat st {};
    const Place place = SearchPlace(path, directories);
    if (path.empty() || ::fstatat(place.directory, place.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (S_ISLNK(st.st_mode) && ::fstatat(place.directory, place.name, &st, 0) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
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

std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to) {
    std::optional<Failure> result;
    FileMover mover(
        [&](const std::string&, const std::optional<Failure>& failure) { result = failure; });
    mover.Move(from, to);
    mover.Finish();
    return result;
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

bool EntryExists(const std::string& path) { return Exists(path); }

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
