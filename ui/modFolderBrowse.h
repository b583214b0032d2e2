// The folder picker: a modal chooser that starts at the root of the file system and
// accepts only directories.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace lorvex::modFolderBrowse {

// Shows the chooser owned by `owner` with `prompt`; returns the chosen directory's full
// path, or "" on cancel.
std::string BrowseFolder(QWidget* owner, std::string_view prompt);

// The dialog behind BrowseFolder: (owner, prompt, start directory) -> path or "".
using FolderDialog = std::function<QString(QWidget*, const QString&, const QString&)>;

// Replaces the dialog (tests answer here instead of opening a real one); an empty
// function restores the real dialog.
void SetFolderDialog(FolderDialog dialog);

}  // namespace lorvex::modFolderBrowse
