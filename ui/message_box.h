// lorvex's message box: modal, a title, a text, a single OK button and no icon.
#pragma once

#include <string_view>

#include "interfaces.h"

class QWidget;

namespace lorvex::ui {

void ShowMessageBox(QWidget* owner, std::string_view title, std::string_view text);

// Shows the core's messages as boxes owned by a window (or none).
class MessageBoxes : public MessageSink {
public:
    explicit MessageBoxes(QWidget* owner) : owner_(owner) {}
    void ShowMessage(std::string_view title, std::string_view text) override {
        ShowMessageBox(owner_, title, text);
    }

private:
    QWidget* owner_;
};

}  // namespace lorvex::ui
