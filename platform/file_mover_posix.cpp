// The POSIX file mover: renames on one file system, and across file systems copies in
// batches that become durable in a fixed order (see FileMover in platform.h).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <future>
#include <memory>
#include <random>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform.h"
#include "platform_posix.h"

namespace lorvex::platform {
namespace {

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

// Reads up to `size` bytes, short only at the end of the file.
ssize_t ReadFully(int fd, char* into, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd, into + filled, size - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(filled);
}

// True when both names are regular files of the same length and bytes: the archive is
// already in the destination, as a move interrupted after its rename leaves it.
bool HoldSameBytes(Place first, Place second) {
    struct stat a {};
    struct stat b {};
    if (::fstatat(first.directory, first.name, &a, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(second.directory, second.name, &b, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) || a.st_size != b.st_size) {
        return false;
    }
    const FileDescriptor one(::openat(first.directory, first.name, O_RDONLY | O_CLOEXEC));
    const FileDescriptor two(::openat(second.directory, second.name, O_RDONLY | O_CLOEXEC));
    if (!one.valid() || !two.valid()) {
        return false;
    }
    constexpr std::size_t kChunk = 128 << 10;
    std::vector<char> left(kChunk);
    std::vector<char> right(kChunk);
    for (;;) {
        const ssize_t got = ReadFully(one.get(), left.data(), kChunk);
        if (got < 0 || ReadFully(two.get(), right.data(), kChunk) != got ||
            !std::equal(left.begin(), left.begin() + got, right.begin())) {
            return false;
        }
        if (got == 0) {
            return true;
        }
    }
}

// The reason an archive was not moved; a taken name holding the same bytes says so.
Failure Reason(int error, Place from, Place to) {
    if (error == EEXIST && HoldSameBytes(from, to)) {
        return Failure{std::string(kSameContentsReason)};
    }
    return Failure{std::strerror(error)};
}

FileFacts FactsFrom(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_size),
            std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// Why a link could not be made in `to`'s folder, in words that say what to do about it.
Failure LinkReason(int error, Place from, Place to, const std::string& folder) {
    if (error == EXDEV) {
        return Failure{std::string(kHardLinkAcrossReason)};
    }
    if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS) {
        if (const char* system = FileSystemWithoutLinks(folder)) {
            return Failure{"the destination's file system (" + std::string(system) +
                           ") has no links"};
        }
    }
    return Reason(error, from, to);
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

// A copy made and not yet in place: the archive, its target, its temporary name and the
// temporary still open, so that its own flush reports every write error of it (a link
// has no descriptor: the directory's flush makes it durable).
struct Copy {
    std::string from;
    std::string to;
    std::string temporary;
    FileDescriptor written;
    std::size_t directory = 0;  // in Batch::directories
};

// From this size on a copy's writeback starts as soon as it is made.
constexpr std::uint64_t kEarlyWritebackBytes = std::uint64_t{1} << 20;

// Writes a complete copy of the regular file open as `source` under a temporary name
// beside `to`, with the source's permissions and times, and starts writing it to disk.
// Sets the copy's temporary as soon as it exists and `bytes` to the size copied.
int CopyToTemporary(int source, Copy& copy, std::uint64_t& bytes) {
    struct stat st {};
    if (::fstat(source, &st) != 0) {
        return errno;
    }
    std::string name = TemporaryPattern(copy.to);
    FileDescriptor target(
        ::mkostemps(name.data(), static_cast<int>(kPartialSuffix.size()), O_CLOEXEC));
    if (!target.valid()) {
        return errno;
    }
    copy.temporary = name;
    bytes = static_cast<std::uint64_t>(st.st_size);
    int error = CopyData(source, target.get());
    if (error == 0 && ::fchmod(target.get(), st.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(target.get(), times);  // times are a courtesy; the data is what matters
        // A large copy goes to the disk at once, while the next ones are made; small ones
        // wait for their batch's flush, where the disk takes them together.
        if (bytes >= kEarlyWritebackBytes) {
            ::sync_file_range(target.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        copy.written = std::move(target);
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

// The bounds of a batch. Each batch costs the destination's journal a commit or two
// whatever its size, which a pass of many small archives feels (measured in
// docs/performance.md); the bytes and time bounds keep what a failed flush takes back, the
// memory waiting to be written and the wait for a cancelled pass short, also on a slow
// destination such as a network mount.
constexpr std::size_t kBatchFiles = 2048;
constexpr auto kBatchTime = std::chrono::milliseconds(500);
constexpr std::size_t kFewestBatchFiles = 16;
constexpr std::uint64_t kBatchBytes = std::uint64_t{128} << 20;

// How many copies a batch may hold. Each keeps its descriptor open until its flush, and
// two batches are in hand at once, so the bound follows the descriptors the process may
// open; the soft limit is first raised to the hard one, as a program that opens many files
// at once does.
std::size_t BatchFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return kFewestBatchFiles;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    constexpr rlim_t kKeptForTheRest = 256;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 2 * kBatchFiles + kKeptForTheRest) {
        return kBatchFiles;
    }
    const rlim_t room = limit.rlim_cur > kKeptForTheRest ? limit.rlim_cur - kKeptForTheRest : 0;
    return std::max<std::size_t>(kFewestBatchFiles, static_cast<std::size_t>(room / 2));
}

// A destination directory of a batch, open for its flush and for naming the copies in it.
struct Directory {
    std::string path;
    FileDescriptor fd;
};

// Copies made and not yet put in place, in any number of destination directories.
struct Batch {
    std::vector<Copy> copies;
    std::vector<Directory> directories;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point started{};  // when its first copy was made
};

// The index of `path` among the batch's directories, opening it the first time; nothing
// when it cannot be opened (errno says why).
std::optional<std::size_t> DirectoryIndex(Batch& batch, const std::string& path) {
    // The last one first: the archives of one folder mostly come together.
    for (std::size_t i = batch.directories.size(); i-- > 0;) {
        if (batch.directories[i].path == path) {
            return i;
        }
    }
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    batch.directories.push_back({path, std::move(fd)});
    return batch.directories.size() - 1;
}

// One archive's source with its outcome: none when the move is complete.
using Outcomes = std::vector<std::pair<std::string, std::optional<Failure>>>;

// The names of a copy relative to its directory.
Place TemporaryPlace(const Batch& batch, const Copy& copy) {
    return {batch.directories[copy.directory].fd.get(),
            copy.temporary.c_str() + copy.temporary.find_last_of('/') + 1};
}

Place TargetPlace(const Batch& batch, const Copy& copy) {
    return {batch.directories[copy.directory].fd.get(),
            copy.to.c_str() + copy.to.find_last_of('/') + 1};
}

// Every copy's own flush. Returns the first error, after trying all of them.
int FlushCopies(const Batch& batch) {
    int firstError = 0;
    const auto note = [&](int result) {
        if (result != 0 && firstError == 0) {
            firstError = errno;
        }
    };
    // All the data written before the first flush: then that flush commits the file
    // system's journal for every copy at once, and the others find it done (on ext4 one
    // commit and one cache flush of the disk per batch instead of one per copy). The wait
    // reports a failed write itself, and only once, so its result counts as the flush's.
    for (const auto& copy : batch.copies) {
        if (copy.written.valid()) {
            ::sync_file_range(copy.written.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
    }
    for (const auto& copy : batch.copies) {
        if (copy.written.valid()) {
            note(::sync_file_range(
                copy.written.get(), 0, 0,
                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER));
        }
    }
    for (const auto& copy : batch.copies) {
        // fdatasync, not syncfs: a FUSE file system never hears of syncfs.
        if (copy.written.valid()) {
            note(::fdatasync(copy.written.get()));
        }
    }
    return firstError;
}

void WithdrawRecord(MoveLog* log, const std::vector<MovedFile>& records, const std::string& from) {
    const auto record = std::find_if(records.begin(), records.end(),
                                     [&](const MovedFile& file) { return file.from == from; });
    if (log && record != records.end()) {
        log->Withdraw(*record);
    }
}

// Completes a batch: every copy flushed, then each takes its name without replacing
// anything, then each directory of the batch is flushed once, and only then do the sources
// go. Touches nothing but the batch: it runs beside the copying of the next one.
// What a batch is completed for: a move removes the sources once the copies are durable and
// recorded in `log`; a copy keeps them.
struct Completion {
    const PassDirectories* directories = nullptr;
    Transfer transfer = Transfer::Move;
    MoveLog* log = nullptr;
};

// Records the batch's copies now in place before any source goes; when that fails, the
// copies are taken back and their sources stay.
bool RecordPlaced(const Batch& batch, std::vector<const Copy*>& placed, Outcomes& outcomes,
                  std::vector<MovedFile>& records, MoveLog& log) {
    for (const auto* copy : placed) {
        struct stat st {};
        const Place target = TargetPlace(batch, *copy);
        ::fstatat(target.directory, target.name, &st, AT_SYMLINK_NOFOLLOW);
        records.push_back({copy->from, copy->to, FactsFrom(st)});
    }
    const auto failure = log.Record(records, true);
    if (!failure) {
        return true;
    }
    for (const auto* copy : placed) {
        const Place target = TargetPlace(batch, *copy);
        ::unlinkat(target.directory, target.name, 0);
        outcomes.emplace_back(copy->from, Failure{*failure});
    }
    placed.clear();
    return false;
}

Outcomes CompleteBatch(const Batch& batch, const Completion& completion) {
    const PassDirectories* directories = completion.directories;
    Outcomes outcomes;
    outcomes.reserve(batch.copies.size());
    // A failed flush keeps every source of the batch.
    if (const int error = FlushCopies(batch); error != 0) {
        for (const auto& copy : batch.copies) {
            ::unlinkat(AT_FDCWD, copy.temporary.c_str(), 0);
            outcomes.emplace_back(copy.from, Failure{std::strerror(error)});
        }
        return outcomes;
    }
    std::vector<const Copy*> placed;
    for (const auto& copy : batch.copies) {
        const Place target = TargetPlace(batch, copy);
        if (const int error = RenameNoReplace(TemporaryPlace(batch, copy), target); error != 0) {
            ::unlinkat(target.directory, TemporaryPlace(batch, copy).name, 0);
            outcomes.emplace_back(copy.from,
                                  Reason(error, SearchPlace(copy.from, directories), target));
        } else {
            placed.push_back(&copy);
        }
    }
    // The names durable before any source goes; a directory that cannot be flushed takes
    // its copies back.
    std::vector<int> directoryErrors(batch.directories.size(), -1);
    for (const auto* copy : placed) {
        int& error = directoryErrors[copy->directory];
        if (error < 0) {
            error = ::fsync(batch.directories[copy->directory].fd.get()) == 0 ? 0 : errno;
        }
    }
    std::vector<MovedFile> records;
    if (completion.transfer == Transfer::Move && completion.log) {
        // Only the copies whose folders are durable: the others are taken back below.
        std::vector<const Copy*> durable;
        std::erase_if(placed, [&](const Copy* copy) {
            if (directoryErrors[copy->directory] == 0) {
                durable.push_back(copy);
                return true;
            }
            return false;
        });
        RecordPlaced(batch, durable, outcomes, records, *completion.log);
        placed.insert(placed.end(), durable.begin(), durable.end());
    }
    for (const auto* copy : placed) {
        const Place target = TargetPlace(batch, *copy);
        int error = directoryErrors[copy->directory];
        if (error == 0 && completion.transfer == Transfer::Copy) {
            outcomes.emplace_back(copy->from, std::nullopt);
            continue;
        }
        if (error == 0) {
            // A source that cannot be removed takes its copy back, so that the archive
            // stays in exactly one place.
            const Place source = SearchPlace(copy->from, directories);
            error = ::unlinkat(source.directory, source.name, 0) == 0 ? 0 : errno;
        }
        if (error != 0) {
            ::unlinkat(target.directory, target.name, 0);
            WithdrawRecord(completion.log, records, copy->from);
            outcomes.emplace_back(copy->from, Failure{std::strerror(error)});
        } else {
            outcomes.emplace_back(copy->from, std::nullopt);
        }
    }
    return outcomes;
}

void Deliver(const MoveOutcome& outcome, const Outcomes& outcomes) {
    for (const auto& [from, failure] : outcomes) {
        outcome(from, failure);
    }
}

}  // namespace

// The batch being copied, and the one before it, which completes meanwhile on a thread of
// its own: the disk writes one batch while the next is read into memory.
class FileMover::Impl {
public:
    Impl(MoveOutcome outcome, const PassDirectories* directories, Transfer transfer, MoveLog* log)
        : outcome_(std::move(outcome)),
          directories_(directories),
          batchFiles_(BatchFileLimit()),
          transfer_(transfer),
          log_(transfer == Transfer::Move ? log : nullptr) {}

    void Move(const std::string& from, const std::string& to, const FileFacts* facts);
    void Finish();

private:
    void Rename(const std::string& from, const std::string& to, const FileFacts* facts);
    void ReportRename(const std::string& from, const std::string& to, int error, Place source,
                      Place target);
    void Link(const std::string& from, const std::string& to);
    void FlushLinkedFolders();
    Completion CompletionOf() const { return {directories_, transfer_, log_}; }
    void Fail(const std::string& from, int error) { outcome_(from, Failure{std::strerror(error)}); }
    void CopyAcross(const std::string& from, const std::string& to);
    void StartCompleting();
    void CollectCompleted();
    void Release(const Batch& batch);  // its sources are no longer in hand

    MoveOutcome outcome_;
    const PassDirectories* directories_;
    std::size_t batchFiles_;
    Transfer transfer_;
    MoveLog* log_;
    std::set<std::string> linkedFolders_;
    Batch building_;
    Batch completing_;  // read by that thread until `completed_` is ready
    // The sources of both batches, so that one already on its way is not taken twice.
    std::unordered_set<std::string> inHand_;
    std::future<Outcomes> completed_;
};

void FileMover::Impl::Move(const std::string& from, const std::string& to, const FileFacts* facts) {
    switch (transfer_) {
        case Transfer::Move:
            Rename(from, to, facts);
            return;
        case Transfer::Copy:
            CopyAcross(from, to);
            return;
        case Transfer::HardLink:
        case Transfer::SymbolicLink:
            Link(from, to);
            return;
    }
}

void FileMover::Impl::Rename(const std::string& from, const std::string& to,
                             const FileFacts* facts) {
    const Place source = SearchPlace(from, directories_);
    const Place target = DestPlace(to, directories_);
    const int error = RenameNoReplace(source, target);
    // Recorded once made; an archive bound for another file system is recorded with its
    // batch of copies instead.
    if (error == 0 && log_) {
        struct stat st {};
        if (facts) {
            log_->RecordRename(from, to, *facts);
        } else if (::fstatat(target.directory, target.name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            log_->RecordRename(from, to, FactsFrom(st));
        }
    }
    ReportRename(from, to, error, source, target);
}

void FileMover::Impl::ReportRename(const std::string& from, const std::string& to, int error,
                                   Place source, Place target) {
    if (error == 0) {
        outcome_(from, std::nullopt);
    } else if (error != EXDEV) {
        outcome_(from, Reason(error, source, target));
    } else {
        CopyAcross(from, to);
    }
}

void FileMover::Impl::Link(const std::string& from, const std::string& to) {
    const Place source = SearchPlace(from, directories_);
    const Place target = DestPlace(to, directories_);
    const std::string folder = DirectoryOf(to);
    int error = 0;
    if (transfer_ == Transfer::HardLink) {
        // The archive's own name is linked, a symbolic link as itself, as a move would.
        error = ::linkat(source.directory, source.name, target.directory, target.name, 0) == 0
                    ? 0
                    : errno;
    } else {
        error =
            ::symlinkat(AbsolutePath(from).c_str(), target.directory, target.name) == 0 ? 0 : errno;
    }
    if (error != 0) {
        outcome_(from, LinkReason(error, source, target, folder));
        return;
    }
    linkedFolders_.insert(folder);
    outcome_(from, std::nullopt);
}

// The links' names durable once, per folder, at the end rather than per link.
void FileMover::Impl::FlushLinkedFolders() {
    for (const auto& folder : linkedFolders_) {
        const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.valid()) {
            ::fsync(fd.get());
        }
    }
    linkedFolders_.clear();
}

void FileMover::Impl::CopyAcross(const std::string& from, const std::string& to) {
    if (completed_.valid() &&
        completed_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        CollectCompleted();
    }
    // Already on its way; taking it twice would report the second attempt as a failure.
    if (inHand_.contains(from)) {
        return;
    }
    const auto directory = DirectoryIndex(building_, DirectoryOf(to));
    if (!directory) {
        Fail(from, errno);
        return;
    }
    Copy copy{from, to, {}, FileDescriptor(), *directory};
    const Place target = TargetPlace(building_, copy);
    struct stat st {};
    if (::fstatat(target.directory, target.name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // Spares a long copy that could never be put in place.
        outcome_(from, Reason(EEXIST, SearchPlace(from, directories_), target));
        return;
    }
    std::uint64_t bytes = 0;
    int copyError = 0;
    // O_NOFOLLOW: a link is never opened, even one put there after the archive was found.
    const FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (source.valid()) {
        copyError = CopyToTemporary(source.get(), copy, bytes);
    } else if (errno == ELOOP) {
        copyError = LinkToTemporary(from, to, copy.temporary);
    } else {
        copyError = errno;
    }
    if (copyError != 0) {
        if (!copy.temporary.empty()) {
            ::unlink(copy.temporary.c_str());
        }
        Fail(from, copyError);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (building_.copies.empty()) {
        building_.started = now;
    }
    inHand_.insert(copy.from);
    building_.copies.push_back(std::move(copy));
    building_.bytes += bytes;
    if (building_.copies.size() >= batchFiles_ || building_.bytes >= kBatchBytes ||
        now - building_.started >= kBatchTime) {
        StartCompleting();
    }
}

void FileMover::Impl::StartCompleting() {
    if (building_.copies.empty()) {
        return;
    }
    CollectCompleted();  // one batch completes at a time
    completing_ = std::exchange(building_, Batch{});
    try {
        completed_ = std::async(std::launch::async,
                                [this] { return CompleteBatch(completing_, CompletionOf()); });
    } catch (...) {
        // No thread to spare: complete it here and now, which is just as safe.
        std::promise<Outcomes> done;
        done.set_value(CompleteBatch(completing_, CompletionOf()));
        completed_ = done.get_future();
    }
}

void FileMover::Impl::CollectCompleted() {
    if (!completed_.valid()) {
        return;
    }
    const Outcomes outcomes = completed_.get();
    Release(completing_);
    completing_ = Batch{};
    Deliver(outcome_, outcomes);
}

void FileMover::Impl::Finish() {
    FlushLinkedFolders();
    CollectCompleted();
    if (building_.copies.empty()) {
        return;
    }
    // Nothing left to copy meanwhile, so no thread.
    const Batch batch = std::exchange(building_, Batch{});
    Release(batch);
    Deliver(outcome_, CompleteBatch(batch, CompletionOf()));
}

void FileMover::Impl::Release(const Batch& batch) {
    for (const auto& copy : batch.copies) {
        inHand_.erase(copy.from);
    }
}

FileMover::FileMover(MoveOutcome outcome, const PassDirectories* directories, Transfer transfer,
                     MoveLog* log)
    : impl_(std::make_unique<Impl>(std::move(outcome), directories, transfer, log)) {}

FileMover::~FileMover() {
    try {
        Finish();
    } catch (...) {
        // A move left unfinished keeps its source, which loses nothing.
    }
}

void FileMover::Move(const std::string& from, const std::string& to, const FileFacts* facts) {
    impl_->Move(from, to, facts);
}

void FileMover::Finish() { impl_->Finish(); }

std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to) {
    std::optional<Failure> result;
    FileMover mover(
        [&](const std::string&, const std::optional<Failure>& failure) { result = failure; });
    mover.Move(from, to);
    mover.Finish();
    return result;
}

}  // namespace lorvex::platform
