#include "progress_label.h"

#include <algorithm>

#include "platform.h"

namespace lorvex {
namespace {

// Until then the pace still swings with the disk's caches, and an estimate would jump.
constexpr auto kSteadyAfter = std::chrono::seconds(2);

// ", about 1:05 left" from the pace so far; "" while it is not yet steady.
std::string TimeLeft(const PassStatus& status, std::chrono::steady_clock::duration elapsed) {
    if (elapsed < kSteadyAfter || status.checked <= 0 || status.checked >= status.total) {
        return {};
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const auto left =
        static_cast<std::int64_t>(seconds * static_cast<double>(status.total - status.checked) /
                                      static_cast<double>(status.checked) +
                                  0.5);
    const std::string secs = std::to_string(left % 60);
    std::string text = std::to_string(left / 60) + ":" + (secs.size() < 2 ? "0" : "") + secs;
    if (left >= 3600) {
        const std::string mins = std::to_string(left / 60 % 60);
        text = std::to_string(left / 3600) + ":" + (mins.size() < 2 ? "0" : "") + mins + ":" +
               (secs.size() < 2 ? "0" : "") + secs;
    }
    return ", about " + text + " left";
}

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

int WidthOf(std::string_view text) {
    int used = 0;
    char32_t c = 0;
    for (std::size_t at = 0; at < text.size(); at += NextCharacter(text, at, c)) {
        NextCharacter(text, at, c);
        used += ColumnsOf(c);
    }
    return used;
}

// The longest start of `text` that takes at most `columns`, cut between characters.
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

}  // namespace

std::string ProgressLabel(const PassStatus& status) {
    return std::to_string(status.checked) + " of " + std::to_string(status.total) +
           " names checked, " + std::to_string(status.movedCount) + " moved";
}

namespace {

// The counts in fewer words, for a narrow terminal: each number stays whole.
std::string ShortLabel(const PassStatus& status) {
    return std::to_string(status.checked) + " of " + std::to_string(status.total) + " checked, " +
           std::to_string(status.movedCount) + " moved";
}

std::string ShortestLabel(const PassStatus& status) {
    return std::to_string(status.checked) + "/" + std::to_string(status.total) + ", " +
           std::to_string(status.movedCount) + " moved";
}

// The archive's name after `line`, cut short with "..." to fit `room`; the line alone when
// too little of the name would show to tell it.
std::string WithArchive(const std::string& line, std::string_view archive, int room) {
    constexpr int kFewestColumns = 8;
    const int left = room - WidthOf(line) - 2;
    if (archive.empty() || left < kFewestColumns) {
        return line;
    }
    bool cut = false;
    const std::string_view shown = FitColumns(archive, left, cut);
    if (!cut) {
        return line + ": " + std::string(shown);
    }
    const std::string_view start = FitColumns(archive, left - 3, cut);
    return line + ": " + std::string(start.substr(0, start.find_last_not_of(' ') + 1)) + "...";
}

// The words of `line` that fit `room`, whole: on a terminal too narrow for any label.
std::string WholeWords(const std::string& line, int room) {
    std::string fitted;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find(' ', at + 1), line.size());
        if (WidthOf(std::string_view(line).substr(0, end)) > room) {
            break;
        }
        fitted = line.substr(0, end);
        at = end;
    }
    return fitted;
}

}  // namespace

std::string ProgressLine(const PassStatus& status, std::chrono::steady_clock::duration elapsed,
                         int columns) {
    // The last column stays empty: writing there makes some terminals wrap at once.
    const int room = (columns > 0 ? columns : 80) - 1;
    const std::string_view archive =
        status.archive.substr(status.archive.find_last_of(platform::kSeparator) + 1);
    // The archive's name gives way first, then the time left, then words of the label.
    for (std::string line : {ProgressLabel(status) + TimeLeft(status, elapsed),
                             ProgressLabel(status), ShortLabel(status), ShortestLabel(status)}) {
        if (WidthOf(line) <= room) {
            return WithArchive(line, archive, room);
        }
    }
    return WholeWords(ShortestLabel(status), room);
}

}  // namespace lorvex
