#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

TempDir::~TempDir() {
    std::error_code ignored;
    // Restore permissions that a test took away, so that everything can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ListDirectory(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string MapWithHeader(const std::string& body) {
    return "; test map\r\n; name=category\r\n[Catalogue]\r\n" + body;
}

ProgramFiles::ProgramFiles() {
    fs::create_directory(program);
    fs::create_directory(search);
    for (const char* name : {"cats.txt", "cats2.txt", "lorvex.ini", "lorvex2.ini"}) {
        fs::copy_file(fs::path(LORVEX_TEST_DATA_DIR) / name, program / name);
    }
}

void ProgramFiles::WriteMap(const std::string& body) const {
    WriteFile(program / "lorvex.ini", MapWithHeader(body));
}

void ProgramFiles::WriteArchive(const std::string& name, const std::string& contents) const {
    WriteFile(search / name, contents);
}

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

std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY=") &&
            !entry.starts_with("QT_QPA_PLATFORM=")) {
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
    return result;
}

std::string LorvexExecutable() { return LORVEX_EXECUTABLE; }

}  // namespace lorvex::test
