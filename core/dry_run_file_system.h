// The file system of a dry run: it answers from the real one, changes nothing there, and
// remembers what the run would have done, so that later steps meet earlier ones. Each call
// fails where the real call would, with the real call's words, as far as can be told
// without writing: a name taken, a folder missing or read-only, a mount crossed, a file
// that cannot be read, a volume that fills up.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "file_system.h"

namespace lorvex {

class DryRunFileSystem final : public fs::FileSystem {
public:
    explicit DryRunFileSystem(fs::FileSystem& real) : real_(real) {}

    // True once a copy was refused for want of room on a volume whose room can only be
    // estimated (blocks and reserved space differ from one file system to another).
    bool SpaceEstimated() const { return spaceEstimated_; }

    std::string Words(fs::Error kind) const override { return real_.Words(kind); }
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
    // A lock the run would take is a name it would make; another's is asked of the system.
    fs::Outcome Lock(const std::string& path, fs::Handle& lock) override;
    std::optional<bool> IsLocked(const std::string& path) override;
    bool IsRemote(const std::string& folder) override;
    fs::Outcome FlushFiles(std::span<const fs::Handle>) override { return std::nullopt; }
    void Close(fs::Handle) override {}
    fs::Outcome OpenForAppend(const std::string& path, bool create, fs::Handle& file) override;
    fs::Outcome Append(fs::Handle, std::string_view) override { return std::nullopt; }
    fs::Outcome CheckAccess(const std::string& path, fs::Access access) override;
    fs::Outcome CheckNameFits(const std::string& path) override;
    std::optional<fs::Space> FreeSpace(const std::string& folder) override;
    std::optional<bool> SameMount(const std::string& first, const std::string& second) override;
    std::optional<bool> SameFolder(const std::string& first, const std::string& second) override;
    std::optional<std::string> WithoutLinks(const std::string& folder) override;
    std::size_t OpenFileLimit() override { return real_.OpenFileLimit(); }
    std::string Absolute(const std::string& path) override { return real_.Absolute(path); }
    bool FillsNameLimit(std::string_view name) const override { return real_.FillsNameLimit(name); }
    void HoldFolders(std::span<const std::string> folders) override { real_.HoldFolders(folders); }
    void ForgetFolders() override { real_.ForgetFolders(); }

private:
    // A name the run would have made: what it is, and the real file whose bytes it holds.
    struct Made {
        fs::Status status;
        std::string origin;
    };

    fs::Status StatusLocked(const std::string& path);
    // The real file system's answers, each asked once: nothing the dry run does changes
    // them, and on a share every question is a round trip. The Know* calls ask before a
    // step takes the lock, so that the steps of calls side by side overlap on the network;
    // the *Locked ones answer from what is known, asking only what was not. Locally a
    // status or a right is asked each time: that costs less than keeping them.
    // Only once the run has found a folder on a share: its calls then go side by side.
    void KnowStatus(const std::string& key);
    void KnowAccess(const std::string& key, fs::Access access);
    void KnowNameFits(const std::string& key);
    template <class Known, class Ask, class Keep>
    void AskAhead(const Known& known, const Ask& ask, const Keep& keep);
    fs::Status RealStatusLocked(const std::string& key);
    fs::Outcome RealAccessLocked(const std::string& key, fs::Access access);
    std::optional<fs::Outcome> KnownNameFit(const std::string& key) const;
    void LearnNameFit(const std::string& key, const fs::Outcome& outcome);
    fs::Outcome NameFitsLocked(const std::string& key);
    std::optional<fs::Space> RealSpaceLocked(const std::string& folder);
    bool IsFolder(const std::string& path);
    fs::Outcome Fail(fs::Error kind) const { return fs::Failure{kind, real_.Words(kind)}; }
    fs::Outcome CheckParent(const std::string& path);
    fs::Outcome CheckChange(const std::string& path, fs::Access access);
    std::optional<bool> SameMountLocked(const std::string& first, const std::string& second);
    std::string NearestReal(std::string path);
    std::string OriginOf(const std::string& path);
    void Take(const std::string& path);
    void Place(const std::string& path, fs::Status status, std::string origin);

    fs::FileSystem& real_;
    std::mutex mutex_;  // a batch completes on a thread of its own
    std::map<std::string, Made> made_;
    std::set<std::string> removed_;
    // What real folders answer, asked once each: on a share every question is a round trip,
    // and nothing the dry run does changes the real folders' answers.
    std::map<std::string, fs::Outcome> addTo_;
    std::map<std::string, std::optional<bool>> sameMount_;  // by the two folders, apart by a NUL
    std::map<std::uint64_t, std::uint64_t> spaceTaken_;     // per volume
    bool askAhead_ = false;  // set before the pass starts calls side by side
    std::unordered_map<std::string, fs::Status> realStatus_;
    // By the path and the right, apart by a NUL.
    std::unordered_map<std::string, fs::Outcome> realAccess_;
    std::unordered_map<std::string, std::optional<fs::Space>> realSpace_;  // by folder
    // Per folder, the longest name known to fit and the shortest known not to (with why):
    // whether a name fits depends only on its length there.
    struct NameRoom {
        std::size_t longestFit = 0;
        std::size_t shortestRefused = std::string::npos;
        fs::Outcome refusal;
    };
    std::unordered_map<std::string, NameRoom> nameRoom_;
    bool spaceEstimated_ = false;
    std::uint64_t nextTemporary_ = 0;
};

}  // namespace lorvex
