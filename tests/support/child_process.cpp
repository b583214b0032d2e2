#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "test_support.h"

namespace lorvex::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& outputDirectory)
    : outPath_(outputDirectory / "child.out"), errPath_(outputDirectory / "child.err") {
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = ProgramEnvironment();
    const std::vector<char*> argv = ExecArray(args);
    const std::vector<char*> envp = ExecArray(environment);
    const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) {
        throw std::runtime_error("cannot create output files in " + outputDirectory.string());
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    if (pid_ < 0) {
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    }
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        Kill();
        Wait();
    }
    if (pidFd_ >= 0) {
        ::close(pidFd_);
    }
}

int ChildProcess::EndDescriptor() {
    if (pidFd_ < 0) {
        // Valid until the child is reaped, which only Running and Wait do.
        pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidFd_ < 0) {
            throw std::runtime_error("pidfd_open failed: " + std::string(std::strerror(errno)));
        }
    }
    return pidFd_;
}

void ChildProcess::Reaped(int status, long maxResidentKb) {
    reaped_ = true;
    result_.killedBySignal = WIFSIGNALED(status);
    result_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result_.maxResidentKb = maxResidentKb;
}

bool ChildProcess::Running() {
    if (reaped_) {
        return false;
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
        Reaped(status, usage.ru_maxrss);
    }
    return !reaped_;
}

void ChildProcess::Kill() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
    }
}

ChildResult ChildProcess::Wait() {
    while (!reaped_) {
        int status = 0;
        rusage usage{};
        const pid_t got = ::wait4(pid_, &status, 0, &usage);
        if (got == pid_) {
            Reaped(status, usage.ru_maxrss);
        } else if (got < 0 && errno != EINTR) {
            throw std::runtime_error("wait4 failed: " + std::string(std::strerror(errno)));
        }
    }
    result_.out = ReadFile(outPath_);
    result_.err = ReadFile(errPath_);
    return result_;
}

std::vector<std::string> AsUnprivilegedUser(const std::string& program) {
    if (::geteuid() != 0) {
        return {program};
    }
    for (const char* setpriv : {"/usr/bin/setpriv", "/bin/setpriv"}) {
        if (::access(setpriv, X_OK) == 0) {
            return {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program};
        }
    }
    return {};
}

}  // namespace lorvex::test
