#include "form1_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

#include "errors.h"
#include "window_metrics.h"

namespace lorvex::win32 {
namespace {

constexpr wchar_t kClassName[] = L"LorvexForm1";
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which Enter and Esc send
constexpr int kProgramIconId = 1;     // lorvex.rc
constexpr UINT_PTR kTypeAheadSubclass = 1;
constexpr UINT_PTR kMoveButtonSubclass = 2;

int ControlId(std::size_t tableIndex) { return kFirstControlId + static_cast<int>(tableIndex); }

struct ClassAndStyle {
    const wchar_t* windowClass;
    DWORD style;
};

// The native control of each kind. Every control but the second option button starts a
// group, so that arrow keys move only between the two options; every shown control but
// the frame and the second option is a tab stop (Tab enters the options at the first).
ClassAndStyle NativeControl(const ControlLayout& layout) {
    const bool second = layout.name == "Option2";
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (second ? 0 : WS_GROUP);
    if (layout.visible) {
        style |= WS_VISIBLE | (layout.kind == ControlKind::Frame || second ? 0 : WS_TABSTOP);
    }
    switch (layout.kind) {
        case ControlKind::DropDownList:
            return {WC_COMBOBOXW, style | WS_VSCROLL | CBS_DROPDOWNLIST};
        case ControlKind::TextBox:
            return {WC_EDITW, style | ES_AUTOHSCROLL};
        case ControlKind::Button:
            return {WC_BUTTONW, style | BS_PUSHBUTTON | BS_MULTILINE | BS_CENTER | BS_VCENTER};
        case ControlKind::Frame:
            return {WC_BUTTONW, style | BS_GROUPBOX};
        case ControlKind::OptionButton:
            return {WC_BUTTONW, style | BS_AUTORADIOBUTTON};
    }
    return {WC_STATICW, style};
}

const ControlLayout& LayoutOf(std::string_view name) {
    for (const ControlLayout& layout : kForm1Controls) {
        if (layout.name == name) {
            return layout;
        }
    }
    throw std::out_of_range("no control " + std::string(name));
}

// The control's rectangle in the window's client area, in pixels at `dpi`. The options lie
// in the frame; they are the window's children, placed over it, as in any dialog.
RECT ClientRect(const ControlLayout& layout, UINT dpi) {
    TwipsRect twips = layout.rect;
    if (!layout.parent.empty()) {
        const TwipsRect& parent = LayoutOf(layout.parent).rect;
        twips.left += parent.left;
        twips.top += parent.top;
    }
    const int left = TwipsToPixels(twips.left, dpi);
    const int top = TwipsToPixels(twips.top, dpi);
    return {left, top, left + TwipsToPixels(twips.width, dpi),
            top + TwipsToPixels(twips.height, dpi)};
}

// Whether `caption` fits the button in `font`, wrapped at blanks.
bool CaptionFits(HWND button, HFONT font, const std::wstring& caption, SIZE room) {
    const HDC dc = ::GetDC(button);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    RECT needed{0, 0, room.cx, 0};
    ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
    ::SelectObject(dc, previous);
    ::ReleaseDC(button, dc);
    return needed.right - needed.left <= room.cx && needed.bottom - needed.top <= room.cy;
}

// The message font, made smaller by half points until the caption fits its button (on one
// line or wrapped), as the buttons are laid down too small for the captions at 9 points.
UniqueFont FittedCaptionFont(HWND button, const std::wstring& caption, UINT dpi) {
    RECT client{};
    ::GetClientRect(button, &client);
    const SIZE room{client.right - ScaleForDpi(8, dpi), client.bottom - ScaleForDpi(4, dpi)};
    for (int smaller = 0; smaller < 10; ++smaller) {
        UniqueFont font = MessageFont(dpi, smaller);
        if (!font.get() || CaptionFits(button, font.get(), caption, room)) {
            return font;
        }
    }
    return MessageFont(dpi, 10);
}

void SetFont(HWND control, HFONT font) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void RegisterWindowClass(WNDPROC procedure) {
    static const bool registered = [procedure] {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        // The program's icon, when the executable carries it (a test program may not).
        windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kProgramIconId));
        windowClass.hIconSm = static_cast<HICON>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
        INITCOMMONCONTROLSEX controls{sizeof controls,
                                      ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES};
        ::InitCommonControlsEx(&controls);
        return ::RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) {
        throw LorvexError("cannot register the window class: " +
                          platform::SystemMessage(::GetLastError()));
    }
}

// Without WS_CLIPCHILDREN: a group box paints only its frame and caption, and relies on the
// window to paint the face beneath it.
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;

// The work area of the monitor the window is on: no list or box may be larger.
RECT WorkAreaOf(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

// The widest of `items` in the control's font, in pixels.
int WidestText(HWND control, const ComboBox& items) {
    const HDC dc = ::GetDC(control);
    const HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (int i = 0; i < items.ListCount(); ++i) {
        const std::wstring item = platform::Widen(items.List(i));
        SIZE size{};
        ::GetTextExtentPoint32W(dc, item.c_str(), static_cast<int>(item.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    return widest;
}

}  // namespace

Form1Window::Form1Window(Form1& form, Dialogs& dialogs) : form_(form), dialogs_(dialogs) {
    RegisterWindowClass(&WindowProcedure);
    const HWND made =
        ::CreateWindowExW(0, kClassName, platform::Widen(kForm1Window.caption).c_str(),
                          kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (!made) {
        if (createFailure_) {
            std::rethrow_exception(createFailure_);
        }
        throw LorvexError("cannot open the window: " + platform::SystemMessage(::GetLastError()));
    }
}

Form1Window::~Form1Window() {
    attachment_.reset();
    if (window_) {
        ::DestroyWindow(window_);
    }
}

LRESULT CALLBACK Form1Window::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<Form1Window*>(created->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Form1Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_CREATE:
            return self->OnCreate();
        case WM_SETFOCUS:
            self->OnSetFocus();
            return 0;
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            self->window_ = nullptr;
            return ::DefWindowProcW(window, message, wParam, lParam);
        case WM_COMMAND:
            self->OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_ACTIVATE:
            self->OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        case WM_DPICHANGED:
            self->OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DESTROY:
            self->OnDestroy();
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

// -1 fails the window's creation; the constructor then throws why.
LRESULT Form1Window::OnCreate() {
    try {
        CreateControls();
    } catch (...) {
        createFailure_ = std::current_exception();
        return -1;
    }
    CreateCategoryTip();
    const UINT dpi = WindowDpi(window_);
    LayOut(dpi);
    FitClientArea(dpi);
    progress_.SetOwner(window_);

    attachment_.emplace(
        form_, WindowSeams{this, this, this, &progress_},
        ControlListeners{[this] { MirrorCombo(); }, [this] { MirrorField("Start", form_.Start); },
                         [this] { MirrorField("Endd", form_.Endd); }, [this] { MirrorOptions(); }});
    MirrorCore();
    return 0;
}

void Form1Window::CreateControls() {
    // In the table's order, which is the tab order: the system tabs through the children in
    // the order they were made.
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    for (std::size_t i = 0; i < kForm1Controls.size(); ++i) {
        const ControlLayout& layout = kForm1Controls[i];
        const auto [windowClass, style] = NativeControl(layout);
        const DWORD exStyle = layout.kind == ControlKind::TextBox ? WS_EX_CLIENTEDGE : 0;
        const HWND control = ::CreateWindowExW(
            exStyle, windowClass, platform::Widen(layout.caption).c_str(), style, 0, 0, 0, 0,
            window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(i))), instance,
            nullptr);
        if (!control) {
            throw LorvexError("cannot make the control " + std::string(layout.name) + ": " +
                              platform::SystemMessage(::GetLastError()));
        }
        controls_[layout.name] = control;
    }
    // The frame lies beneath the options it holds, or it would paint over them. It is no
    // tab stop, so the tab order stays the table's.
    ::SetWindowPos(Control("Frame1"), HWND_BOTTOM, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const HWND combo = Control("Combo1");
    ::SendMessageW(combo, CB_SETMINVISIBLE, kVisibleRows, 0);
    ::SetWindowSubclass(combo, &CategoryListProcedure, kTypeAheadSubclass,
                        reinterpret_cast<DWORD_PTR>(this));
    ::SetWindowSubclass(Control("Command2"), &MoveButtonProcedure, kMoveButtonSubclass,
                        reinterpret_cast<DWORD_PTR>(this));
}

// Places every control at its twips for `dpi`, in the system's message font.
void Form1Window::LayOut(UINT dpi) {
    std::vector<UniqueFont> fonts;
    fonts.push_back(MessageFont(dpi));
    const HFONT messageFont = fonts.front().get();
    for (const ControlLayout& layout : kForm1Controls) {
        const HWND control = Control(layout.name);
        const RECT rect = ClientRect(layout, dpi);
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        SetFont(control, messageFont);
        if (layout.kind == ControlKind::DropDownList) {
            // A drop-down list's height is that of its open list; the closed field is
            // sized by its item height, set so that the field has the table's height.
            const int rowHeight = static_cast<int>(::SendMessageW(control, CB_GETITEMHEIGHT, 0, 0));
            ::SetWindowPos(control, nullptr, rect.left, rect.top, width,
                           height + kVisibleRows * rowHeight + 2, SWP_NOZORDER | SWP_NOACTIVATE);
            RECT field{};
            ::GetWindowRect(control, &field);
            const auto fieldItem =
                static_cast<int>(::SendMessageW(control, CB_GETITEMHEIGHT, WPARAM(-1), 0));
            const int wanted = fieldItem + height - (field.bottom - field.top);
            if (wanted > 0 && wanted != fieldItem) {
                ::SendMessageW(control, CB_SETITEMHEIGHT, WPARAM(-1), wanted);
            }
            continue;
        }
        ::SetWindowPos(control, nullptr, rect.left, rect.top, width, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        if (layout.kind == ControlKind::Button) {
            fonts.push_back(FittedCaptionFont(control, platform::Widen(layout.caption), dpi));
            SetFont(control, fonts.back().get());
        }
    }
    fonts_ = std::move(fonts);  // the controls no longer use the old fonts
    ::InvalidateRect(window_, nullptr, TRUE);
}

void Form1Window::FitClientArea(UINT dpi) {
    RECT frame{0, 0, TwipsToPixels(kForm1Window.clientWidthTwips, dpi),
               TwipsToPixels(kForm1Window.clientHeightTwips, dpi)};
    ::AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, dpi);
    ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::OnCommand(int id, int code) {
    const int index = id - kFirstControlId;
    if (mirroring_ > 0 || index < 0 || index >= static_cast<int>(kForm1Controls.size())) {
        return;
    }
    const std::string_view name = kForm1Controls[static_cast<std::size_t>(index)].name;
    if (name == "Combo1" && code == CBN_SELCHANGE) {
        form_.Combo1.SetListIndex(
            static_cast<int>(::SendMessageW(Control(name), CB_GETCURSEL, 0, 0)));
    } else if ((name == "Start" || name == "Endd") && code == EN_CHANGE) {
        (name == "Start" ? form_.Start : form_.Endd).SetText(ControlText(name));
    } else if ((name == "Option1" || name == "Option2") && code == BN_CLICKED) {
        if (Button_GetCheck(Control(name)) == BST_CHECKED) {
            (name == "Option1" ? form_.Option1 : form_.Option2).SetValue(true);
        }
        MirrorCore();  // a failed reload leaves the core as it was; show that
    } else if (code == BN_CLICKED) {
        ClickButton(form_, name);
    }
}

void Form1Window::CreateCategoryTip() {
    categoryTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                     WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
    if (!categoryTip_) {
        return;  // the list works without its tip
    }
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(Control("Combo1"));
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(categoryTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// The control the focus belongs on: the one last used, else the first in the tab order.
HWND Form1Window::FocusTarget() const {
    if (focused_ && ::IsChild(window_, focused_) && ::IsWindowVisible(focused_) &&
        ::IsWindowEnabled(focused_)) {
        return focused_;
    }
    return ::GetNextDlgTabItem(window_, nullptr, FALSE);
}

void Form1Window::OnActivate(bool active) {
    if (active) {
        ::SetFocus(FocusTarget());
    } else if (const HWND focus = ::GetFocus(); focus && ::IsChild(window_, focus)) {
        focused_ = focus;
    }
}

// The window itself never keeps the focus, or plain letters would act as access keys; it
// gets it when the focused control is hidden or the window is restored.
void Form1Window::OnSetFocus() {
    if (const HWND target = FocusTarget()) {
        ::SetFocus(target);
    }
}

void Form1Window::OnDpiChanged(UINT dpi, const RECT& suggested) {
    LayOut(dpi);
    FitDroppedWidth();
    ::SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::OnDestroy() {
    if (const auto combo = controls_.find("Combo1"); combo != controls_.end()) {
        ::RemoveWindowSubclass(combo->second, &CategoryListProcedure, kTypeAheadSubclass);
    }
    if (const auto move = controls_.find("Command2"); move != controls_.end()) {
        ::RemoveWindowSubclass(move->second, &MoveButtonProcedure, kMoveButtonSubclass);
    }
    if (quitOnDestroy_) {
        ::PostQuitMessage(0);
    }
}

int Form1Window::RunUntilClosed() {
    quitOnDestroy_ = true;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!HandleDialogKeys(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

// Type-ahead in the category list, as in a file manager's list: keys typed within a second
// of each other make a prefix, blanks included, and the first category it begins (in any
// letter case) is chosen. The list's own search would look at the last key alone.
LRESULT CALLBACK Form1Window::CategoryListProcedure(HWND combo, UINT message, WPARAM wParam,
                                                    LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    if (message == WM_CHAR && wParam >= L' ' &&
        reinterpret_cast<Form1Window*>(self)->OnCategoryChar(static_cast<wchar_t>(wParam))) {
        return 0;
    }
    return ::DefSubclassProc(combo, message, wParam, lParam);
}

// Remembers where the focus came from, to give it back there after the move's box.
LRESULT CALLBACK Form1Window::MoveButtonProcedure(HWND button, UINT message, WPARAM wParam,
                                                  LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    auto* const window = reinterpret_cast<Form1Window*>(self);
    const auto previous = reinterpret_cast<HWND>(wParam);
    if (message == WM_SETFOCUS && previous && ::IsChild(window->window_, previous)) {
        window->beforeMove_ = previous;
    }
    return ::DefSubclassProc(button, message, wParam, lParam);
}

bool Form1Window::OnCategoryChar(wchar_t typed) {
    const int found = typeAhead_.Type(platform::Narrow(std::wstring_view(&typed, 1)),
                                      form_.Combo1.Items(), TypeAhead::Clock::now());
    const HWND combo = Control("Combo1");
    if (found >= 0 && ::SendMessageW(combo, CB_GETCURSEL, 0, 0) != found) {
        ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
        form_.Combo1.SetListIndex(found);
    }
    return true;  // when no category begins so, the choice stays
}

void Form1Window::Show() {
    ::ShowWindow(window_, SW_SHOW);
    ::UpdateWindow(window_);
    ::SetFocus(FocusTarget());
}

void Form1Window::Refresh() {
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

std::string Form1Window::BrowseFolder(std::string_view prompt, std::string_view startAt) {
    return dialogs_.ChooseFolder(window_, prompt, startAt);
}

void Form1Window::ShowMessage(std::string_view title, std::string_view text) {
    ShowBox(title, text, {}, FocusAfterBox({}));
}

void Form1Window::ShowMoveReport(std::string_view title, const MoveReportText& report) {
    ShowBox(title, report.summary, report.details, FocusAfterBox({}));
}

void Form1Window::ShowError(std::string_view title, std::string_view text) {
    ShowBox(title, AsSentence(text), {}, FocusAfterBox(form_.ControlToFix()));
}

// Where the focus goes once a box is closed: to the control the error is about, else back
// where it was, but not to Move Files!, where a typed letter would act as an access key
// (the rest of a path typed there opens a picker; "m" moves again): to the control used
// before it.
HWND Form1Window::FocusAfterBox(std::string_view controlToFix) const {
    if (!controlToFix.empty()) {
        return Control(controlToFix);
    }
    const HWND focus = ::GetFocus();
    const HWND was = focus && ::IsChild(window_, focus) ? focus : focused_;
    if (was != Control("Command2")) {
        return was;
    }
    return beforeMove_ && ::IsWindowVisible(beforeMove_) && ::IsWindowEnabled(beforeMove_)
               ? beforeMove_
               : ::GetNextDlgTabItem(window_, nullptr, FALSE);
}

void Form1Window::ShowBox(std::string_view title, std::string_view text, std::string_view details,
                          HWND focusAfter) {
    dialogs_.ShowMessage(window_, title, text, details);
    if (!focusAfter) {
        return;
    }
    focused_ = focusAfter;  // for when the window is activated again, after the box
    if (::GetActiveWindow() == window_) {
        ::SetFocus(focusAfter);
    }
}

std::string Form1Window::ControlText(std::string_view name) const {
    const HWND control = Control(name);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return platform::Narrow(text);
}

void Form1Window::MirrorCore() {
    MirrorField("Start", form_.Start);
    MirrorField("Endd", form_.Endd);
    MirrorOptions();
    MirrorCombo();
}

void Form1Window::MirrorField(std::string_view name, const TextBox& model) {
    if (ControlText(name) != model.Text()) {
        ++mirroring_;
        ::SetWindowTextW(Control(name), platform::Widen(model.Text()).c_str());
        --mirroring_;
    }
}

void Form1Window::MirrorOptions() {
    ++mirroring_;
    Button_SetCheck(Control("Option1"), form_.Option1.Value() ? BST_CHECKED : BST_UNCHECKED);
    Button_SetCheck(Control("Option2"), form_.Option2.Value() ? BST_CHECKED : BST_UNCHECKED);
    // Checking a radio button makes it the group's tab stop and clearing it takes that
    // away, which would leave two cleared options out of the tab order: Option1 keeps it.
    if (!form_.Option1.Value() && !form_.Option2.Value()) {
        const HWND first = Control("Option1");
        ::SetWindowLongW(first, GWL_STYLE, ::GetWindowLongW(first, GWL_STYLE) | WS_TABSTOP);
    }
    --mirroring_;
}

void Form1Window::MirrorCombo() {
    const ComboBox& model = form_.Combo1;
    const HWND combo = Control("Combo1");
    if (!model.Visible()) {
        // Hiding the focused list hands the focus on; it comes back with the list.
        listRegainsFocus_ = listRegainsFocus_ || ::GetFocus() == combo;
        ::ShowWindow(combo, SW_HIDE);
        return;  // a list being refilled is copied once it is shown again
    }
    ::ShowWindow(combo, SW_SHOWNA);
    if (std::exchange(listRegainsFocus_, false)) {
        ::SetFocus(combo);
    }
    ++mirroring_;
    if (mirroredItems_ != model.ItemsRevision()) {
        ::SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
        ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < model.ListCount(); ++i) {
            ::SendMessageW(combo, CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(platform::Widen(model.List(i)).c_str()));
        }
        ::SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(combo, nullptr, TRUE);
        mirroredItems_ = model.ItemsRevision();
        FitDroppedWidth();
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(model.ListIndex()), 0);
    ShowChosenCategoryTip();
    --mirroring_;
}

// The open list as wide as its longest name, so that names alike at the start can be told
// apart, but never wider than the screen's work area nor narrower than the closed box.
void Form1Window::FitDroppedWidth() {
    const HWND combo = Control("Combo1");
    const UINT dpi = WindowDpi(window_);
    const int wanted = WidestText(combo, form_.Combo1) +
                       ::GetSystemMetricsForDpi(SM_CXVSCROLL, dpi) + ScaleForDpi(8, dpi);
    RECT closed{};
    ::GetWindowRect(combo, &closed);
    const RECT work = WorkAreaOf(window_);
    const int width = std::clamp(wanted, static_cast<int>(closed.right - closed.left),
                                 std::max<int>(closed.right - closed.left, work.right - work.left));
    ::SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

// The closed list may cut a long name short; its tip shows the chosen one whole, wrapped
// within the screen, and the category list it comes from.
void Form1Window::ShowChosenCategoryTip() {
    if (!categoryTip_) {
        return;
    }
    const RECT work = WorkAreaOf(window_);
    ::SendMessageW(categoryTip_, TTM_SETMAXTIPWIDTH, 0, (work.right - work.left) / 2);
    const std::wstring name = platform::Widen(CategoryTip(form_));
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(Control("Combo1"));
    tool.lpszText = const_cast<wchar_t*>(name.c_str());
    ::SendMessageW(categoryTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace lorvex::win32
