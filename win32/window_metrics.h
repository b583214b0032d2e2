// Sizes on a screen of any density: the control table's twips, pixels laid out at 96 dots
// per inch, and the system's message font, all for the DPI of the monitor a window is on.
#pragma once

#include <algorithm>
#include <cmath>

#include "platform_windows.h"
#include "win32_handles.h"

namespace lorvex::win32 {

inline UINT WindowDpi(HWND window) {
    const UINT dpi = window ? ::GetDpiForWindow(window) : 0;
    return dpi ? dpi : USER_DEFAULT_SCREEN_DPI;
}

inline int ScaleForDpi(int pixelsAt96, UINT dpi) {
    return ::MulDiv(pixelsAt96, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

// Twips to pixels: 15 twips to a pixel at 96 dots per inch, rounded, then scaled.
inline int TwipsToPixels(int twips, UINT dpi) {
    const int at96 = static_cast<int>(std::lround(twips / 15.0));
    return ScaleForDpi(at96, dpi);
}

// The font of message boxes at the given DPI, what the system's own dialogs use;
// `halfPointsSmaller` shrinks it for a caption that must fit a small button. Null when
// the system does not say, and controls then keep their own font.
inline UniqueFont MessageFont(UINT dpi, int halfPointsSmaller = 0) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return UniqueFont();
    }
    LOGFONTW font = metrics.lfMessageFont;
    if (halfPointsSmaller > 0 && font.lfHeight < 0) {
        // A negative lfHeight is the em in pixels; a point is dpi / 72 pixels.
        font.lfHeight += ::MulDiv(halfPointsSmaller, static_cast<int>(dpi), 144);
        font.lfHeight = std::min<LONG>(font.lfHeight, -1);
    }
    return UniqueFont(::CreateFontIndirectW(&font));
}

// Registers, once per name, the class of a small window of lorvex's own drawn in the
// dialog colour; `procedure` handles its messages.
inline void RegisterDialogLikeClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = name;
    ::RegisterClassExW(&windowClass);  // fails harmlessly when the class is there already
}

}  // namespace lorvex::win32
