#include "dialogs.h"

#include <QMessageBox>

#include "modFolderBrowse.h"

namespace lorvex::ui {

void ModalDialogs::ShowMessage(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);  // names of archives are shown as they are
    box.exec();
}

QString ModalDialogs::ChooseFolder(QWidget* owner, const QString& prompt, const QString& startAt) {
    return modFolderBrowse::BrowseFolder(owner, prompt, startAt);
}

}  // namespace lorvex::ui
