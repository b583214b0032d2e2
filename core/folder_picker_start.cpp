#include "folder_picker_start.h"

#include "platform.h"

namespace lorvex {
namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = "\\/";  // a typed path may hold either
#else
constexpr std::string_view kSeparators = "/";
#endif

// The path without its last level, keeping a root's separator ("/", "C:\"); "" when
// there is no level left to take away.
std::string ParentOf(std::string_view path) {
    const auto last = path.find_last_not_of(kSeparators);
    const auto cut = last == std::string_view::npos ? last : path.find_last_of(kSeparators, last);
    if (cut == std::string_view::npos) {
        return {};
    }
    const auto keep = path.find_last_not_of(kSeparators, cut);
    if (keep == std::string_view::npos) {
        return std::string(path.substr(0, cut + 1));
    }
    std::string parent(path.substr(0, keep + 1));
    if (parent.back() == ':') {
        parent += path[cut];  // "C:" alone is the drive's current folder, not its root
    }
    return parent;
}

}  // namespace

std::string FolderPickerStart(std::string_view fieldText) {
    for (std::string folder(fieldText); !folder.empty(); folder = ParentOf(folder)) {
        if (!platform::CheckSearchableDirectory(folder)) {
            return folder;
        }
    }
    return {};
}

}  // namespace lorvex
