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

#include "platform.h"
#include "platform_posix.h"
#include "terminal.h"

namespace lorvex::platform {
namespace {

Failure FailureFromErrno(int error) { return Failure{std::strerror(error)}; }


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

std::optional<Failure> ReadWholeFile(const std::string& path, FileText& text) {
    // Non-blocking, so that opening a pipe with no writer cannot hang the program.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return FailureFromErrno(errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return FailureFromErrno(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return FailureFromErrno(EISDIR);
    }
    // A device or a pipe may never end (a link to /dev/zero would fill the memory).
    if (!S_ISREG(st.st_mode)) {
        return Failure{"not a regular file"};
    }
    // One byte more than the file holds, so that the read which finds the end needs no
    // second buffer; a file that grew meanwhile is still read whole.
    std::size_t room = static_cast<std::size_t>(st.st_size) + 1;
    auto bytes = std::make_unique_for_overwrite<char[]>(room);
    std::size_t filled = 0;
    for (;;) {
        if (filled == room) {
            auto larger = std::make_unique_for_overwrite<char[]>(room * 2);
            std::copy(bytes.get(), bytes.get() + filled, larger.get());
            bytes = std::move(larger);
            room *= 2;
        }
        const ssize_t got = ::read(fd.get(), bytes.get() + filled, room - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FailureFromErrno(errno);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    text = FileText(std::move(bytes), filled);
    return std::nullopt;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

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

std::string UserStateDirectory() {
    // A relative XDG_STATE_HOME is invalid and ignored, as for XDG_DATA_HOME.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        return std::string(state) + "/lorvex";
    }
    const char* home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/.local/state/lorvex" : std::string();
}

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

}  // namespace lorvex::platform
