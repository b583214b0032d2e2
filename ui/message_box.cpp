#include "message_box.h"

#include <QMessageBox>

namespace lorvex::ui {

void ShowMessageBox(QWidget* owner, std::string_view title, std::string_view text) {
    QMessageBox box(
        QMessageBox::NoIcon, QString::fromUtf8(title.data(), static_cast<int>(title.size())),
        QString::fromUtf8(text.data(), static_cast<int>(text.size())), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);  // names of archives are shown as they are
    box.exec();
}

}  // namespace lorvex::ui
