#include "pass_progress_window.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "window_metrics.h"

namespace lorvex::win32 {
namespace {

constexpr wchar_t kClassName[] = L"LorvexPassProgress";
constexpr int kCancelId = IDCANCEL;
// Layout at 96 dots per inch: a label, the bar below it and Cancel at the bottom right.
constexpr int kWidth = 360;
constexpr int kMargin = 12;
constexpr int kLabelHeight = 32;
constexpr int kBarHeight = 18;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kHeight = kMargin + kLabelHeight + 8 + kBarHeight + 12 + kButtonHeight + kMargin;

void RegisterClassOnce() {
    // The procedure is replaced per window, see Open.
    static const bool registered = (RegisterDialogLikeClass(kClassName, DefWindowProcW), true);
    (void)registered;
}

// Centred on the owner and moved back into its monitor's work area, so that the title
// bar is always within reach.
RECT PlaceOver(HWND owner, SIZE size) {
    RECT around{};
    ::GetWindowRect(owner, &around);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT room = monitor.rcWork;
    LONG left = (around.left + around.right - size.cx) / 2;
    LONG top = (around.top + around.bottom - size.cy) / 2;
    left = std::clamp(left, room.left, std::max(room.left, room.right - size.cx));
    top = std::clamp(top, room.top, std::max(room.top, room.bottom - size.cy));
    return {left, top, left + size.cx, top + size.cy};
}

}  // namespace

PassProgressWindow::PassProgressWindow(HWND owner, std::chrono::milliseconds delay)
    : owner_(owner), delay_(delay) {}

PassProgressWindow::~PassProgressWindow() { Close(); }

void PassProgressWindow::PassBegins() {
    Close();
    cancelled_ = false;
    delay_.Restart();
}

void PassProgressWindow::PassEnds() { Close(); }

bool PassProgressWindow::ContinuePass(const PassStatus& status) {
    if (!dialog_) {
        if (!delay_.Over()) {
            return true;  // short passes finish without a dialog
        }
        Open();
    }
    Update(status);
    PumpMessages();
    return !cancelled_;
}

void PassProgressWindow::Open() {
    RegisterClassOnce();
    const UINT dpi = WindowDpi(owner_);
    const auto px = [dpi](int pixelsAt96) { return ScaleForDpi(pixelsAt96, dpi); };
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT frame{0, 0, px(kWidth), px(kHeight)};
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, dpi);
    const RECT placed = PlaceOver(owner_, {frame.right - frame.left, frame.bottom - frame.top});
    dialog_ = ::CreateWindowExW(exStyle, kClassName, L"lorvex", style, placed.left, placed.top,
                                placed.right - placed.left, placed.bottom - placed.top, owner_,
                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!dialog_) {
        return;  // the move goes on without a dialog
    }
    ::SetWindowLongPtrW(dialog_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcedure));
    font_ = MessageFont(dpi);
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const int inner = kWidth - 2 * kMargin;
    label_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, px(kMargin),
                               px(kMargin), px(inner), px(kLabelHeight), dialog_, nullptr, instance,
                               nullptr);
    bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, px(kMargin),
                             px(kMargin + kLabelHeight + 8), px(inner), px(kBarHeight), dialog_,
                             nullptr, instance, nullptr);
    const HWND cancel = ::CreateWindowExW(
        0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
        px(kWidth - kMargin - kButtonWidth), px(kHeight - kMargin - kButtonHeight),
        px(kButtonWidth), px(kButtonHeight), dialog_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelId)), instance, nullptr);
    for (const HWND child : {label_, cancel}) {
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    }
    // The range is 32 bits wide; a total beyond that is shown in proportion.
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, 1 << 30);
    ::EnableWindow(owner_, FALSE);  // no other input reaches the window meanwhile
    ::ShowWindow(dialog_, SW_SHOW);
    ::SetFocus(cancel);
}

void PassProgressWindow::Close() {
    if (!dialog_) {
        return;
    }
    // Enabled again first, so that the system gives the activation back to the window.
    ::EnableWindow(owner_, TRUE);
    ::DestroyWindow(std::exchange(dialog_, nullptr));
    label_ = bar_ = nullptr;
}

void PassProgressWindow::Update(const PassStatus& status) {
    if (!dialog_) {
        return;
    }
    const double share =
        status.total > 0 ? static_cast<double>(status.checked) / static_cast<double>(status.total)
                         : 0.0;
    ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(share * (1 << 30)), 0);
    ::SetWindowTextW(label_, platform::Widen(ProgressLabel(status)).c_str());
}

void PassProgressWindow::PumpMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));  // for the main loop
            cancelled_ = true;
            return;
        }
        if (dialog_ && ::IsDialogMessageW(dialog_, &message)) {
            continue;  // Enter, Esc and Space press Cancel
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

LRESULT CALLBACK PassProgressWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam) {
    auto* self = reinterpret_cast<PassProgressWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kCancelId) {
                self->cancelled_ = true;
                return 0;
            }
            break;
        case WM_CLOSE:  // the title bar's close box cancels; the pass closes the dialog
            self->cancelled_ = true;
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace lorvex::win32
