#include "modFolderBrowse.h"

#include <QDir>
#include <QFileDialog>

#include "encoding.h"
#include "folder_picker_start.h"

namespace lorvex::modFolderBrowse {

QString BrowseFolder(QWidget* owner, const QString& prompt, const QString& startAt) {
    const QString nearest = ui::FromUtf8(FolderPickerStart(ui::ToUtf8(startAt)));
    const QString start = nearest.isEmpty() ? QDir::rootPath() : nearest;
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
