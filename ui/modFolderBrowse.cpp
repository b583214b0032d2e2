#include "modFolderBrowse.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace lorvex::modFolderBrowse {

QString BrowseFolder(QWidget* owner, const QString& prompt, const QString& startAt) {
    const QString start = QFileInfo(startAt).isDir() ? startAt : QDir::rootPath();
    return QFileDialog::getExistingDirectory(owner, prompt, start, QFileDialog::ShowDirsOnly);
}

}  // namespace lorvex::modFolderBrowse
