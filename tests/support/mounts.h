// File systems of a test's own (Linux, as root): a tmpfs mounted in this test program's
// private mount namespace, so that moves cross file systems and nothing outside sees it.
#pragma once

#include <filesystem>
#include <string>

namespace lorvex::test {

// Enters a mount namespace of this process's own, once; false when that is impossible.
bool PrivateMountNamespace();

class Tmpfs {
public:
    Tmpfs(const std::filesystem::path& where, const std::string& options);
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    ~Tmpfs();
    bool mounted() const { return mounted_; }
    bool MakeReadOnly();

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

}  // namespace lorvex::test
