// POSIX (Linux) implementation of the platform services.
#include "platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
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

// Writes a complete, flushed copy of `from` under a temporary name beside `to`, with the
// source's permissions and times. Returns the temporary name, or the error.
int CopyToTemporary(const std::string& from, const std::string& to, std::string& temporary) {
    FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid()) {
        return errno;
    }
    struct stat st {};
    if (::fstat(source.get(), &st) != 0) {
        return errno;
    }
    // The temporary name must fit wherever the archive's own name fits.
    constexpr std::size_t kRoom =
        NAME_MAX - std::string_view("..XXXXXX").size() - kPartialSuffix.size();
    std::string name = DirectoryOf(to) + "/." + BaseName(to).substr(0, kRoom) + ".XXXXXX";
    name += kPartialSuffix;
    FileDescriptor target(
        ::mkostemps(name.data(), static_cast<int>(kPartialSuffix.size()), O_CLOEXEC));
    if (!target.valid()) {
        return errno;
    }
    temporary = name;
    int error = CopyData(source.get(), target.get());
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

int MoveAcrossFileSystems(const std::string& from, const std::string& to) {
    if (Exists(to)) {
        return EEXIST;  // spares a long copy that could never be put in place
    }
    std::string temporary;
    int error = CopyToTemporary(from, to, temporary);
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

bool IsPlainFileName(std::string_view name) {
    return name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

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
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
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

}  // namespace lorvex::platform
