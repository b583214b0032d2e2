#include "type_ahead.h"

#include <cstdint>

namespace lorvex {
namespace {

// The next code point of `text` from `at`, which it moves past; a byte that does not
// begin a well-formed sequence stands for itself.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (more == 0 || at + static_cast<std::size_t>(more) > text.size()) {
        return lead;
    }
    char32_t point = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        point = (point << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    return point;
}

// Capital letters of the common alphabets to small ones.
char32_t Folded(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB) || (c >= 0x410 && c <= 0x42F)) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    // Latin Extended-A pairs each capital with the small letter after it; the capitals
    // stand at even places, or at odd ones in its two runs of l, n and z letters.
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool evenCapitals = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if ((oddCapitals && c % 2 == 1) || (evenCapitals && c % 2 == 0)) {
        return c + 1;
    }
    return c;
}

}  // namespace

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    std::size_t t = 0;
    std::size_t p = 0;
    while (p < prefix.size()) {
        if (t >= text.size() ||
            Folded(NextCodePoint(text, t)) != Folded(NextCodePoint(prefix, p))) {
            return false;
        }
    }
    return true;
}

bool TypeAhead::Continues(Clock::time_point now) const {
    return typing_ && now - lastKey_ < kPause;
}

int TypeAhead::Type(std::string_view key, const std::vector<std::string>& items,
                    Clock::time_point now) {
    if (!Continues(now)) {
        typed_.clear();
    }
    typed_ += key;
    lastKey_ = now;
    typing_ = true;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (StartsWithIgnoringCase(items[i], typed_)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace lorvex
