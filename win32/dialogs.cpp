#include "dialogs.h"

#include <shobjidl.h>

#include "win32_handles.h"

namespace lorvex::win32 {
namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opens the dialog in `folder`; the dialog keeps its usual start if that fails.
void StartIn(IFileOpenDialog* dialog, const std::wstring& folder) {
    ComPtr<IShellItem> item;
    if (SUCCEEDED(::SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_IShellItem,
                                                item.ReceiveVoid()))) {
        dialog->SetFolder(item.get());
    }
}

}  // namespace

void ModalDialogs::ShowMessage(HWND owner, std::string_view title, std::string_view text,
                               std::string_view) {
    // The text is the summary, which names the first failures and counts the rest, so the
    // box always fits the screen; the whole list is what lorvex.com prints.
    ::MessageBoxW(owner, platform::Widen(text).c_str(), platform::Widen(title).c_str(),
                  MB_OK | MB_APPLMODAL);
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
    const std::wstring start = platform::Widen(startAt);
    if (!start.empty() && IsFolder(start)) {
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
