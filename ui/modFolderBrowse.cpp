#include "modFolderBrowse.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>

namespace lorvex::modFolderBrowse {
namespace {

QString RealFolderDialog(QWidget* owner, const QString& prompt, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, prompt, start, QFileDialog::ShowDirsOnly);
}

FolderDialog& CurrentDialog() {
    static FolderDialog dialog = RealFolderDialog;
    return dialog;
}

}  // namespace

std::string BrowseFolder(QWidget* owner, std::string_view prompt) {
    const QString chosen = CurrentDialog()(
        owner, QString::fromUtf8(prompt.data(), static_cast<int>(prompt.size())), QDir::rootPath());
    // Paths go back to the core as the file system's own bytes.
    return chosen.isEmpty() ? std::string() : QFile::encodeName(chosen).toStdString();
}

void SetFolderDialog(FolderDialog dialog) {
    CurrentDialog() = dialog ? std::move(dialog) : FolderDialog(RealFolderDialog);
}

}  // namespace lorvex::modFolderBrowse
