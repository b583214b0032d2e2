#include "mounts.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "test_support.h"

namespace lorvex::test {

bool PrivateMountNamespace() {
    static const bool entered = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return entered;
}

Tmpfs::Tmpfs(const std::filesystem::path& where, const std::string& options) : where_(where) {
    std::filesystem::create_directories(where_);
    mounted_ = PrivateMountNamespace() &&
               ::mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

Tmpfs::~Tmpfs() {
    if (mounted_) {
        ::umount2(where_.c_str(), MNT_DETACH);
    }
}

bool Tmpfs::MakeReadOnly() {
    return ::mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

PowerCutFs::PowerCutFs(const std::string& program, const std::filesystem::path& backing,
                       const std::filesystem::path& where, const std::vector<std::string>& extra)
    : where_(where) {
    std::filesystem::create_directories(backing);
    std::filesystem::create_directories(where);
    int ready[2];
    if (!PrivateMountNamespace() || ::access("/dev/fuse", R_OK | W_OK) != 0 ||
        ::pipe2(ready, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> words{program, backing.string(), where.string(),
                                   std::to_string(ready[1])};
    words.insert(words.end(), extra.begin(), extra.end());
    const auto argv = ExecArray(words);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::fcntl(ready[1], F_SETFD, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    char byte = 0;
    mounted_ = pid_ > 0 && ::read(ready[0], &byte, 1) == 1;  // written once it answers
    ::close(ready[0]);
}

void PowerCutFs::PowerCut() {
    if (pid_ > 0) {
        if (::umount2(where_.c_str(), 0) != 0) {
            ::umount2(where_.c_str(), MNT_DETACH);
        }
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

LoopXfs::LoopXfs(const std::filesystem::path& image, const std::filesystem::path& where)
    : image_(image), where_(where) {
    std::filesystem::create_directories(where_);
    if (!PrivateMountNamespace()) {
        return;
    }
    { std::ofstream(image_).close(); }
    std::filesystem::resize_file(image_, std::uintmax_t{320} << 20);  // XFS's least, sparse
    mounted_ = Run("/usr/sbin/mkfs.xfs", {"-q", image_.string()}).exitStatus == 0 && Mount();
}

LoopXfs::~LoopXfs() {
    if (mounted_) {
        ::umount2(where_.c_str(), MNT_DETACH);
    }
}

bool LoopXfs::Mount() {
    return Run("/usr/bin/mount", {"-o", "loop", image_.string(), where_.string()}).exitStatus == 0;
}

void LoopXfs::PowerCut() {
    Run("/usr/sbin/xfs_io", {"-x", "-c", "shutdown", where_.string()});
    ::umount2(where_.c_str(), 0);
    mounted_ = Mount();
}

}  // namespace lorvex::test
