#include "category_folder.h"

#include <algorithm>
#include <array>

namespace lorvex {
namespace {

constexpr std::string_view kLevelSeparator = " / ";

#ifdef _WIN32
bool ForbiddenInFileName(char c) {
    constexpr std::string_view kReserved = "/\\:*?\"<>|";
    return static_cast<unsigned char>(c) < 0x20 || kReserved.find(c) != std::string_view::npos;
}

// Windows opens a device, not a file, for these names whatever their extension.
bool IsDeviceName(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    std::transform(base.begin(), base.end(), base.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) {
        return true;
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
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
    if (IsDeviceName(name)) {
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
