#include "progress_label.h"

#include <algorithm>

#include "platform.h"
#include "text_columns.h"

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

std::string Moved(const PassStatus& status) {
    return std::to_string(status.movedCount) + (status.undoing ? " moved back" : " moved");
}

}  // namespace

std::string ProgressLabel(const PassStatus& status) {
    if (status.listing) {
        return "Listing the search folder, " + std::to_string(status.listed) + " names so far";
    }
    return std::to_string(status.checked) + " of " + std::to_string(status.total) +
           (status.undoing ? " archives checked, " : " names checked, ") + Moved(status);
}

namespace {

// The counts in fewer words, for a narrow terminal: each number stays whole.
std::string ShortLabel(const PassStatus& status) {
    if (status.listing) {
        return "Listing the folder, " + std::to_string(status.listed) + " names";
    }
    return std::to_string(status.checked) + " of " + std::to_string(status.total) + " checked, " +
           Moved(status);
}

std::string ShortestLabel(const PassStatus& status) {
    if (status.listing) {
        return "Listing, " + std::to_string(status.listed);
    }
    return std::to_string(status.checked) + "/" + std::to_string(status.total) + ", " +
           Moved(status);
}

// The archive's name after `line`, cut short with "..." to fit `room`; the line alone when
// too little of the name would show to tell it.
std::string WithArchive(const std::string& line, std::string_view archive, int room) {
    constexpr int kFewestColumns = 8;
    const int left = room - ColumnsTaken(line) - 2;
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
        if (ColumnsTaken(std::string_view(line).substr(0, end)) > room) {
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
        if (ColumnsTaken(line) <= room) {
            return WithArchive(line, archive, room);
        }
    }
    return WholeWords(ShortestLabel(status), room);
}

}  // namespace lorvex
