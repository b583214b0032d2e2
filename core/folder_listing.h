// One look at a folder, so that a pass asks the file system about the names that are there
// and not about every name of the map: on a share each question is a round trip. It tells
// only what looking the name up would tell on that file system, letter case included, and
// where it cannot be sure it says to look the name up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "file_system.h"

namespace lorvex {

// ASCII letters only, as a file system that ignores case folds them: whether a name has
// nothing else, the name in lower case, and each of its letters in the other case.
bool IsAscii(std::string_view name);
std::string Folded(std::string_view name);
std::string CaseSwapped(std::string_view name);

class FolderListing {
public:
    enum class Answer {
        Absent,     // no such name: a look-up would find nothing
        NoArchive,  // a folder or an empty file: nothing there to move
        LookUp,     // there, or the listing cannot tell: ask the file system
    };

    // Lists `folder` (ending in a separator), hearing of `seen` every so often with the
    // count of names so far; false from it stops the listing. The listing is given up,
    // and every name looked up, once it has read more than `mostNames` names: by then it
    // costs more than the look-ups it spares.
    FolderListing(fs::FileSystem& system, const std::string& folder, std::int64_t mostNames,
                  const std::function<bool(std::int64_t)>& seen);

    bool Cancelled() const { return cancelled_; }
    // True when the listing answers for names; otherwise every name is looked up.
    bool Decided() const { return matching_ != Matching::LookUpEach; }
    bool FoldsCase() const { return matching_ == Matching::FoldedCase; }

    // What the listing tells of the file `name` in the folder.
    Answer Find(std::string_view name) const;

    // How often `seen` hears of the listing.
    static constexpr std::int64_t kReportEvery = 1024;

private:
    enum class Matching { LookUpEach, Exact, FoldedCase };
    struct Listed {
        Answer answer;
        bool clash = false;  // two names fold to one: each is looked up
    };

    void Decide(fs::FileSystem& system, const std::string& folder);

    Matching matching_ = Matching::LookUpEach;
    bool cancelled_ = false;
    // The archives' names, as listed; a second table by their folded spelling once the
    // file system is known to fold.
    // Looked up by a view of the name, without making a string of it.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>()(name);
        }
    };
    std::unordered_map<std::string, Answer, Hash, std::equal_to<>> names_;
    std::unordered_map<std::string, Listed> folded_;
    bool foldsBeyondAscii_ = false;  // a listed name has letters beyond ASCII
};

}  // namespace lorvex
