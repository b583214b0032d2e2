#include "category_folder.h"

#include <algorithm>

#include "device_names.h"

namespace lorvex {
namespace {

constexpr std::string_view kLevelSeparator = " / ";

#ifdef _WIN32
bool ForbiddenInFileName(char c) {
    constexpr std::string_view kReserved = "/\\:*?\"<>|";
    return static_cast<unsigned char>(c) < 0x20 || kReserved.find(c) != std::string_view::npos;
}
#else
bool ForbiddenInFileName(char c) { return c == '/' || c == '\0'; }
#endif

}  // namespace

std::string SafeFolderName(std::string_view part) {
    if (part.empty() || part == "." || part == "..") {
        return "_";
    }
    std::string name(part);
    std::replace_if(name.begin(), name.end(), ForbiddenInFileName, '_');
#ifdef _WIN32
    // Windows drops trailing dots and blanks, so two categories would share one folder.
    for (auto i = name.size(); i > 0 && (name[i - 1] == '.' || name[i - 1] == ' '); --i) {
        name[i - 1] = '_';
    }
    if (IsWindowsDeviceName(name)) {
        name += '_';
    }
#endif
    return name;
}

std::vector<std::string> CategoryFolderNames(std::string_view category) {
    std::vector<std::string> names;
    for (;;) {
        const auto at = category.find(kLevelSeparator);
        names.push_back(SafeFolderName(category.substr(0, at)));
        if (at == std::string_view::npos) {
            return names;
        }
        category.remove_prefix(at + kLevelSeparator.size());
    }
}

}  // namespace lorvex
