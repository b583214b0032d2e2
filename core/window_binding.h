// What every window of Form1 needs alike: the handler each button runs, and its seams and
// change listeners attached to Form1 for exactly as long as the window lives.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "form1.h"
#include "interfaces.h"

namespace lorvex {

// Runs the click handler of the button called `name`; false when no button has that name.
bool ClickButton(Form1& form, std::string_view name);

// The category list's tip: the chosen name whole (the closed list may cut it short) and
// the category list it comes from.
std::string CategoryTip(const Form1& form);

// What a window hands Form1: how it shows itself, its messages, its folder picker and its
// progress.
struct WindowSeams {
    WindowView* view;
    MessageSink* messages;
    FolderPicker* picker;
    PassProgress* progress;
};

// What a window does when a control's value changes in the core.
struct ControlListeners {
    std::function<void()> combo;
    std::function<void()> start;
    std::function<void()> endd;
    std::function<void()> options;  // either option button
};

// Attaches a window's seams and listeners to Form1, and detaches them all however the
// window ends, so that Form1 never calls into a window that is gone.
class WindowAttachment {
public:
    WindowAttachment(Form1& form, const WindowSeams& seams, ControlListeners listeners);
    WindowAttachment(const WindowAttachment&) = delete;
    WindowAttachment& operator=(const WindowAttachment&) = delete;
    ~WindowAttachment();

private:
    Form1& form_;
};

}  // namespace lorvex
