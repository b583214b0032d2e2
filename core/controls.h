// Models of the window's controls. They hold the values the core reads and writes; a
// window binding mirrors them on screen and listens for their changes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lorvex {

class Control {
public:
    // One listener, the window binding; it reads the new values itself.
    void OnChange(std::function<void()> listener) { listener_ = std::move(listener); }

protected:
    void Changed() const {
        if (listener_) {
            listener_();
        }
    }

private:
    std::function<void()> listener_;
};

// A drop-down list: items in the order they were added, at most one chosen, no free text.
class ComboBox : public Control {
public:
    void Clear();
    void AddItem(std::string item);
    const std::string& List(int index) const;
    int ListCount() const { return static_cast<int>(items_.size()); }
    int ListIndex() const { return listIndex_; }
    // Chooses item `index`; -1 chooses none. Throws std::out_of_range for other values.
    void SetListIndex(int index);
    // The chosen item's text, "" when none is chosen.
    std::string Text() const;
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    // Grows whenever the items change, so a binding can tell when to copy them again.
    std::uint64_t ItemsRevision() const { return itemsRevision_; }
    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
    int listIndex_ = -1;
    bool visible_ = true;
    std::uint64_t itemsRevision_ = 0;
};

class TextBox : public Control {
public:
    const std::string& Text() const { return text_; }
    void SetText(std::string text);

private:
    std::string text_;
};

// An option button of a group of two: selecting one clears the other, and the button
// that becomes selected runs its click handler, whether a user or the code selected it.
class OptionButton : public Control {
public:
    bool Value() const { return value_; }
    void SetValue(bool value);
    void SetClickHandler(std::function<void()> handler) { click_ = std::move(handler); }
    void GroupWith(OptionButton& other) {
        peer_ = &other;
        other.peer_ = this;
    }

private:
    bool value_ = false;
    OptionButton* peer_ = nullptr;
    std::function<void()> click_;
};

}  // namespace lorvex
