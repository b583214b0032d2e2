#include "parent_folder.h"

#include "platform.h"

namespace lorvex {
using platform::kSeparators;

std::string WithSeparator(const std::string& directory) {
    if (!directory.empty() && directory.back() == platform::kSeparator) {
        return directory;
    }
    return directory + platform::kSeparator;
}

std::string WithoutSeparator(std::string path) {
    while (path.size() > 1 && path.back() == platform::kSeparator) {
        path.pop_back();
    }
    return path;
}

std::string ParentFolder(std::string_view path) {
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

std::string HighestMissingParent(std::string_view folder,
                                 const std::function<bool(const std::string&)>& exists) {
    std::string missing;
    for (std::string above = ParentFolder(folder); !above.empty() && !exists(above);
         above = ParentFolder(above)) {
        missing = above;
    }
    return missing;
}

}  // namespace lorvex
