// The category drop-down: a scrolling popup of a limited height, as wide as its longest
// name within the screen, type-ahead by prefix as in a file manager's list (blanks
// included), and the chosen name whole in a tooltip over the closed box.
#pragma once

#include <QComboBox>
#include <QElapsedTimer>
#include <QString>

namespace lorvex::ui {

class CategoryComboBox : public QComboBox {
public:
    static constexpr int kVisibleRows = 20;
    // Keys typed within this time of each other make one prefix.
    static constexpr int kTypeAheadMilliseconds = 1000;

    explicit CategoryComboBox(QWidget* parent = nullptr);

    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void TypeAhead(const QString& typed);

    QString prefix_;
    QElapsedTimer sinceLastKey_;
};

}  // namespace lorvex::ui
