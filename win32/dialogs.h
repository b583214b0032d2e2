// Every dialog the Win32 window opens, behind one object, so that tests can record the
// boxes and answer the folder picker without a real modal dialog on screen.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform_windows.h"

namespace lorvex::win32 {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal lorvex box owned by `owner`: a title, a text, OK only and no icon.
    // `details`, when not empty, is the full list the text summarises.
    virtual void ShowMessage(HWND owner, std::string_view title, std::string_view text,
                             std::string_view details) = 0;
    // The folder picker titled `prompt`, opening at `startAt` when that is a folder: the
    // chosen folder's full path, or "" on cancel.
    virtual std::string ChooseFolder(HWND owner, std::string_view prompt,
                                     std::string_view startAt) = 0;
};

// The real ones: a box and the system's folder dialog (IFileOpenDialog), opening at
// FolderPickerStart of the field. A box is a Task Dialog, or with details (or without a
// Task Dialog) a box of lorvex's own whose "Show details" opens the whole list in a field
// that scrolls. A box never grows past the work area; long names are wrapped.
class ModalDialogs : public Dialogs {
public:
    // Called with each box once it is laid out, before it takes any input: tests measure
    // the real box there and close it.
    std::function<void(HWND box)> onShown;

    void ShowMessage(HWND owner, std::string_view title, std::string_view text,
                     std::string_view details) override;
    std::string ChooseFolder(HWND owner, std::string_view prompt,
                             std::string_view startAt) override;
};

}  // namespace lorvex::win32
