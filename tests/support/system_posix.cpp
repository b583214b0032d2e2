// The test support on POSIX: temporary directories from mkdtemp, programs run with fork
// and execve.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "test_support.h"

extern char** environ;

namespace lorvex::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "lorvex-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary directory: " +
                                 std::string(std::strerror(errno)));
    }
    path_ = pattern;
}

OtherFileSystemDirectory::OtherFileSystemDirectory(const fs::path& besides) {
    struct stat here {};
    struct stat shm {};
    std::string pattern = "/dev/shm/lorvex-test-XXXXXX";
    if (::stat(besides.c_str(), &here) == 0 && ::stat("/dev/shm", &shm) == 0 &&
        here.st_dev != shm.st_dev && ::mkdtemp(pattern.data())) {
        path_ = pattern;
    }
}

OtherFileSystemDirectory::~OtherFileSystemDirectory() {
    if (found()) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
}

std::string FileExistsReason() { return std::strerror(EEXIST); }

std::string NoSuchFileReason() { return std::strerror(ENOENT); }

namespace {

// Reads both pipes to their end; false when the time limit ran out first.
bool DrainAll(int outFd, int errFd, std::chrono::seconds limit, RunResult& result) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    return true;
}

}  // namespace

// True when `extra` sets the variable of `entry` ("NAME=value"), which it then replaces.
bool SetBy(const std::vector<std::string>& extra, std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    return std::any_of(extra.begin(), extra.end(),
                       [&](const std::string& e) { return e.starts_with(name); });
}

std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY=") &&
            !entry.starts_with("QT_QPA_PLATFORM=") && !SetBy(extra, entry)) {
            environment.emplace_back(entry);
        }
    }
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
}

std::vector<char*> ExecArray(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

RunResult Run(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& extraEnvironment, std::chrono::seconds limit) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> environment = ProgramEnvironment(extraEnvironment);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const std::vector<char*> envp = ExecArray(environment);
    const std::vector<char*> argv = ExecArray(args);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    RunResult result;
    if (!DrainAll(outPipe[0], errPipe[0], limit, result)) {
        result.timedOut = true;
        ::kill(pid, SIGKILL);
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.rawOut = result.out;
    return result;
}

}  // namespace lorvex::test
