// A file system in memory, for tests of the run engine: the tree, mounts with their
// capacity and rights, what a power cut keeps, and failures and pauses injected into any
// call, all in-process and without root. It behaves as POSIX does, with Linux's words.
//
// Paths are absolute ("/search/a.zip"; a relative one is taken from "/"), '/' is the only
// separator and a folder may be named with a trailing '/'. Links in a path are followed.
// Every call is thread-safe; the helpers for setting up and looking (AddFile, Contents...)
// are neither counted nor failed, and throw std::logic_error when they cannot do as told.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace lorvex::testing {

// The calls of fs::FileSystem, by which a test names the ones to fail, hold or count.
enum class Call {
    StatusOf,
    List,
    SameContents,
    ReadAll,
    MakeFolder,
    RemoveFolder,
    Remove,
    RenameNoReplace,
    Link,
    FlushFolder,
    CopyToTemporary,
    FlushFiles,
    Close,
    OpenForAppend,
    Append,
    CheckAccess,
    CheckNameFits,
    FreeSpace,
    SameMount,
    WithoutLinks,
    OpenFileLimit,
    Absolute,
    HoldFolders,
    ForgetFolders,
};
inline constexpr std::size_t kCallCount = static_cast<std::size_t>(Call::ForgetFolders) + 1;
std::string_view NameOf(Call call);

// Chooses the calls a failure or a hold applies to by the paths they name (both of a
// rename, the file of a handle); a call matches when any of its paths does. It is asked
// with the file system locked, so it must not call it.
using PathMatch = std::function<bool(std::string_view path)>;

inline constexpr int kEveryTime = -1;
inline constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

class MemoryFileSystem;

// Calls held inside until Release, which lets them and every later one go on. Releases on
// destruction, so that a failed test ends instead of leaving a thread blocked; it must not
// outlive its file system.
class Gate {
public:
    Gate(Gate&& other) noexcept;
    Gate& operator=(Gate&&) = delete;
    ~Gate();
    // Waits until `calls` calls have come to the gate in all; false when they have not
    // within `limit`, which only a broken test or engine ever reaches.
    bool WaitUntilHeld(std::size_t calls = 1,
                       std::chrono::milliseconds limit = std::chrono::seconds(30));
    std::size_t HeldNow() const;
    void Release();

private:
    friend class MemoryFileSystem;
    struct State;
    Gate(MemoryFileSystem& owner, std::shared_ptr<State> state)
        : owner_(&owner), state_(std::move(state)) {}
    MemoryFileSystem* owner_;
    std::shared_ptr<State> state_;
};

class MemoryFileSystem : public fs::FileSystem {
public:
    MemoryFileSystem();
    ~MemoryFileSystem() override;
    MemoryFileSystem(const MemoryFileSystem&) = delete;
    MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

    // Setting up; names made here and the bytes of files are durable at once.
    void AddFolder(const std::string& path);  // with its parents
    // Replaces what is at `path` (not a folder), the parents made.
    void AddFile(const std::string& path, const std::string& bytes, fs::FileTime modified = {});
    void AddLink(const std::string& path, const std::string& target);
    void AddOther(const std::string& path);  // e.g. a FIFO
    // A mount at `folder` (made when missing, its contents now on the mount). Files take
    // whole blocks; links and folders take none.
    void AddMount(const std::string& folder, std::uint64_t capacityBytes = kUnlimited,
                  std::uint64_t blockSize = 4096, bool readOnly = false);
    // The mount at `folder` has no links, as FAT has none; WithoutLinks answers `name`.
    void SetWithoutLinks(const std::string& folder, const std::string& name = "FAT");
    // Names cannot be added to or removed from the folder, as without its write right.
    void SetReadOnly(const std::string& folder, bool readOnly);
    void SetUnreadable(const std::string& file);
    void SetOpenFileLimit(std::size_t limit);
    // Names under `folder` are on a file system other machines reach (as NFS is).
    void SetRemote(const std::string& folder);
    // Names are found in any case of their ASCII letters and keep the case they were made
    // with, as on Windows or a share of it.
    void SetIgnoresCase(bool ignores);

    // Looking; a link is followed except by Exists.
    bool Exists(const std::string& path) const;
    std::optional<std::string> Contents(const std::string& path) const;  // of a file
    std::vector<std::string> Names(const std::string& folder) const;     // sorted
    bool DataFlushed(const std::string& file) const;
    bool NameFlushed(const std::string& path) const;
    std::size_t OpenFiles() const;

    // The power fails: every file's bytes go back to what they were at its last flush
    // (a file never flushed is left empty, as ext4 leaves one), every folder's names go
    // back to those of its last flush, and every open file is closed.
    void PowerCut();

    // The next `times` calls of `call` that match fail with `failure` (its reason the
    // system's words when empty), either before doing anything or after doing all of it.
    // Calls without an Outcome answer as when the system cannot tell (StatusOf: Missing).
    void FailCall(Call call, const std::string& pathPart, fs::Failure failure, int times = 1,
                  bool afterActing = false);
    void FailCall(Call call, PathMatch match, fs::Failure failure, int times = 1,
                  bool afterActing = false);
    void ClearFailures();
    [[nodiscard]] Gate Hold(Call call, const std::string& pathPart = {});
    [[nodiscard]] Gate Hold(Call call, PathMatch match);

    std::size_t CallCount(Call call) const;
    std::size_t CallsInFlight() const;
    std::size_t MaxCallsInFlight() const;

    // fs::FileSystem
    std::string Words(fs::Error kind) const override;
    fs::Status StatusOf(const std::string& path) override;
    fs::Outcome List(const std::string& folder,
                     const std::function<void(const fs::Entry&)>& visit) override;
    bool SameContents(const std::string& first, const std::string& second) override;
    fs::Outcome ReadAll(const std::string& path, std::string& text) override;
    fs::Outcome MakeFolder(const std::string& path) override;
    fs::Outcome RemoveFolder(const std::string& path) override;
    fs::Outcome Remove(const std::string& path) override;
    fs::Outcome RenameNoReplace(const std::string& from, const std::string& to) override;
    fs::Outcome Link(const std::string& from, const std::string& to, bool symbolic) override;
    fs::Outcome FlushFolder(const std::string& folder) override;
    fs::Outcome CopyToTemporary(const std::string& from, const std::string& to,
                                std::string_view runTag, fs::CopyInProgress& copy) override;
    fs::Outcome Lock(const std::string& path, fs::Handle& lock) override;
    std::optional<bool> IsLocked(const std::string& path) override;
    bool IsRemote(const std::string& folder) override;
    std::optional<bool> SameFolder(const std::string& first, const std::string& second) override;
    fs::Outcome FlushFiles(std::span<const fs::Handle> files) override;
    void Close(fs::Handle file) override;
    fs::Outcome OpenForAppend(const std::string& path, bool create, fs::Handle& file) override;
    fs::Outcome Append(fs::Handle file, std::string_view text) override;
    fs::Outcome CheckAccess(const std::string& path, fs::Access access) override;
    fs::Outcome CheckNameFits(const std::string& path) override;
    std::optional<fs::Space> FreeSpace(const std::string& folder) override;
    std::optional<bool> SameMount(const std::string& first, const std::string& second) override;
    std::optional<std::string> WithoutLinks(const std::string& folder) override;
    std::size_t OpenFileLimit() override;
    std::string Absolute(const std::string& path) override;
    bool FillsNameLimit(std::string_view name) const override;
    void HoldFolders(std::span<const std::string> folders) override;
    void ForgetFolders() override;

    static constexpr std::size_t kNameMax = 255;
    static constexpr std::size_t kPathMax = 4095;

private:
    friend class Gate;
    struct Node;
    struct Mount {
        std::uint64_t id = 0;
        std::uint64_t capacity = kUnlimited;
        std::uint64_t block = 4096;
        bool readOnly = false;
        std::optional<std::string> withoutLinks;
        Node* folder = nullptr;  // the mount folder, which a mount keeps from going
    };
    struct Node {
        fs::Kind kind = fs::Kind::File;
        std::string bytes;  // a file's, or a link's target
        std::string durableBytes;
        bool flushed = true;
        fs::FileTime modified;
        bool readable = true;
        bool readOnly = false;  // a folder's names are fixed
        std::map<std::string, std::shared_ptr<Node>> children;
        std::map<std::string, std::shared_ptr<Node>> durable;  // as of the last flush
        std::shared_ptr<Mount> mount;                          // on a mount folder
    };
    struct OpenFile {
        std::shared_ptr<Node> node;
        std::string path;
        std::shared_ptr<Mount> mount;
    };
    struct Fault {
        Call call;
        PathMatch match;
        fs::Failure failure;
        int times;
        bool afterActing;
    };
    struct Armed {
        std::optional<fs::Failure> failure;
        bool afterActing = false;
    };
    struct Place;
    class InCall;

    // The call's entry: counted, held at a gate, armed with an injected failure.
    Armed Enter(Call call, const std::vector<std::string>& paths);
    void Leave();
    std::vector<std::string> PathsOf(std::span<const fs::Handle> files) const;
    fs::Outcome Run(Call call, const std::vector<std::string>& paths,
                    const std::function<fs::Outcome()>& act);

    fs::Failure Fail(fs::Error kind) const { return {kind, Words(kind)}; }
    // Where `path` leads, its last link followed when `followLast`; a failure also when
    // the name is not there or not a folder, as `need` says.
    enum class Need { Nothing, Name, Folder };
    Place Find(std::string_view path, bool followLast, Need need = Need::Nothing) const;
    Place Locate(std::string_view path, bool followLast) const;
    void MakeFolders(const std::string& path);
    void Put(const std::string& path, std::shared_ptr<Node> node);
    Node* FollowedNode(std::string_view path) const;
    fs::Outcome MayChange(const Place& place) const;
    std::uint64_t Used(const Mount& mount) const;
    std::uint64_t Blocks(const Mount& mount, std::uint64_t size) const;
    std::string TemporaryName(const Place& beside, std::string_view runTag);
    fs::Handle Open(std::shared_ptr<Node> node, const std::string& path,
                    std::shared_ptr<Mount> mount);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<Node> root_;
    std::map<fs::Handle, OpenFile> open_;
    std::map<std::string, fs::Handle> locks_;  // by path, the handle that holds each
    std::vector<std::string> remote_;
    fs::Handle nextHandle_ = 3;
    std::uint64_t nextMount_ = 1;
    std::uint64_t nextTemporary_ = 0;
    std::size_t openFileLimit_ = 1024;
    bool ignoresCase_ = false;
    std::vector<Fault> faults_;
    std::vector<std::shared_ptr<Gate::State>> gates_;
    std::array<std::size_t, kCallCount> counts_{};
    std::size_t inFlight_ = 0;
    std::size_t maxInFlight_ = 0;
};

}  // namespace lorvex::testing
