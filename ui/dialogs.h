// Every dialog the window opens, behind one object, so that tests can answer them all
// without a real modal dialog on screen.
#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace lorvex::ui {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal lorvex box: a title, a text, one OK button and no icon. `details`, when not
    // empty, is shown on demand below the text.
    virtual void ShowMessage(QWidget* owner, const QString& title, const QString& text,
                             const QString& details) = 0;
    // The folder picker: the chosen directory's full path, or "" on cancel.
    virtual QString ChooseFolder(QWidget* owner, const QString& prompt, const QString& startAt) = 0;
};

// The box ModalDialogs shows, built but not shown, so that its size can be measured.
std::unique_ptr<QMessageBox> NewMessageBox(QWidget* owner, const QString& title,
                                           const QString& text, const QString& details);

// The real ones: QMessageBox and the folder picker of modFolderBrowse.
class ModalDialogs : public Dialogs {
public:
    void ShowMessage(QWidget* owner, const QString& title, const QString& text,
                     const QString& details) override;
    QString ChooseFolder(QWidget* owner, const QString& prompt, const QString& startAt) override;
};

}  // namespace lorvex::ui
