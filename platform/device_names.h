// The names Windows gives to devices rather than files, whatever extension follows them.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace lorvex {

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9 and LPT1-LPT9 (also with the superscript
// digits 1, 2 and 3), in any letter case and with or without an extension: opening such a
// name on Windows reaches the device, not a file.
inline bool IsWindowsDeviceName(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    for (char& c : stem) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    static constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                                 "NUL", "CONIN$", "CONOUT$"};
    for (const auto device : kDevices) {
        if (stem == device) {
            return true;
        }
    }
    if (!stem.starts_with("COM") && !stem.starts_with("LPT")) {
        return false;
    }
    const std::string_view number = std::string_view(stem).substr(3);
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace lorvex
