#include "command_line.h"

#include <algorithm>

#include "category_map.h"
#include "platform.h"

namespace lorvex {
namespace {

bool IsSwitch(std::string_view word) {
#ifdef _WIN32
    return !word.empty() && (word.front() == '-' || word.front() == '/');
#else
    return !word.empty() && word.front() == '-';
#endif
}

char SwitchLetter(std::string_view word) {
    if (word.size() < 2) {
        return '\0';
    }
    const char letter = word[1];
    return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

// The rest of the switch word and the words that follow it up to the next switch,
// joined by single blanks; double quotes become blanks, then blanks are stripped.
std::string SwitchValue(std::span<const std::string_view> words, std::size_t& i) {
    std::string value(words[i].size() > 2 ? words[i].substr(2) : std::string_view{});
    while (i + 1 < words.size() && !IsSwitch(words[i + 1])) {
        value += ' ';
        value += words[++i];
    }
    std::replace(value.begin(), value.end(), '"', ' ');
    return std::string(StripSpaces(value));
}

}  // namespace

CommandSwitches ParseSwitches(std::span<const std::string_view> words) {
    CommandSwitches switches;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (!IsSwitch(words[i])) {
            continue;  // words before the first switch
        }
        const std::size_t at = i;
        std::string value = SwitchValue(words, i);
        switch (SwitchLetter(words[at])) {
            case 'C':
                switches.cmdCategory = std::move(value);
                break;
            case 'E':
                switches.cmdSearchDir = std::move(value);
                break;
            case 'D':
                switches.cmdDestDir = std::move(value);
                break;
            case 'S':
                switches.cmdListMode = 1;
                break;
            case 'F':
                switches.cmdListMode = 2;
                break;
            default:
                switches.unknownSwitches.emplace_back(words[at]);
                break;
        }
    }
    return switches;
}

std::string UsageText() {
    return "Usage: " + std::string(platform::kExecutableName) +
           " -c category -e searchdir -d destdir -[s|f]\nSee readme.txt";
}

}  // namespace lorvex
