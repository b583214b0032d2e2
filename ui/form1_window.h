// The window of Form1: Qt widgets that mirror the core's control values both ways and
// call its handlers.
#pragma once

#include <QIcon>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "form1.h"
#include "message_box.h"
#include "pass_progress_dialog.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace lorvex::ui {

class Form1Window : public QWidget, public WindowView, public FolderPicker {
public:
    explicit Form1Window(Form1& form, QWidget* parent = nullptr);
    ~Form1Window() override;

    // The program's icon, a small application window, in several sizes.
    static QIcon ProgramIcon();

    // Runs the load handler; returns the error that stopped it, if any.
    std::optional<std::string> Load();

    void Show() override { show(); }
    void Refresh() override { repaint(); }
    std::string BrowseFolder(std::string_view prompt) override;

    PassProgressDialog& Progress() { return progress_; }

private:
    void CreateControls();
    void ConnectControls();
    void MirrorCore();
    void MirrorField(QLineEdit* field, const TextBox& model);
    void MirrorOptions();
    void MirrorCombo();
    // Runs a handler; an error is shown in a box and the window stays usable.
    void RunHandler(const std::function<void()>& handler);
    void MoveWithProgress();

    Form1& form_;
    MessageBoxes messages_{this};
    PassProgressDialog progress_{this};
    std::uint64_t mirroredItems_ = ~std::uint64_t{0};

    QComboBox* combo1_ = nullptr;
    QLineEdit* start_ = nullptr;
    QLineEdit* endd_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command4_ = nullptr;
    QGroupBox* frame1_ = nullptr;
    QRadioButton* option1_ = nullptr;
    QRadioButton* option2_ = nullptr;
};

}  // namespace lorvex::ui
