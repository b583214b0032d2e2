// The Qt window of Form1: widgets built from the core's control table, mirroring the
// core's control values both ways and calling its handlers.
#pragma once

#include <QIcon>
#include <QWidget>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "control_table.h"
#include "dialogs.h"
#include "form1.h"
#include "pass_progress_dialog.h"
#include "window_binding.h"

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace lorvex::ui {

class Form1Window : public QWidget, public WindowView, public FolderPicker, public MessageSink {
public:
    Form1Window(Form1& form, Dialogs& dialogs, QWidget* parent = nullptr);
    ~Form1Window() override;

    // The program's icon, a small application window, in several sizes.
    static QIcon ProgramIcon();

    void Show() override { show(); }
    void Refresh() override { repaint(); }
    std::string BrowseFolder(std::string_view prompt, std::string_view startAt) override;
    void ShowMessage(std::string_view title, std::string_view text) override;
    void ShowError(std::string_view title, std::string_view text) override;
    void ShowMoveReport(std::string_view title, const MoveReportText& report) override;

    PassProgressDialog& Progress() { return progress_; }

private:
    QWidget* CreateControl(const ControlLayout& layout);
    void CreateControls();
    void ConnectControls();
    void MirrorCore();
    void MirrorField(QLineEdit* field, const TextBox& model);
    void MirrorOptions();
    void MirrorCombo();
    template <class Widget>
    Widget* Find(std::string_view name) const;

    Form1& form_;
    Dialogs& dialogs_;
    PassProgressDialog progress_{this};
    std::uint64_t mirroredItems_ = ~std::uint64_t{0};
    std::map<std::string_view, QWidget*> controls_;  // by the core's control name

    QComboBox* combo1_ = nullptr;
    QLineEdit* start_ = nullptr;
    QLineEdit* endd_ = nullptr;
    QRadioButton* option1_ = nullptr;
    QRadioButton* option2_ = nullptr;
    std::optional<WindowAttachment> attachment_;  // gone before the widgets are
};

}  // namespace lorvex::ui
