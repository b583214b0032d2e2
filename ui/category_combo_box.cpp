#include "category_combo_box.h"

#include <QKeyEvent>
#include <QListView>

#include "encoding.h"

namespace lorvex::ui {

CategoryComboBox::CategoryComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);  // only listed categories can be chosen
    // Styles such as Fusion open the popup over the whole list, ignoring the row limit,
    // unless the popup is a plain list view in the list style.
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    setView(new QListView(this));
    view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setMaxVisibleItems(kVisibleRows);
}

void CategoryComboBox::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const auto now = now_();
    const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    // A blank opens the popup, except in the middle of a typed name.
    if (printable && (typeAhead_.Continues(now) || event->key() != Qt::Key_Space)) {
        std::vector<std::string> items;
        items.reserve(static_cast<std::size_t>(count()));
        for (int i = 0; i < count(); ++i) {
            items.push_back(ToUtf8(itemText(i)));
        }
        if (const int found = typeAhead_.Type(ToUtf8(text), items, now); found >= 0) {
            setCurrentIndex(found);
        }
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

}  // namespace lorvex::ui
