// The file system of a POSIX system (Linux), as a run sees it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "platform_posix.h"
#include "system_file_system.h"

namespace lorvex::platform {
namespace {

fs::Error KindOf(int error) {
    switch (error) {
        case EEXIST:
        case ENOTEMPTY:
            return error == EEXIST ? fs::Error::Exists : fs::Error::Other;
        case ENOENT:
            return fs::Error::NotFound;
        case ENOTDIR:
            return fs::Error::NotDirectory;
        case ENOSPC:
        case EDQUOT:
            return fs::Error::NoSpace;
        case EACCES:
        case EPERM:
            return fs::Error::Permission;
        case EROFS:
            return fs::Error::ReadOnly;
        case EXDEV:
            return fs::Error::CrossDevice;
        case EOPNOTSUPP:
        case ENOSYS:
        case EINVAL:
            return fs::Error::NotSupported;
        case ENAMETOOLONG:
            return fs::Error::NameTooLong;
        case EIO:
        case ENOTCONN:
        case ECONNABORTED:
        case ESTALE:
            return fs::Error::Io;
        default:
            return fs::Error::Other;
    }
}

fs::Failure FailureOf(int error) { return {KindOf(error), std::strerror(error)}; }

fs::Outcome Done(int result) { return result == 0 ? fs::Outcome() : fs::Outcome(FailureOf(errno)); }

fs::FileTime TimeOf(const struct timespec& time) {
    return {std::int64_t{time.tv_sec}, static_cast<std::uint32_t>(time.tv_nsec)};
}

fs::Kind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return fs::Kind::File;
    }
    if (S_ISDIR(mode)) {
        return fs::Kind::Directory;
    }
    return S_ISLNK(mode) ? fs::Kind::Link : fs::Kind::Other;
}

fs::Kind KindOfEntry(unsigned char type) {
    switch (type) {
        case DT_REG:
            return fs::Kind::File;
        case DT_DIR:
            return fs::Kind::Directory;
        case DT_LNK:
            return fs::Kind::Link;
        default:
            return fs::Kind::Other;
    }
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
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
std::string TemporaryPattern(const std::string& to, std::string_view runTag) {
    const std::size_t tag = runTag.empty() ? 0 : runTag.size() + 1;
    const std::size_t room =
        NAME_MAX - std::string_view("..XXXXXX").size() - fs::kPartialSuffix.size() - tag;
    std::string name = DirectoryOf(to) + "/." + BaseName(to).substr(0, room);
    if (!runTag.empty()) {
        name.append(".").append(runTag);
    }
    return name.append(".XXXXXX").append(fs::kPartialSuffix);
}

constexpr int kSuffixLength = static_cast<int>(fs::kPartialSuffix.size());

// The target text of a symbolic link, exactly as stored.
int ReadLinkText(Place link, std::string& text) {
    text.resize(256);
    for (;;) {
        const ssize_t length = ::readlinkat(link.directory, link.name, text.data(), text.size());
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
int LinkToTemporary(Place from, const std::string& to, std::string_view runTag,
                    std::string& temporary) {
    std::string target;
    if (const int error = ReadLinkText(from, target); error != 0) {
        return error;
    }
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random(std::random_device{}());
    std::string name = TemporaryPattern(to, runTag);
    const std::size_t unique = name.size() - kSuffixLength - 6;
    // symlink has no mkstemp of its own: draw names until one is free, as mkstemp does.
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = unique; i < unique + 6; ++i) {
            name[i] = kLetters[random() % kLetters.size()];
        }
        if (::symlink(target.c_str(), name.c_str()) == 0) {
            temporary = name;
            struct stat st {};
            if (::fstatat(from.directory, from.name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
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

// From this size on a copy's writeback starts as soon as it is made.
constexpr std::uint64_t kEarlyWritebackBytes = std::uint64_t{1} << 20;

// Writes a complete copy of the regular file open as `source` under a temporary name
// beside `to`, with the source's permissions and times, and starts writing it to disk.
int CopyFileToTemporary(int source, const std::string& to, std::string_view runTag,
                        fs::CopyInProgress& copy) {
    struct stat st {};
    if (::fstat(source, &st) != 0) {
        return errno;
    }
    std::string name = TemporaryPattern(to, runTag);
    FileDescriptor target(::mkostemps(name.data(), kSuffixLength, O_CLOEXEC));
    if (!target.valid()) {
        return errno;
    }
    copy.temporary = name;
    copy.bytes = static_cast<std::uint64_t>(st.st_size);
    int error = CopyData(source, target.get());
    if (error == 0 && ::fchmod(target.get(), st.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error != 0) {
        return error;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(target.get(), times);  // times are a courtesy; the data is what matters
    // A large copy goes to the disk at once, while the next ones are made; small ones
    // wait for their batch's flush, where the disk takes them together.
    if (copy.bytes >= kEarlyWritebackBytes) {
        ::sync_file_range(target.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    copy.handle = target.Release();
    return 0;
}

class PosixFileSystem final : public fs::FileSystem {
public:
    std::string Words(fs::Error kind) const override {
        static constexpr std::pair<fs::Error, int> kCodes[] = {
            {fs::Error::Exists, EEXIST},
            {fs::Error::NotFound, ENOENT},
            {fs::Error::NotDirectory, ENOTDIR},
            {fs::Error::NoSpace, ENOSPC},
            {fs::Error::Permission, EACCES},
            {fs::Error::ReadOnly, EROFS},
            {fs::Error::CrossDevice, EXDEV},
            {fs::Error::NotSupported, EOPNOTSUPP},
            {fs::Error::NameTooLong, ENAMETOOLONG},
            {fs::Error::Io, EIO}};
        for (const auto& [each, code] : kCodes) {
            if (each == kind) {
                return std::strerror(code);
            }
        }
        return std::strerror(EIO);
    }

    fs::Status StatusOf(const std::string& path) override {
        // lstat first: an ordinary archive costs one call, and only a link a second one to
        // learn what it names.
        fs::Status status;
        struct stat st {};
        const Place place = PlaceOf(path);
        if (path.empty() || ::fstatat(place.directory, place.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (!path.empty() && errno != ENOENT && errno != ENOTDIR && errno != ENAMETOOLONG) {
                status.kind = status.target = fs::Kind::Unknown;
            }
            return status;
        }
        status.kind = KindOfMode(st.st_mode);
        status.facts = {static_cast<std::uint64_t>(st.st_size), TimeOf(st.st_mtim)};
        status.target = status.kind;
        status.targetSize = status.facts.size;
        if (status.kind == fs::Kind::Link) {
            status.targetSize = 0;
            status.target = ::fstatat(place.directory, place.name, &st, 0) == 0
                                ? KindOfMode(st.st_mode)
                                : fs::Kind::Missing;
            if (status.target == fs::Kind::File) {
                status.targetSize = static_cast<std::uint64_t>(st.st_size);
            }
        }
        return status;
    }

    fs::Outcome List(const std::string& folder,
                     const std::function<void(const fs::Entry&)>& visit) override {
        const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
        if (!listing) {
            return FailureOf(errno);
        }
        errno = 0;
        while (const dirent* entry = ::readdir(listing.get())) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                visit({name, KindOfEntry(entry->d_type)});
            }
            errno = 0;
        }
        return errno == 0 ? fs::Outcome() : fs::Outcome(FailureOf(errno));
    }

    bool SameContents(const std::string& first, const std::string& second) override {
        struct stat a {};
        struct stat b {};
        const Place one = PlaceOf(first);
        const Place two = PlaceOf(second);
        if (::fstatat(one.directory, one.name, &a, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fstatat(two.directory, two.name, &b, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) || a.st_size != b.st_size) {
            return false;
        }
        const FileDescriptor left(::openat(one.directory, one.name, O_RDONLY | O_CLOEXEC));
        const FileDescriptor right(::openat(two.directory, two.name, O_RDONLY | O_CLOEXEC));
        if (!left.valid() || !right.valid()) {
            return false;
        }
        constexpr std::size_t kChunk = 128 << 10;
        std::vector<char> leftBytes(kChunk);
        std::vector<char> rightBytes(kChunk);
        for (;;) {
            const ssize_t got = ReadFully(left.get(), leftBytes.data(), kChunk);
            if (got < 0 || ReadFully(right.get(), rightBytes.data(), kChunk) != got ||
                !std::equal(leftBytes.begin(), leftBytes.begin() + got, rightBytes.begin())) {
                return false;
            }
            if (got == 0) {
                return true;
            }
        }
    }

    fs::Outcome ReadAll(const std::string& path, std::string& text) override {
        const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        struct stat st {};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
            return FailureOf(errno);
        }
        if (!S_ISREG(st.st_mode)) {
            return FailureOf(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        }
        text.clear();
        char buffer[64 << 10];
        for (;;) {
            const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return FailureOf(errno);
            }
            if (got == 0) {
                return std::nullopt;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }

    fs::Outcome MakeFolder(const std::string& path) override {
        if (::mkdir(path.c_str(), 0777) == 0) {
            return std::nullopt;
        }
        const int error = errno;
        if (error == EEXIST) {
            struct stat st {};
            return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
                       ? fs::Outcome()
                       : fs::Outcome(FailureOf(ENOTDIR));
        }
        return FailureOf(error);
    }

    fs::Outcome RemoveFolder(const std::string& path) override {
        return Done(::rmdir(path.c_str()));
    }

    fs::Outcome Remove(const std::string& path) override {
        const Place place = PlaceOf(path);
        return Done(::unlinkat(place.directory, place.name, 0));
    }

    fs::Outcome RenameNoReplace(const std::string& from, const std::string& to) override {
        const Place source = PlaceOf(from);
        const Place target = PlaceOf(to);
        // A file system that refused once refuses again: on a share the refusal alone cost
        // a round trip per archive, under the kernel's rename lock. Either folder tells, as
        // a rename stays on one file system.
        Held* held = HeldOf(from);
        if (held == nullptr) {
            held = HeldOf(to);
        }
        if (held == nullptr || !held->refusesNoReplace) {
            if (::renameat2(source.directory, source.name, target.directory, target.name,
                            RENAME_NOREPLACE) == 0) {
                return std::nullopt;
            }
            if (errno != EINVAL && errno != ENOSYS) {
                return FailureOf(errno);
            }
            if (held != nullptr) {
                held->refusesNoReplace = true;
            }
        }
        // A file system without the no-replace rename (some FUSE ones): a link, then the
        // old name goes.
        if (::linkat(source.directory, source.name, target.directory, target.name, 0) != 0) {
            return FailureOf(errno);
        }
        if (::unlinkat(source.directory, source.name, 0) != 0) {
            // A removal may fail after it took effect (a retried one on NFS, a FUSE daemon
            // that dies): look again before the new name goes, which may be the only one.
            const int error = errno;
            struct stat st {};
            if (::fstatat(source.directory, source.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    return std::nullopt;
                }
                return FailureOf(error);  // unknown: both names stay
            }
            ::unlinkat(target.directory, target.name, 0);
            return FailureOf(error);
        }
        return std::nullopt;
    }

    fs::Outcome Link(const std::string& from, const std::string& to, bool symbolic) override {
        const Place target = PlaceOf(to);
        if (symbolic) {
            return Done(::symlinkat(from.c_str(), target.directory, target.name));
        }
        // The name itself is linked, a symbolic link as itself, as a move would.
        const Place source = PlaceOf(from);
        return Done(::linkat(source.directory, source.name, target.directory, target.name, 0));
    }

    fs::Outcome FlushFolder(const std::string& folder) override {
        const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.valid()) {
            return FailureOf(errno);
        }
        return Done(::fsync(fd.get()));
    }

    fs::Outcome CopyToTemporary(const std::string& from, const std::string& to,
                                std::string_view runTag, fs::CopyInProgress& copy) override {
        const Place place = PlaceOf(from);
        // O_NOFOLLOW: a link is never opened, even one put there after the archive was found.
        const FileDescriptor source(
            ::openat(place.directory, place.name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        int error = 0;
        if (source.valid()) {
            error = CopyFileToTemporary(source.get(), to, runTag, copy);
        } else if (errno == ELOOP) {
            error = LinkToTemporary(place, to, runTag, copy.temporary);
        } else {
            error = errno;
        }
        if (error == 0) {
            return std::nullopt;
        }
        if (!copy.temporary.empty()) {
            ::unlink(copy.temporary.c_str());
            copy.temporary.clear();
        }
        return FailureOf(error);
    }

    fs::Outcome FlushFiles(std::span<const fs::Handle> files) override {
        int firstError = 0;
        const auto note = [&](int result) {
            if (result != 0 && firstError == 0) {
                firstError = errno;
            }
        };
        // All the data written before the first flush: then that flush commits the file
        // system's journal for every copy at once, and the others find it done (on ext4 one
        // commit and one cache flush of the disk per batch instead of one per copy). The
        // wait reports a failed write itself, and only once, so its result counts.
        for (const fs::Handle file : files) {
            ::sync_file_range(static_cast<int>(file), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        for (const fs::Handle file : files) {
            note(::sync_file_range(
                static_cast<int>(file), 0, 0,
                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER));
        }
        for (const fs::Handle file : files) {
            // fdatasync, not syncfs: a FUSE file system never hears of syncfs.
            note(::fdatasync(static_cast<int>(file)));
        }
        return firstError == 0 ? fs::Outcome() : fs::Outcome(FailureOf(firstError));
    }

    void Close(fs::Handle file) override {
        if (file != fs::kNoHandle) {
            ::close(static_cast<int>(file));
        }
    }

    fs::Outcome OpenForAppend(const std::string& path, bool create, fs::Handle& file) override {
        const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
        const int fd = ::open(path.c_str(), flags, 0600);
        if (fd < 0) {
            return FailureOf(errno);
        }
        file = fd;
        return std::nullopt;
    }

    fs::Outcome Append(fs::Handle file, std::string_view text) override {
        while (!text.empty()) {
            const ssize_t written = ::write(static_cast<int>(file), text.data(), text.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0) {
                return FailureOf(errno);
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
        return std::nullopt;
    }

    fs::Outcome CheckAccess(const std::string& path, fs::Access access) override {
        if (access == fs::Access::Search) {
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                return FailureOf(errno);
            }
            if (!S_ISDIR(st.st_mode)) {
                return FailureOf(ENOTDIR);
            }
            return Done(::access(path.c_str(), X_OK));
        }
        if (access == fs::Access::Read) {
            const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            return fd.valid() ? fs::Outcome() : fs::Outcome(FailureOf(errno));
        }
        const std::string folder =
            access == fs::Access::AddTo ? WithoutTrailingSlashes(path) : DirectoryOf(path);
        if (::access(folder.c_str(), W_OK | X_OK) != 0) {
            return FailureOf(errno);
        }
        if (access == fs::Access::RemoveFrom) {
            // A sticky folder lets only the owner of a file, or of the folder, remove it.
            struct stat dir {};
            struct stat file {};
            const uid_t user = ::geteuid();
            if (::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && user != 0 &&
                dir.st_uid != user && ::lstat(path.c_str(), &file) == 0 && file.st_uid != user) {
                return FailureOf(EPERM);
            }
        }
        return std::nullopt;
    }

    fs::Outcome CheckNameFits(const std::string& path) override {
        const std::string bare = WithoutTrailingSlashes(path);
        if (bare.size() >= PATH_MAX) {
            return FailureOf(ENAMETOOLONG);
        }
        std::string existing = DirectoryOf(bare);
        struct stat st {};
        while (!(::stat(existing.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) &&
               existing != DirectoryOf(existing)) {
            existing = DirectoryOf(existing);
        }
        const long limit = ::pathconf(existing.c_str(), _PC_NAME_MAX);
        const std::size_t name = bare.size() - bare.find_last_of('/') - 1;
        if (limit > 0 && name > static_cast<std::size_t>(limit)) {
            return FailureOf(ENAMETOOLONG);
        }
        return std::nullopt;
    }

    std::optional<fs::Space> FreeSpace(const std::string& folder) override {
        struct statvfs room {};
        struct statfs system {};
        if (::statvfs(folder.c_str(), &room) != 0 || ::statfs(folder.c_str(), &system) != 0) {
            return std::nullopt;
        }
        constexpr long kTmpfs = 0x01021994;  // TMPFS_MAGIC: counts whole pages, nothing else
        return fs::Space{static_cast<std::uint64_t>(room.f_fsid),
                         std::uint64_t{room.f_bavail} * room.f_frsize, room.f_frsize,
                         system.f_type == kTmpfs};
    }

    std::optional<bool> SameFolder(const std::string& first, const std::string& second) override {
        struct stat a {};
        struct stat b {};
        if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) {
            return std::nullopt;
        }
        return S_ISDIR(a.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }

    std::optional<bool> SameMount(const std::string& first, const std::string& second) override {
        // The mount's own id: a bind mount shares its device with the mount it shows, but
        // no rename or link crosses from one to the other.
        struct statx a {};
        struct statx b {};
        if (::statx(AT_FDCWD, first.c_str(), 0, STATX_MNT_ID, &a) != 0 ||
            ::statx(AT_FDCWD, second.c_str(), 0, STATX_MNT_ID, &b) != 0) {
            return std::nullopt;
        }
        if ((a.stx_mask & STATX_MNT_ID) && (b.stx_mask & STATX_MNT_ID)) {
            return a.stx_mnt_id == b.stx_mnt_id;
        }
        return a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
    }

    std::optional<std::string> WithoutLinks(const std::string& folder) override {
        if (const char* system = FileSystemWithoutLinks(folder)) {
            return system;
        }
        return std::nullopt;
    }

    std::size_t OpenFileLimit() override {
        // A program that holds many files open at once raises its soft limit to the hard one.
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return 256;
        }
        if (limit.rlim_cur < limit.rlim_max) {
            rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
                limit = raised;
            }
        }
        return limit.rlim_cur == RLIM_INFINITY ? std::size_t{1} << 20
                                               : static_cast<std::size_t>(limit.rlim_cur);
    }

    std::string Absolute(const std::string& path) override { return AbsolutePath(path); }

    fs::Outcome Lock(const std::string& path, fs::Handle& lock) override {
        FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd.valid()) {
            return FailureOf(errno);
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return FailureOf(errno == EWOULDBLOCK ? EEXIST : errno);
        }
        lock = fd.Release();
        return std::nullopt;
    }

    std::optional<bool> IsLocked(const std::string& path) override {
        // Opened for reading only, so that a lock of a folder the user may only read can
        // still be tested; flock takes any open file.
        const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid()) {
            return std::nullopt;
        }
        if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) {
            return errno == EWOULDBLOCK ? std::optional(true) : std::nullopt;
        }
        return false;  // closing the descriptor lets the shared lock go
    }

    bool IsRemote(const std::string& folder) override {
        constexpr long kRemote[] = {
            0x6969,      // NFS
            0xFF534D42,  // CIFS
            0xFE534D42,  // SMB2
            0x517B,      // SMB
            0x65735546,  // FUSE (sshfs and others)
            0x01021997,  // 9p
        };
        struct statfs system {};
        if (::statfs(folder.c_str(), &system) != 0) {
            return false;
        }
        return std::find(std::begin(kRemote), std::end(kRemote),
                         static_cast<long>(system.f_type)) != std::end(kRemote);
    }

    bool FillsNameLimit(std::string_view name) const override { return name.size() == NAME_MAX; }

    void HoldFolders(std::span<const std::string> folders) override {
        const std::lock_guard lock(heldMutex_);
        held_.clear();
        for (const auto& folder : folders) {
            std::string named = folder.ends_with('/') ? folder : folder + '/';
            FileDescriptor fd(::open(named.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fd.valid()) {
                held_.emplace_back(std::move(named), std::move(fd));
            }
        }
    }

    void ForgetFolders() override {
        const std::lock_guard lock(heldMutex_);
        held_.clear();
    }

private:
    struct Held {
        Held(std::string name, FileDescriptor descriptor)
            : folder(std::move(name)), fd(std::move(descriptor)) {}
        std::string folder;  // ending in '/'
        FileDescriptor fd;
        std::atomic<bool> refusesNoReplace = false;  // its file system has no such rename
    };

    // The held folder `path` names a file directly inside of, if any. The held folders
    // change only between runs, while no call is under way.
    Held* HeldOf(const std::string& path) {
        for (auto& held : held_) {
            if (path.size() > held.folder.size() && path.starts_with(held.folder) &&
                path.find('/', held.folder.size()) == std::string::npos) {
                return &held;
            }
        }
        return nullptr;
    }

    // `path` relative to a held folder when it names a file directly inside it.
    Place PlaceOf(const std::string& path) {
        const Held* const held = HeldOf(path);
        return held ? Place{held->fd.get(), path.c_str() + held->folder.size()}
                    : Place{AT_FDCWD, path.c_str()};
    }

    std::mutex heldMutex_;
    std::deque<Held> held_;  // a deque, as a Held cannot move
};

}  // namespace

fs::FileSystem& SystemFileSystem() {
    static PosixFileSystem system;
    return system;
}

}  // namespace lorvex::platform
