#include "category_list.h"

namespace lorvex {
namespace {

bool IsDelimiter(char c) { return c == ',' || c == '\r' || c == '\n'; }

}  // namespace

void ForEachCategory(std::string_view text, const std::function<void(std::string_view)>& visit) {
    // Editors on Windows often start a UTF-8 file with a byte order mark; it would
    // otherwise stick invisibly to the first category and keep it from matching the map.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::size_t i = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    const std::size_t size = text.size();
    while (i < size) {
        while (i < size && text[i] == ' ') {
            ++i;
        }
        std::string_view field;
        if (i < size && text[i] == '"') {
            // A quoted field ends at the closing quote, or at a line end so that a stray
            // quote cannot swallow the rest of the list. Anything after the closing quote
            // up to the delimiter is dropped.
            const std::size_t begin = ++i;
            while (i < size && text[i] != '"' && text[i] != '\r' && text[i] != '\n') {
                ++i;
            }
            field = text.substr(begin, i - begin);
            while (i < size && !IsDelimiter(text[i])) {
                ++i;
            }
        } else {
            const std::size_t begin = i;
            while (i < size && !IsDelimiter(text[i])) {
                ++i;
            }
            field = text.substr(begin, i - begin);
            const auto last = field.find_last_not_of(' ');
            field = last == std::string_view::npos ? std::string_view{} : field.substr(0, last + 1);
        }
        if (!field.empty()) {
            visit(field);
        }
        ++i;  // past the delimiter
    }
}

}  // namespace lorvex
