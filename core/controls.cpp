#include "controls.h"

#include <stdexcept>

namespace lorvex {

void ComboBox::Clear() {
    items_.clear();
    listIndex_ = -1;
    ++itemsRevision_;
    Changed();
}

void ComboBox::AddItem(std::string item) {
    items_.push_back(std::move(item));
    ++itemsRevision_;
    Changed();
}

const std::string& ComboBox::List(int index) const {
    return items_.at(static_cast<std::size_t>(index));
}

void ComboBox::SetListIndex(int index) {
    if (index < -1 || index >= ListCount()) {
        throw std::out_of_range("no item " + std::to_string(index) + " in the list");
    }
    if (index != listIndex_) {
        listIndex_ = index;
        Changed();
    }
}

std::string ComboBox::Text() const { return listIndex_ < 0 ? std::string() : List(listIndex_); }

void ComboBox::SetVisible(bool visible) {
    if (visible != visible_) {
        visible_ = visible;
        Changed();
    }
}

void TextBox::SetText(std::string text) {
    if (text != text_) {
        text_ = std::move(text);
        Changed();
    }
}

void OptionButton::SetValue(bool value) {
    if (value == value_) {
        return;  // only a button that becomes selected raises its click
    }
    value_ = value;
    Changed();
    if (!value) {
        return;
    }
    if (peer_ && peer_->value_) {
        peer_->value_ = false;
        peer_->Changed();
    }
    if (click_) {
        click_();
    }
}

}  // namespace lorvex
