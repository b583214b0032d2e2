// The layout of the window Form1, free of any toolkit: every control's name, kind,
// caption, rectangle in twips, place in the tab order and visibility. Each window binding
// builds its controls by walking this table, and its tests compare against it.
#pragma once

#include <array>
#include <string_view>

namespace lorvex {

enum class ControlKind { DropDownList, TextBox, Button, Frame, OptionButton };

// Twips: 1440 to the inch, so 15 to a pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixelAt96Dpi = 15;

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

struct ControlLayout {
    std::string_view name;
    ControlKind kind;
    std::string_view parent;   // "" for the window's client area, else the frame's name
    std::string_view caption;  // "&" marks the access key; "" for none
    TwipsRect rect;            // relative to the parent
    int tabIndex;
    bool visible;
    // For screen readers, on controls without a caption of their own.
    std::string_view accessibleName;
    std::string_view accessibleDescription;
};

struct WindowLayout {
    std::string_view caption;
    int clientWidthTwips;
    int clientHeightTwips;
};

inline constexpr WindowLayout kForm1Window{"Virelle 3.0", 6552, 2136};

// In tab order: the category, the two fields and the move, so that a user types the three
// in a row and moves, then the list mode and the pickers. Command1 carries the sorting pass
// and is never shown; it lies inside Frame1.
// clang-format off
inline constexpr std::array<ControlLayout, 10> kForm1Controls{{
    {"Command1", ControlKind::Button, "", "Command1", {1680, 1680, 972, 372}, 0, false, "", ""},
    {"Combo1", ControlKind::DropDownList, "", "", {120, 120, 3132, 288}, 1, true, "Category",
     "The category whose archives are moved"},
    {"Start", ControlKind::TextBox, "", "", {120, 480, 5412, 372}, 2, true, "Search directory",
     "Where the archives are now"},
    {"Endd", ControlKind::TextBox, "", "", {120, 960, 5412, 372}, 3, true,
     "Destination directory", "Where the archives are moved to"},
    {"Command2", ControlKind::Button, "", "&Move Files!", {120, 1440, 972, 372}, 4, true, "", ""},
    {"Frame1", ControlKind::Frame, "", "", {1200, 1320, 2532, 732}, 5, true, "", ""},
    {"Option1", ControlKind::OptionButton, "Frame1", "Simple Lists", {120, 120, 1932, 252}, 6,
     true, "", ""},
    {"Option2", ControlKind::OptionButton, "Frame1", "Full Lists", {120, 480, 1932, 192}, 7, true,
     "", ""},
    {"Command3", ControlKind::Button, "", "&Search Directory", {5520, 480, 972, 372}, 8, true, "",
     ""},
    {"Command4", ControlKind::Button, "", "&Destination Directory", {5520, 960, 972, 372}, 9,
     true, "", ""},
}};
// clang-format on

}  // namespace lorvex
