#include "dialogs.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <utility>

#include "folder_picker_start.h"
#include "win32_handles.h"
#include "window_metrics.h"

namespace lorvex::win32 {
namespace {

// The box's width in dialog units, as wide as a Task Dialog usually is.
constexpr int kBoxWidthUnits = 280;

// Opens the dialog in `folder`; the dialog keeps its usual start if that fails.
void StartIn(IFileOpenDialog* dialog, const std::string& folder) {
    // The shell may refuse a path beyond MAX_PATH in its usual form, but not in \\?\ form.
    for (const std::wstring& path : {platform::Widen(folder), platform::LongPath(folder)}) {
        ComPtr<IShellItem> item;
        if (SUCCEEDED(::SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem,
                                                    item.ReceiveVoid()))) {
            dialog->SetFolder(item.get());
            return;
        }
    }
}

struct Place {
    int left;
    int top;
    int width;
    int height;
};

// A device context measuring text in the message font at `dpi`, for as long as it lives.
class TextMeasure {
public:
    explicit TextMeasure(UINT dpi) : font_(MessageFont(dpi)), dc_(::CreateCompatibleDC(nullptr)) {
        previous_ =
            ::SelectObject(dc_, font_.get() ? font_.get() : ::GetStockObject(DEFAULT_GUI_FONT));
    }
    TextMeasure(const TextMeasure&) = delete;
    TextMeasure& operator=(const TextMeasure&) = delete;
    ~TextMeasure() {
        ::SelectObject(dc_, previous_);
        ::DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    // Dialog units across to pixels: four to the font's average character width.
    int DialogUnitsToPixels(int units) const {
        SIZE alphabet{};
        static constexpr wchar_t kLetters[] =
            L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        ::GetTextExtentPoint32W(dc_, kLetters, 52, &alphabet);
        return ::MulDiv(units, (alphabet.cx / 26 + 1) / 2, 4);
    }
    int HeightOf(const std::wstring& text, int width) const {
        RECT rect{0, 0, width, 0};
        ::DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &rect,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
        return rect.bottom;
    }

private:
    UniqueFont font_;
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

// `text` with a line break wherever a run without blanks would not fit `width`, so that
// boxes wrap long names as they wrap sentences (they break lines at blanks only).
std::wstring BreakLongWords(const TextMeasure& measure, std::wstring_view text, int width) {
    std::wstring broken;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of(L" \n"), text.size());
        std::wstring_view word = text.substr(0, end);
        while (!word.empty()) {
            int fit = 0;
            SIZE size{};
            ::GetTextExtentExPointW(measure.dc(), word.data(), static_cast<int>(word.size()), width,
                                    &fit, nullptr, &size);
            fit = std::clamp(fit, 1, static_cast<int>(word.size()));
            broken.append(word.substr(0, static_cast<std::size_t>(fit)));
            word.remove_prefix(static_cast<std::size_t>(fit));
            if (!word.empty()) {
                broken += L'\n';
            }
        }
        if (end < text.size()) {
            broken += text[end];
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return broken;
}

// Line ends as edit controls show them.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring result;
    for (const wchar_t c : text) {
        if (c == L'\n') {
            result += L'\r';
        }
        result += c;
    }
    return result;
}

RECT WorkAreaNear(HWND owner) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const HMONITOR screen = owner ? ::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)
                                  : ::MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    ::GetMonitorInfoW(screen, &monitor);
    return monitor.rcWork;
}

// What a box shows, wrapped for a width that fits the work area.
struct BoxText {
    std::wstring title;
    std::wstring text;
    std::wstring details;
    int widthUnits;  // of the text area, in dialog units
    int widthPixels;
    bool fitsTaskDialog;  // the text is no taller than the work area in a Task Dialog
};

BoxText LayOutBoxText(HWND owner, std::string_view title, std::string_view text,
                      std::string_view details) {
    const UINT dpi = owner ? WindowDpi(owner) : ::GetDpiForSystem();
    const TextMeasure measure(dpi);
    const RECT work = WorkAreaNear(owner);
    BoxText box{platform::Widen(title), {}, {}, kBoxWidthUnits, 0, false};
    // Narrower on a small screen: the margins take some 40 units besides.
    while (box.widthUnits > 100 &&
           measure.DialogUnitsToPixels(box.widthUnits + 40) > work.right - work.left) {
        box.widthUnits -= 20;
    }
    box.widthPixels = measure.DialogUnitsToPixels(box.widthUnits - 30);
    box.text = BreakLongWords(measure, platform::Widen(text), box.widthPixels);
    box.details = BreakLongWords(measure, platform::Widen(details), box.widthPixels);
    // The caption, the button and the margins take some 80 points.
    const int height =
        measure.HeightOf(box.text, box.widthPixels) + ::MulDiv(80, static_cast<int>(dpi), 72);
    box.fitsTaskDialog = height <= work.bottom - work.top;
    return box;
}

using TaskDialogFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// The Task Dialog of Common Controls 6, which the programs' manifest asks for; null under
// older common controls, which have none.
TaskDialogFunction TaskDialogEntry() {
    const HMODULE controls = ::GetModuleHandleW(L"comctl32.dll");
    const FARPROC entry = controls ? ::GetProcAddress(controls, "TaskDialogIndirect") : nullptr;
    return reinterpret_cast<TaskDialogFunction>(reinterpret_cast<void (*)()>(entry));
}

// Centred over `owner` (or the work area), and moved into the work area.
void PlaceWithin(HWND box, HWND owner, const RECT& work) {
    RECT place{};
    ::GetWindowRect(box, &place);
    const SIZE size{place.right - place.left, place.bottom - place.top};
    RECT around = work;
    if (owner) {
        ::GetWindowRect(owner, &around);
    }
    const LONG left = std::clamp((around.left + around.right - size.cx) / 2, work.left,
                                 std::max(work.left, work.right - size.cx));
    const LONG top = std::clamp((around.top + around.bottom - size.cy) / 2, work.top,
                                std::max(work.top, work.bottom - size.cy));
    ::SetWindowPos(box, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HRESULT CALLBACK TaskDialogEvents(HWND box, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
    if (notification == TDN_CREATED) {
        const HWND owner = ::GetWindow(box, GW_OWNER);
        // Some Task Dialogs (wine's) place themselves partly off the screen.
        PlaceWithin(box, owner, WorkAreaNear(owner));
        if (!owner) {
            ::SetForegroundWindow(box);  // a box of its own comes to the front
        }
        if (const auto& shown = *reinterpret_cast<const std::function<void(HWND)>*>(data)) {
            shown(box);
        }
    }
    return S_OK;
}

// A Task Dialog: the title, the text, OK only and no icon. False when the system has none.
bool ShowTaskDialog(HWND owner, const BoxText& box, const std::function<void(HWND)>& shown) {
    const TaskDialogFunction taskDialog = TaskDialogEntry();
    if (!taskDialog) {
        return false;
    }
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | (owner ? TDF_POSITION_RELATIVE_TO_WINDOW : 0);
    config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = box.title.c_str();
    config.pszContent = box.text.c_str();
    config.cxWidth = static_cast<UINT>(box.widthUnits);
    config.pfCallback = &TaskDialogEvents;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&shown);
    return SUCCEEDED(taskDialog(&config, nullptr, nullptr, nullptr));
}

// The box with details of our own: the text, "Show details", which opens the whole list
// in a read-only field that scrolls, and OK; never larger than the work area. A window of
// its own class, run modally. (A Task Dialog cannot scroll, and wine's has no details.)
class DetailsBox {
public:
    static constexpr wchar_t kClassName[] = L"LorvexDetailsBox";
    static constexpr int kDetailsId = 100;

    DetailsBox(HWND owner, const BoxText& box)
        : owner_(owner),
          dpi_(owner ? WindowDpi(owner) : ::GetDpiForSystem()),
          work_(WorkAreaNear(owner)),
          font_(MessageFont(dpi_)),
          textWidth_(box.widthPixels) {
        RegisterOnce();
        const TextMeasure measure(dpi_);
        RECT frame{0, 0, textWidth_ + 2 * Margin(), 0};
        ::AdjustWindowRectExForDpi(&frame, kStyle, FALSE, WS_EX_DLGMODALFRAME, dpi_);
        chrome_ = {frame.right - frame.left - textWidth_ - 2 * Margin(), frame.bottom - frame.top};
        const int room = (work_.bottom - work_.top) - chrome_.cy - 3 * Margin() - ButtonHeight();
        textHeight_ = std::min(measure.HeightOf(box.text, textWidth_), room / 3);
        listHeight_ = room - textHeight_ - Margin();
        window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, box.title.c_str(), kStyle, 0,
                                    0, 0, 0, owner, nullptr, ::GetModuleHandleW(nullptr), this);
        if (!window_) {
            return;
        }
        Child(WC_STATICW, box.text, SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 0);
        list_ = box.details.empty() ? nullptr
                                    : Child(WC_EDITW, WithCrLf(box.details),
                                            ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP,
                                            WS_EX_CLIENTEDGE, false);
        if (list_) {
            ::SetWindowSubclass(list_, &ListProcedure, 0, 0);
        }
        toggle_ = list_ ? Child(WC_BUTTONW, L"Show details", BS_PUSHBUTTON | WS_TABSTOP, 0, true,
                                kDetailsId)
                        : nullptr;
        ok_ = Child(WC_BUTTONW, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, true, IDOK);
        LayOut(true);
        ::SetFocus(ok_);
    }
    DetailsBox(const DetailsBox&) = delete;
    DetailsBox& operator=(const DetailsBox&) = delete;

    // Shows the box and returns once it is closed; the owner takes no input meanwhile.
    void Run(const std::function<void(HWND)>& shown) {
        if (!window_) {
            return;
        }
        const bool ownerWasEnabled = owner_ && !::EnableWindow(owner_, FALSE);
        ::ShowWindow(window_, SW_SHOW);
        if (shown) {
            shown(window_);
        }
        MSG message{};
        while (window_ && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (!::IsDialogMessageW(window_, &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        if (ownerWasEnabled) {
            ::EnableWindow(owner_, TRUE);
            ::SetActiveWindow(owner_);
        }
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));  // for the loop it ends
        }
    }

private:
    static constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;

    int Margin() const { return ScaleForDpi(12, dpi_); }
    int ButtonHeight() const { return ScaleForDpi(26, dpi_); }
    int ButtonWidth() const { return ScaleForDpi(96, dpi_); }

    // Places the controls, with the list open or not, and the box within the work area.
    void LayOut(bool centre) {
        const int margin = Margin();
        int y = margin;
        ::SetWindowPos(::GetWindow(window_, GW_CHILD), nullptr, margin, y, textWidth_, textHeight_,
                       SWP_NOZORDER);
        y += textHeight_ + margin;
        if (list_) {
            ::ShowWindow(list_, expanded_ ? SW_SHOWNA : SW_HIDE);
            ::SetWindowPos(list_, nullptr, margin, y, textWidth_, listHeight_, SWP_NOZORDER);
            y += expanded_ ? listHeight_ + margin : 0;
            ::SetWindowTextW(toggle_, expanded_ ? L"Hide details" : L"Show details");
            ::SetWindowPos(toggle_, nullptr, margin, y, ButtonWidth(), ButtonHeight(),
                           SWP_NOZORDER);
        }
        ::SetWindowPos(ok_, nullptr, margin + textWidth_ - ButtonWidth(), y, ButtonWidth(),
                       ButtonHeight(), SWP_NOZORDER);
        const SIZE outer{textWidth_ + 2 * margin + chrome_.cx,
                         y + ButtonHeight() + margin + chrome_.cy};
        ::SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        // The first time over its owner; later around where it stands.
        PlaceWithin(window_, centre ? owner_ : window_, work_);
    }

    void ToggleDetails() {
        expanded_ = !expanded_;
        LayOut(false);
    }

    static void RegisterOnce() {
        static const bool registered = (RegisterDialogLikeClass(kClassName, &Procedure), true);
        (void)registered;
    }

    // The list is read, not edited: Tab and Shift+Tab go on to the next control and Enter
    // presses OK, as in a dialog's read-only field, where a multi-line field would keep them.
    static LRESULT CALLBACK ListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR) {
        if (message == WM_GETDLGCODE) {
            return ::DefSubclassProc(list, message, wParam, lParam) &
                   ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
        }
        if (message == WM_NCDESTROY) {
            ::RemoveWindowSubclass(list, &ListProcedure, 0);
        }
        return ::DefSubclassProc(list, message, wParam, lParam);
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(
                                    reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<DetailsBox*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_COMMAND && LOWORD(wParam) == kDetailsId && self) {
            self->ToggleDetails();
            return 0;
        }
        if (message == WM_CLOSE ||
            (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))) {
            ::DestroyWindow(window);
            return 0;
        }
        if (message == WM_NCDESTROY && self) {
            self->window_ = nullptr;  // ends Run's loop
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    HWND Child(const wchar_t* windowClass, const std::wstring& text, DWORD style, DWORD exStyle,
               bool visible = true, int id = 0) {
        const HWND child = ::CreateWindowExW(
            exStyle, windowClass, text.c_str(), WS_CHILD | (visible ? WS_VISIBLE : 0) | style, 0, 0,
            0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
            ::GetModuleHandleW(nullptr), nullptr);
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return child;
    }

    HWND owner_;
    UINT dpi_;
    RECT work_;
    UniqueFont font_;
    int textWidth_;
    SIZE chrome_{};  // what the frame and caption add to the client area
    int textHeight_ = 0;
    int listHeight_ = 0;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND toggle_ = nullptr;
    HWND ok_ = nullptr;
    bool expanded_ = false;
};

}  // namespace

void ModalDialogs::ShowMessage(HWND owner, std::string_view title, std::string_view text,
                               std::string_view details) {
    const BoxText box = LayOutBoxText(owner, title, text, details);
    if (box.details.empty() && box.fitsTaskDialog && ShowTaskDialog(owner, box, onShown)) {
        return;
    }
    DetailsBox(owner, box).Run(onShown);
}

std::string ModalDialogs::ChooseFolder(HWND owner, std::string_view prompt,
                                       std::string_view startAt) {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFileOpenDialog, dialog.ReceiveVoid()))) {
        return {};
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(platform::Widen(prompt).c_str());
    if (const std::string start = FolderPickerStart(startAt); !start.empty()) {
        StartIn(dialog.get(), start);
    }
    if (FAILED(dialog->Show(owner))) {
        return {};  // cancelled
    }
    ComPtr<IShellItem> chosen;
    CoTaskString path;
    if (FAILED(dialog->GetResult(chosen.Receive())) ||
        FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, path.Receive()))) {
        return {};
    }
    return platform::Narrow(path.get());
}

}  // namespace lorvex::win32
