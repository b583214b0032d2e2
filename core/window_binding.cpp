#include "window_binding.h"

#include <array>
#include <initializer_list>
#include <utility>

namespace lorvex {
namespace {

constexpr std::array<std::pair<std::string_view, void (Form1::*)()>, 4> kButtonHandlers{{
    {"Command1", &Form1::Command1_Click},
    {"Command2", &Form1::Command2_Click},
    {"Command3", &Form1::Command3_Click},
    {"Command4", &Form1::Command4_Click},
}};

void Attach(Form1& form, const WindowSeams& seams) {
    form.SetWindowView(seams.view);
    form.SetMessageSink(seams.messages);
    form.SetFolderPicker(seams.picker);
    form.SetPassProgress(seams.progress);
}

}  // namespace

std::string CategoryTip(const Form1& form) {
    const std::string from = "Categories from " + form.CategoryListPath();
    const std::string chosen = form.Combo1.Text();
    return chosen.empty() ? from : chosen + "\n" + from;
}

bool ClickButton(Form1& form, std::string_view name) {
    for (const auto& [button, handler] : kButtonHandlers) {
        if (button == name) {
            (form.*handler)();
            return true;
        }
    }
    return false;
}

WindowAttachment::WindowAttachment(Form1& form, const WindowSeams& seams,
                                   ControlListeners listeners)
    : form_(form) {
    form_.Combo1.OnChange(std::move(listeners.combo));
    form_.Start.OnChange(std::move(listeners.start));
    form_.Endd.OnChange(std::move(listeners.endd));
    form_.Option1.OnChange(listeners.options);
    form_.Option2.OnChange(std::move(listeners.options));
    Attach(form_, seams);
}

WindowAttachment::~WindowAttachment() {
    Attach(form_, {nullptr, nullptr, nullptr, nullptr});
    for (Control* control : std::initializer_list<Control*>{
             &form_.Combo1, &form_.Option1, &form_.Option2, &form_.Start, &form_.Endd}) {
        control->OnChange(nullptr);
    }
}

}  // namespace lorvex
