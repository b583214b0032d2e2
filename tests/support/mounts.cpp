#include "mounts.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

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

}  // namespace lorvex::test
