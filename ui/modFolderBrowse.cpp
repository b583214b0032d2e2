#include "modFolderBrowse.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace lorvex::modFolderBrowse {

QString BrowseFolder(QWidget* owner, const QString& prompt, const QString& startAt) {
    const QString start = QFileInfo(startAt).isDir() ? startAt : QDir::rootPath();
    QFileDialog chooser(owner, prompt, start);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    // Qt's default size cuts off the "Date Modified" column.
    chooser.resize(800, 500);
    if (chooser.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser.selectedFiles().value(0);
}

}  // namespace lorvex::modFolderBrowse
