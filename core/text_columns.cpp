#include "text_columns.h"

#include <algorithm>
#include <vector>

namespace lorvex {
namespace {

// Columns a UTF-8 character takes: two for the wide scripts of East Asia, else one.
int ColumnsOf(char32_t c) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The character of UTF-8 text at `at`, and how many bytes it takes.
std::size_t NextCharacter(std::string_view text, std::size_t at, char32_t& c) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0xC0 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    length = std::min(length, text.size() - at);
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        c = c << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    return length;
}

}  // namespace

int ColumnsTaken(std::string_view text) {
    int used = 0;
    char32_t c = 0;
    for (std::size_t at = 0; at < text.size(); at += NextCharacter(text, at, c)) {
        NextCharacter(text, at, c);
        used += ColumnsOf(c);
    }
    return used;
}

std::string_view FitColumns(std::string_view text, int columns, bool& cut) {
    std::size_t at = 0;
    int used = 0;
    char32_t c = 0;
    while (at < text.size()) {
        const std::size_t length = NextCharacter(text, at, c);
        if (used + ColumnsOf(c) > columns) {
            cut = true;
            return text.substr(0, at);
        }
        used += ColumnsOf(c);
        at += length;
    }
    cut = false;
    return text;
}

std::string_view EndWithin(std::string_view text, int columns) {
    std::vector<std::pair<std::size_t, int>> characters;  // where each starts, its columns
    char32_t c = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = NextCharacter(text, at, c);
        characters.emplace_back(at, ColumnsOf(c));
        at += length;
    }
    std::size_t start = text.size();
    for (auto character = characters.rbegin(); character != characters.rend(); ++character) {
        if (character->second > columns) {
            break;
        }
        columns -= character->second;
        start = character->first;
    }
    return text.substr(start);
}

std::string ShortenedInTheMiddle(std::string_view text, int columns) {
    if (ColumnsTaken(text) <= columns) {
        return std::string(text);
    }
    const int kept = std::max(columns - 3, 0);
    bool cut = false;
    const std::string_view start = FitColumns(text, kept - kept / 2, cut);
    return std::string(start) + "..." + std::string(EndWithin(text, kept / 2));
}

}  // namespace lorvex
