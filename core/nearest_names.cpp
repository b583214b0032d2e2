#include "nearest_names.h"

#include <algorithm>
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
