// The category drop-down: a scrolling popup of a limited height, as wide as its longest
// name within the screen, and type-ahead by prefix as in a file manager's list (blanks
// included). The window sets its tooltip.
#pragma once

#include <QComboBox>

#include <functional>

#include "type_ahead.h"

namespace lorvex::ui {

class CategoryComboBox : public QComboBox {
public:
    static constexpr int kVisibleRows = 20;
    using Clock = TypeAhead::Clock;

    explicit CategoryComboBox(QWidget* parent = nullptr);
    // The clock that times the keys; a test sets its own.
    void SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TypeAhead typeAhead_;
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
};

}  // namespace lorvex::ui
