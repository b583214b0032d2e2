#include "nearest_names.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include "errors.h"

namespace lorvex {
namespace {

// Lower case, without blanks: "Music / Jazz" and "music/jazz" are the same to a reader.
std::string Folded(std::string_view text) {
    std::string folded;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        folded.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return folded;
}

// The words of a name, folded: "Comics / Manga 2" -> "comics", "manga", "2". Bytes beyond
// ASCII belong to words, so that any script's words stay whole.
std::vector<std::string> FoldedWords(std::string_view name) {
    std::vector<std::string> words(1);
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || std::isalnum(byte)) {
            words.back().push_back(static_cast<char>(std::tolower(byte)));
        } else if (!words.back().empty()) {
            words.emplace_back();
        }
    }
    if (words.back().empty()) {
        words.pop_back();
    }
    return words;
}

// True when one of `name`'s words is `word`, or a slip away from it.
bool HasWord(std::string_view name, std::string_view word) {
    const std::size_t slips = word.size() >= 4 ? 1 : 0;
    const auto words = FoldedWords(name);
    return std::any_of(words.begin(), words.end(), [&](const std::string& candidate) {
        return EditDistance(candidate, word) <= slips;
    });
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::vector<std::string> NearestNames(std::string_view typed, std::span<const std::string> known,
                                      std::size_t most) {
    const std::string wanted = Folded(typed);
    // A third of the name may be wrong, and always two letters: more is another name.
    const std::size_t nearEnough = std::max<std::size_t>(2, wanted.size() / 3);
    std::vector<std::pair<std::size_t, std::size_t>> near;  // distance, index in known
    for (std::size_t i = 0; i < known.size(); ++i) {
        const std::string candidate = Folded(known[i]);
        // Names far apart in length cannot be near; this spares the full comparison.
        const std::size_t gap = candidate.size() > wanted.size() ? candidate.size() - wanted.size()
                                                                 : wanted.size() - candidate.size();
        if (gap > nearEnough) {
            continue;
        }
        if (const std::size_t distance = EditDistance(wanted, candidate); distance <= nearEnough) {
            near.emplace_back(distance, i);
        }
    }
    std::stable_sort(near.begin(), near.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (const auto& [distance, index] : near) {
        if (names.size() == most || distance > near.front().first + 1) {
            break;
        }
        names.push_back(known[index]);
    }
    return names;
}

std::vector<std::string> NearestCategories(std::string_view typed,
                                           std::span<const std::string> known, std::size_t most) {
    const std::string wanted = Folded(typed);
    const auto typedWords = FoldedWords(typed);
    std::vector<std::string> exact;
    std::vector<std::string> byWord;
    for (const std::string& name : known) {
        if (Folded(name) == wanted) {
            exact.push_back(name);
        } else if (typedWords.size() == 1 && HasWord(name, typedWords.front())) {
            byWord.push_back(name);
        }
    }
    if (exact.empty() && byWord.empty()) {
        return NearestNames(typed, known, most);
    }
    exact.insert(exact.end(), byWord.begin(), byWord.end());
    exact.resize(std::min(exact.size(), most));
    return exact;
}

std::string DidYouMean(std::span<const std::string> names) {
    if (names.empty()) {
        return {};
    }
    std::string text = "; did you mean ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 == names.size() ? " or " : ", ";
        }
        text += Quoted(names[i]);
    }
    return text + "?";
}

}  // namespace lorvex
