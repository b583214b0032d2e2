// A FUSE file system for the tests that loses power on demand: it passes every call through
// to a backing directory, except that the bytes written to a file stay in memory until the
// file is flushed with fsync or fdatasync, as in a disk's cache. Names change at once
// (create, mkdir, rename, link, unlink), so they are always "on disk". Unmounting it is the
// power cut: whatever was never flushed is gone, and the backing directory shows what a
// machine would find after the reboot.
//
//   power_cut_fs BACKING MOUNTPOINT READY_FD [--kill-at OPERATION:N] [--fail-fsync]
//                [--log-lookups FILE] [--hold-at OPERATION:N HELD RELEASE]
//
// READY_FD gets one byte once the file system answers. --kill-at kills the calling process
// with SIGKILL at the Nth call of an operation (fsync, fsyncdir, rename, unlink), which is
// then not carried out; --fail-fsync makes every fsync fail with EIO; --log-lookups
// appends the path of every look-up (getattr) to FILE, one a line, as it is answered.
// --hold-at holds the Nth call of an operation (read) until the test lets it go: it writes
// a byte into the FIFO HELD, then waits for one from the FIFO RELEASE. The daemon answers
// one call at a time, so the whole file system waits meanwhile.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string backing;
    int readyFd = -1;
    std::string killAt;  // operation name
    int killAtCall = 0;
    bool failFsync = false;
    int lookupLog = -1;
    std::string holdAt;  // operation name
    int holdAtCall = 0;
    std::string held;  // FIFOs
    std::string release;
};

Options options;
std::map<std::string, int> calls;
std::map<std::string, int> holds;
// The unflushed contents of each file written to, by its inode in the backing directory.
std::map<ino_t, std::string> unflushed;

std::string Backing(const char* path) { return options.backing + path; }

int Result(int value) { return value < 0 ? -errno : value; }

// The process the calling thread belongs to.
pid_t CallerProcess() {
    const pid_t thread = fuse_get_context()->pid;
    std::ifstream status("/proc/" + std::to_string(thread) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Tgid:")) {
            return static_cast<pid_t>(std::stoi(line.substr(5)));
        }
    }
    return thread;
}

// True when this call is the one to die at: the caller is killed and the call not made.
bool KillsCaller(const std::string& operation) {
    if (operation != options.killAt || ++calls[operation] != options.killAtCall) {
        return false;
    }
    ::kill(CallerProcess(), SIGKILL);
    return true;
}

void HoldIfAsked(const std::string& operation) {
    if (operation != options.holdAt || ++holds[operation] != options.holdAtCall) {
        return;
    }
    char byte = 'h';
    if (const int held = ::open(options.held.c_str(), O_WRONLY | O_CLOEXEC); held >= 0) {
        (void)!::write(held, &byte, 1);
        ::close(held);
    }
    if (const int release = ::open(options.release.c_str(), O_RDONLY | O_CLOEXEC); release >= 0) {
        (void)!::read(release, &byte, 1);
        ::close(release);
    }
}

ino_t InodeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// The file's contents as the caller sees them, held in memory from its first change on.
std::string& Contents(int fd) {
    const ino_t inode = InodeOf(fd);
    auto found = unflushed.find(inode);
    if (found == unflushed.end()) {
        std::string bytes;
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
            if (got <= 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
        found = unflushed.emplace(inode, std::move(bytes)).first;
    }
    return found->second;
}

void* Init(fuse_conn_info*, fuse_config* config) {
    // Every call reaches this process: nothing is cached by the kernel.
    config->direct_io = 1;
    config->attr_timeout = 0;
    config->entry_timeout = 0;
    config->negative_timeout = 0;
    ::write(options.readyFd, "r", 1);
    ::close(options.readyFd);
    return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    if (options.lookupLog >= 0) {
        const std::string line = std::string(path) + "\n";
        if (::write(options.lookupLog, line.data(), line.size()) < 0) {
            return -EIO;
        }
    }
    if (::lstat(Backing(path).c_str(), st) != 0) {
        return -errno;
    }
    if (const auto found = unflushed.find(st->st_ino); found != unflushed.end()) {
        st->st_size = static_cast<off_t>(found->second.size());
    }
    return 0;
}

int ReadLink(const char* path, char* buffer, size_t size) {
    const ssize_t length = ::readlink(Backing(path).c_str(), buffer, size - 1);
    if (length < 0) {
        return -errno;
    }
    buffer[length] = '\0';
    return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    DIR* directory = ::opendir(Backing(path).c_str());
    if (!directory) {
        return -errno;
    }
    while (const dirent* entry = ::readdir(directory)) {
        struct stat st {};
        st.st_ino = entry->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) {
            break;
        }
    }
    ::closedir(directory);
    return 0;
}

int MakeDir(const char* path, mode_t mode) { return Result(::mkdir(Backing(path).c_str(), mode)); }

int RemoveDir(const char* path) { return Result(::rmdir(Backing(path).c_str())); }

int Unlink(const char* path) {
    return KillsCaller("unlink") ? -EIO : Result(::unlink(Backing(path).c_str()));
}

int SymLink(const char* target, const char* path) {
    return Result(::symlink(target, Backing(path).c_str()));
}

int Rename(const char* from, const char* to, unsigned int flags) {
    if (KillsCaller("rename")) {
        return -EIO;
    }
    return Result(
        ::renameat2(AT_FDCWD, Backing(from).c_str(), AT_FDCWD, Backing(to).c_str(), flags));
}

int Link(const char* from, const char* to) {
    return Result(::link(Backing(from).c_str(), Backing(to).c_str()));
}

int ChangeMode(const char* path, mode_t mode, fuse_file_info*) {
    return Result(::chmod(Backing(path).c_str(), mode));
}

int ChangeOwner(const char* path, uid_t uid, gid_t gid, fuse_file_info*) {
    return Result(::lchown(Backing(path).c_str(), uid, gid));
}

int SetTimes(const char* path, const timespec times[2], fuse_file_info*) {
    return Result(::utimensat(AT_FDCWD, Backing(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int Truncate(const char* path, off_t size, fuse_file_info* file) {
    const int fd = file ? static_cast<int>(file->fh) : ::open(Backing(path).c_str(), O_RDONLY);
    if (fd < 0) {
        return -errno;
    }
    Contents(fd).resize(static_cast<std::size_t>(size));
    if (!file) {
        ::close(fd);
    }
    return 0;
}

// Files are opened for reading and writing in the backing directory whatever the caller
// asked, since their bytes are read into memory before the first change.
int OpenBacking(const char* path, fuse_file_info* file, int extraFlags, mode_t mode) {
    const int fd = ::open(Backing(path).c_str(), O_RDWR | O_CLOEXEC | extraFlags, mode);
    if (fd < 0) {
        return -errno;
    }
    file->fh = static_cast<uint64_t>(fd);
    if (file->flags & O_TRUNC) {
        Contents(fd).clear();
    }
    return 0;
}

int Open(const char* path, fuse_file_info* file) { return OpenBacking(path, file, 0, 0); }

int Create(const char* path, mode_t mode, fuse_file_info* file) {
    return OpenBacking(path, file, O_CREAT | (file->flags & O_EXCL), mode);
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* file) {
    HoldIfAsked("read");
    const int fd = static_cast<int>(file->fh);
    const auto found = unflushed.find(InodeOf(fd));
    if (found == unflushed.end()) {
        return Result(static_cast<int>(::pread(fd, buffer, size, offset)));
    }
    const std::string& bytes = found->second;
    if (static_cast<std::size_t>(offset) >= bytes.size()) {
        return 0;
    }
    const std::size_t count = std::min(size, bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(buffer, bytes.data() + offset, count);
    return static_cast<int>(count);
}

int Write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* file) {
    std::string& bytes = Contents(static_cast<int>(file->fh));
    const auto end = static_cast<std::size_t>(offset) + size;
    if (bytes.size() < end) {
        bytes.resize(end);
    }
    std::memcpy(bytes.data() + offset, buffer, size);
    return static_cast<int>(size);
}

int StatFs(const char* path, struct statvfs* st) {
    return Result(::statvfs(Backing(path).c_str(), st));
}

int Release(const char*, fuse_file_info* file) {
    return Result(::close(static_cast<int>(file->fh)));
}

// The only way bytes reach the backing directory.
int Fsync(const char*, int, fuse_file_info* file) {
    if (KillsCaller("fsync")) {
        return -EIO;
    }
    if (options.failFsync) {
        return -EIO;
    }
    const int fd = static_cast<int>(file->fh);
    const auto found = unflushed.find(InodeOf(fd));
    if (found == unflushed.end()) {
        return 0;
    }
    const std::string& bytes = found->second;
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        return -errno;
    }
    unflushed.erase(found);
    return 0;
}

int FsyncDir(const char*, int, fuse_file_info*) { return KillsCaller("fsyncdir") ? -EIO : 0; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: power_cut_fs BACKING MOUNTPOINT READY_FD [--kill-at OP:N] "
                     "[--fail-fsync]\n");
        return 2;
    }
    options.backing = argv[1];
    options.readyFd = std::stoi(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--fail-fsync") {
            options.failFsync = true;
        } else if (word == "--log-lookups" && i + 1 < argc) {
            options.lookupLog = ::open(argv[++i], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        } else if (word == "--kill-at" && i + 1 < argc) {
            const std::string at = argv[++i];
            options.killAt = at.substr(0, at.find(':'));
            options.killAtCall = std::stoi(at.substr(at.find(':') + 1));
        } else if (word == "--hold-at" && i + 3 < argc) {
            const std::string at = argv[++i];
            options.holdAt = at.substr(0, at.find(':'));
            options.holdAtCall = std::stoi(at.substr(at.find(':') + 1));
            options.held = argv[++i];
            options.release = argv[++i];
        }
    }
    fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readlink = ReadLink;
    operations.readdir = ReadDir;
    operations.mkdir = MakeDir;
    operations.rmdir = RemoveDir;
    operations.unlink = Unlink;
    operations.symlink = SymLink;
    operations.rename = Rename;
    operations.link = Link;
    operations.chmod = ChangeMode;
    operations.chown = ChangeOwner;
    operations.utimens = SetTimes;
    operations.truncate = Truncate;
    operations.open = Open;
    operations.create = Create;
    operations.read = Read;
    operations.write = Write;
    operations.statfs = StatFs;
    operations.release = Release;
    operations.fsync = Fsync;
    operations.fsyncdir = FsyncDir;
    // One thread: the calls are answered in order, and the memory needs no lock.
    std::vector<char*> fuseArguments{argv[0], argv[2], const_cast<char*>("-f"),
                                     const_cast<char*>("-s")};
    return fuse_main(static_cast<int>(fuseArguments.size()), fuseArguments.data(), &operations,
                     nullptr);
}
