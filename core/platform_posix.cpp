// POSIX (Linux) implementation of the platform services.
#include "platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "errors.h"

namespace lorvex::platform {
namespace {

Failure FailureFromErrno(int error) { return Failure{std::strerror(error)}; }

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
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

// Puts `from` in place as `to` unless `to` exists. Falls back to link and unlink on
// file systems without the no-replace rename.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
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
    std::vector<char> buffer(1 << 20);
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

int SyncDirectory(const std::string& directory) {
    FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        return errno;
    }
    return ::fsync(fd.get()) == 0 ? 0 : errno;
}

// The temporary name of a copy of `to` in progress, ending in "XXXXXX" + kPartialSuffix
// for the caller to fill in. It fits wherever the archive's own name fits.
std::string TemporaryPattern(const std::string& to) {
    constexpr std::size_t kRoom =
        NAME_MAX - std::string_view("..XXXXXX").size() - kPartialSuffix.size();
    std::string name = DirectoryOf(to) + "/." + BaseName(to).substr(0, kRoom) + ".XXXXXX";
    return name += kPartialSuffix;
}

// Writes a complete, flushed copy of the regular file open as `source` under a temporary
// name beside `to`, with the source's permissions and times. Sets `temporary` to the
// name as soon as it exists.
int CopyToTemporary(int source, const std::string& to, std::string& temporary) {
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
    int error = CopyData(source, target.get());
    if (error == 0 && ::fchmod(target.get(), st.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(target.get(), times);  // times are a courtesy; the data is what matters
        if (::fsync(target.get()) != 0) {
            error = errno;
        }
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

int MoveAcrossFileSystems(const std::string& from, const std::string& to) {
    if (Exists(to)) {
        return EEXIST;  // spares a long copy that could never be put in place
    }
    std::string temporary;
    int error = 0;
    // O_NOFOLLOW: a link is never opened, even one put there after the archive was found.
    FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (source.valid()) {
        error = CopyToTemporary(source.get(), to, temporary);
    } else if (errno == ELOOP) {
        error = LinkToTemporary(from, to, temporary);
    } else {
        error = errno;
    }
    if (error == 0) {
        error = RenameNoReplace(temporary, to);
    }
    if (error != 0) {
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
        return error;
    }
    // The copy is durable before the source goes; if the source cannot be removed the
    // copy is taken back so that the archive stays in exactly one place.
    SyncDirectory(DirectoryOf(to));
    if (::unlink(from.c_str()) != 0) {
        error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

}  // namespace

bool IsSeparator(char c) { return c == '/'; }

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

std::optional<std::uint64_t> RegularFileLength(const std::string& path) {
    // lstat first: an ordinary archive costs one call, and only a link a second one to
    // learn what it names.
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) {
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
    int error = RenameNoReplace(from, to);
    if (error == EXDEV) {
        error = MoveAcrossFileSystems(from, to);
    }
    if (error != 0) {
        return FailureFromErrno(error);
    }
    return std::nullopt;
}

std::string ReadWholeFile(const std::string& path, std::string_view what) {
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
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) {
            text.resize(text.size() * 2);
        }
        const ssize_t got = ::read(fd.get(), text.data() + filled, text.size() - filled);
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
    text.resize(filled);
    return text;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace lorvex::platform
