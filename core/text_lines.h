// Splits text into lines. A line ends at LF; the CRs right before the LF (or before the end
// of the text) are not part of the line, however many an editor or a transfer left there.
#pragma once

#include <cstring>
#include <string_view>

namespace lorvex {

// Strips the space character (only that one) from both ends.
inline std::string_view StripSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

class TextLines {
public:
    explicit TextLines(std::string_view text) : text_(text) {}

    bool AtEnd() const { return position_ >= text_.size(); }

    // The next line, or false at the end of the text.
    bool Next(std::string_view& line) {
        if (AtEnd()) {
            return false;
        }
        const char* begin = text_.data() + position_;
        const std::size_t left = text_.size() - position_;
        const void* newline = std::memchr(begin, '\n', left);
        std::size_t length = newline ? static_cast<const char*>(newline) - begin : left;
        position_ += newline ? length + 1 : length;
        while (length > 0 && begin[length - 1] == '\r') {
            --length;
        }
        line = std::string_view(begin, length);
        return true;
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace lorvex
