// The Win32 window of Form1: native controls built from the core's control table,
// mirroring the core's control values both ways and calling its handlers, as the Qt
// window does on Linux. One window class, whose procedure only dispatches to the handlers
// below; all state lives in this object, handed to CreateWindowExW and kept in the
// window's user data from WM_NCCREATE on. Like a dialog, the window keeps the keyboard
// focus on one of its controls: the first in the tab order at start, the one last used
// whenever the window is activated again, and after a box the control to fix or the one
// used before Move Files!.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control_table.h"
#include "dialogs.h"
#include "form1.h"
#include "pass_progress_window.h"
#include "platform_windows.h"
#include "type_ahead.h"
#include "win32_handles.h"
#include "window_binding.h"

namespace lorvex::win32 {

class Form1Window : public WindowView, public FolderPicker, public MessageSink {
public:
    static constexpr int kVisibleRows = 20;

    // Creates the window, not yet shown. Throws LorvexError when it cannot be made.
    Form1Window(Form1& form, Dialogs& dialogs);
    Form1Window(const Form1Window&) = delete;
    Form1Window& operator=(const Form1Window&) = delete;
    ~Form1Window() override;

    // Pumps messages until the window is closed; the exit status.
    int RunUntilClosed();

    HWND Handle() const { return window_; }
    // The control of the table's `name`.
    HWND Control(std::string_view name) const { return controls_.at(name); }
    PassProgressWindow& Progress() { return progress_; }
    // Keyboard navigation (Tab, arrows, access keys) for a message of this window's loop.
    bool HandleDialogKeys(MSG& message) const { return ::IsDialogMessageW(window_, &message); }

    void Show() override;
    void Refresh() override;
    std::string BrowseFolder(std::string_view prompt, std::string_view startAt) override;
    void ShowMessage(std::string_view title, std::string_view text) override;
    void ShowError(std::string_view title, std::string_view text) override;
    void ShowMoveReport(std::string_view title, const MoveReportText& report) override;

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    static LRESULT CALLBACK CategoryListProcedure(HWND combo, UINT message, WPARAM wParam,
                                                  LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK MoveButtonProcedure(HWND button, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    LRESULT OnCreate();
    void OnCommand(int id, int code);
    void OnActivate(bool active);
    void OnSetFocus();
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void OnDestroy();
    bool OnCategoryChar(wchar_t typed);

    void CreateControls();
    void CreateCategoryTip();
    HWND FocusTarget() const;
    HWND FocusAfterBox(std::string_view controlToFix) const;
    void ShowBox(std::string_view title, std::string_view text, std::string_view details,
                 HWND focusAfter);
    void FitDroppedWidth();
    void ShowChosenCategoryTip();
    void LayOut(UINT dpi);
    void FitClientArea(UINT dpi);
    void MirrorCore();
    void MirrorField(std::string_view name, const TextBox& model);
    void MirrorOptions();
    void MirrorCombo();
    std::string ControlText(std::string_view name) const;

    Form1& form_;
    Dialogs& dialogs_;
    HWND window_ = nullptr;
    std::map<std::string_view, HWND> controls_;  // by the core's control name
    std::vector<UniqueFont> fonts_;              // the message font, then fitted captions
    PassProgressWindow progress_{nullptr};
    HWND categoryTip_ = nullptr;        // the chosen category's full name over the closed list
    std::exception_ptr createFailure_;  // why WM_CREATE failed, thrown by the constructor
    HWND focused_ = nullptr;            // restored when the window is activated again
    HWND beforeMove_ = nullptr;         // had the focus before Move Files! took it
    bool listRegainsFocus_ = false;     // the list had the focus when it was hidden to refill
    int mirroring_ = 0;                 // > 0 while core values are copied onto the controls
    std::uint64_t mirroredItems_ = ~std::uint64_t{0};
    bool quitOnDestroy_ = false;
    TypeAhead typeAhead_;
    std::optional<WindowAttachment> attachment_;  // gone before the window is
};

}  // namespace lorvex::win32
