#include "dialogs.h"

#include <QMessageBox>

#include "modFolderBrowse.h"

namespace lorvex::ui {

std::unique_ptr<QMessageBox> NewMessageBox(QWidget* owner, const QString& title,
                                           const QString& text, const QString& details) {
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    box->setTextFormat(Qt::PlainText);  // names of archives are shown as they are
    if (!details.isEmpty()) {
        box->setDetailedText(details);  // scrolls, so a long list never grows the box
    }
    return box;
}

void ModalDialogs::ShowMessage(QWidget* owner, const QString& title, const QString& text,
                               const QString& details) {
    NewMessageBox(owner, title, text, details)->exec();
}

QString ModalDialogs::ChooseFolder(QWidget* owner, const QString& prompt, const QString& startAt) {
    return modFolderBrowse::BrowseFolder(owner, prompt, startAt);
}

}  // namespace lorvex::ui
