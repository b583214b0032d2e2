// A program started without waiting for it, so that a test can watch it, kill it at a
// moment of its choosing and read what the program used.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace lorvex::test {

struct ChildResult {
    int exitStatus = -1;  // 128 + signal number when a signal ended it
    bool killedBySignal = false;
    long maxResidentKb = 0;  // peak resident memory of this one child
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    // Starts `program` with `arguments`, stdin from /dev/null; stdout and stderr go to
    // files in `outputDirectory`, so a chatty program never blocks on a full pipe.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& outputDirectory);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills and reaps a child still running.
    ~ChildProcess();

    bool Running();
    void Kill();
    // A descriptor that becomes readable when the program ends, to wait on with others.
    int EndDescriptor();
    ChildResult Wait();

private:
    void Reaped(int status, long maxResidentKb);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    bool reaped_ = false;
    ChildResult result_;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
};

// The arguments that run `program` as the unprivileged user "nobody" when the tests run
// as root (permission bits mean nothing to root); empty when that is impossible.
std::vector<std::string> AsUnprivilegedUser(const std::string& program);

}  // namespace lorvex::test
