// Every dialog the Win32 window opens, behind one object, so that tests can record the
// boxes and answer the folder picker without a real modal dialog on screen.
#pragma once

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

// The real ones: MessageBoxW and the system's folder dialog (IFileOpenDialog).
class ModalDialogs : public Dialogs {
public:
    void ShowMessage(HWND owner, std::string_view title, std::string_view text,
                     std::string_view details) override;
    std::string ChooseFolder(HWND owner, std::string_view prompt,
                             std::string_view startAt) override;
};

}  // namespace lorvex::win32
