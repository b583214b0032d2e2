// File systems of a test's own (Linux, as root): a tmpfs mounted in this test program's
// private mount namespace, so that moves cross file systems and nothing outside sees it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

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

// The tests' power-cut file system (`program`, built from power_cut_fs.cpp) mounted at
// `where` over `backing`, with its options `extra`; unmounting it is the power cut: what
// was never flushed is lost.
class PowerCutFs {
public:
    PowerCutFs(const std::string& program, const std::filesystem::path& backing,
               const std::filesystem::path& where, const std::vector<std::string>& extra);
    PowerCutFs(const PowerCutFs&) = delete;
    PowerCutFs& operator=(const PowerCutFs&) = delete;
    ~PowerCutFs() { PowerCut(); }
    bool mounted() const { return mounted_; }
    void PowerCut();

private:
    std::filesystem::path where_;
    int pid_ = -1;
    bool mounted_ = false;
};

// An XFS image of the test's own, loop-mounted at `where`. PowerCut shuts the file system
// down without writing its log (what the kernel does when the power fails), unmounts it and
// mounts it again: what was never made durable is gone.
class LoopXfs {
public:
    LoopXfs(const std::filesystem::path& image, const std::filesystem::path& where);
    LoopXfs(const LoopXfs&) = delete;
    LoopXfs& operator=(const LoopXfs&) = delete;
    ~LoopXfs();
    bool mounted() const { return mounted_; }
    void PowerCut();

private:
    bool Mount();

    std::filesystem::path image_;
    std::filesystem::path where_;
    bool mounted_ = false;
};

}  // namespace lorvex::test
