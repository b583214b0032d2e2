#include "folder_listing.h"

#include <algorithm>

namespace lorvex {
namespace {

// Thrown from inside a listing to end it early; every file system's List lets it through
// and closes what it opened.
struct ListingEnds {};

constexpr std::string_view kArchiveEnd = ".zip";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Ends in ".zip" in any case: whatever a look-up of an archive can find.
bool MayBeArchive(std::string_view name) {
    if (name.size() < kArchiveEnd.size()) {
        return false;
    }
    const std::string_view end = name.substr(name.size() - kArchiveEnd.size());
    return std::equal(end.begin(), end.end(), kArchiveEnd.begin(),
                      [](char a, char b) { return Lower(a) == b; });
}

FolderListing::Answer AnswerOf(const fs::Entry& entry) {
    if (entry.kind == fs::Kind::Directory ||
        (entry.kind == fs::Kind::File && entry.size == std::uint64_t{0})) {
        return FolderListing::Answer::NoArchive;
    }
    return FolderListing::Answer::LookUp;  // a file, a link, or a kind the listing cannot tell
}

}  // namespace

bool IsAscii(std::string_view name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string Folded(std::string_view name) {
    std::string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), Lower);
    return folded;
}

std::string CaseSwapped(std::string_view name) {
    std::string swapped(name);
    for (char& c : swapped) {
        if (IsLetter(c)) {
            c = static_cast<char>(c ^ 0x20);
        }
    }
    return swapped;
}

FolderListing::FolderListing(fs::FileSystem& system, const std::string& folder,
                             std::int64_t mostNames,
                             const std::function<bool(std::int64_t)>& seen) {
    std::int64_t count = 0;
    bool tooMany = false;
    fs::Outcome failure;
    try {
        failure = system.List(folder, [&](const fs::Entry& entry) {
            if (++count % kReportEvery == 0 && seen && !seen(count)) {
                cancelled_ = true;
                throw ListingEnds{};
            }
            if (count > mostNames) {
                tooMany = true;
                throw ListingEnds{};
            }
            if (MayBeArchive(entry.name)) {
                names_.emplace(entry.name, AnswerOf(entry));
            }
        });
    } catch (const ListingEnds&) {
    }
    if (failure || tooMany || cancelled_) {
        names_.clear();
        return;  // each name is looked up, as without a listing
    }
    Decide(system, folder);
}

// Whether the folder finds a name spelled in another case: one listed name looked up as
// listed and with its letters' case swapped. Where no listed archive has a letter whose
// swap is not listed too, the answer stays open and every name is looked up.
void FolderListing::Decide(fs::FileSystem& system, const std::string& folder) {
    const auto probe = std::find_if(names_.begin(), names_.end(), [&](const auto& listed) {
        const std::string swapped = CaseSwapped(listed.first);
        return swapped != listed.first && !names_.contains(swapped);
    });
    if (probe == names_.end()) {
        names_.clear();
        return;
    }
    if (system.StatusOf(folder + probe->first).kind == fs::Kind::Missing) {
        names_.clear();  // gone already, or the file system could not answer
        return;
    }
    if (system.StatusOf(folder + CaseSwapped(probe->first)).kind == fs::Kind::Missing) {
        matching_ = Matching::Exact;
        return;
    }
    // A folding file system may fold letters beyond ASCII onto ASCII ones (a dotless i,
    // a long s, a ligature): there an archive named with them is found by names this
    // table cannot tell, so every name not found here is looked up.
    matching_ = Matching::FoldedCase;
    for (const auto& [name, answer] : names_) {
        if (!IsAscii(name)) {
            foldsBeyondAscii_ = true;
        }
        const auto [place, added] = folded_.emplace(Folded(name), Listed{answer});
        place->second.clash = !added;
    }
    names_.clear();
}

FolderListing::Answer FolderListing::Find(std::string_view name) const {
    // A name with "~" may be the short name of another one (Windows).
    if (matching_ == Matching::LookUpEach || name.find('~') != std::string_view::npos) {
        return Answer::LookUp;
    }
    switch (matching_) {
        case Matching::LookUpEach:
            return Answer::LookUp;
        case Matching::Exact: {
            const auto found = names_.find(name);
            return found == names_.end() ? Answer::Absent : found->second;
        }
        case Matching::FoldedCase:
            break;
    }
    // Beyond ASCII only the file system knows what folds to what.
    if (!IsAscii(name)) {
        return Answer::LookUp;
    }
    const auto found = folded_.find(Folded(name));
    if (found == folded_.end()) {
        return foldsBeyondAscii_ ? Answer::LookUp : Answer::Absent;
    }
    return found->second.clash ? Answer::LookUp : found->second.answer;
}

}  // namespace lorvex
