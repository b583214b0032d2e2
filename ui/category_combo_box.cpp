#include "category_combo_box.h"

#include <QFrame>
#include <QKeyEvent>
#include <QListView>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

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

// The popup as wide as the longest name, so that names alike at the start can be told
// apart, but never wider than the screen nor narrower than the box.
void CategoryComboBox::showPopup() {
    const int frame = 2 * view()->frameWidth() + view()->verticalScrollBar()->sizeHint().width();
    const int wanted = view()->sizeHintForColumn(0) + frame;
    // The popup frames the list: a list as wide as the screen leaves room for that.
    const auto* popup = qobject_cast<const QFrame*>(view()->parentWidget());
    const int room = screen()->availableGeometry().width() - (popup ? 2 * popup->frameWidth() : 0);
    view()->setMinimumWidth(std::max(width(), std::min(wanted, room)));
    QComboBox::showPopup();
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
