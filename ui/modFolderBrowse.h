// The folder picker: a modal chooser that accepts only directories.
#pragma once

#include <QString>

class QWidget;

namespace lorvex::modFolderBrowse {

// Shows the chooser owned by `owner` with `prompt`, opened at `startAt` when that is an
// existing directory and at the root of the file system otherwise; returns the chosen
// directory's full path, or "" on cancel.
QString BrowseFolder(QWidget* owner, const QString& prompt, const QString& startAt);

}  // namespace lorvex::modFolderBrowse
