#include "pass_progress_dialog.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace lorvex::ui {

PassProgressDialog::PassProgressDialog(QWidget* owner, std::chrono::milliseconds delay)
    : owner_(owner), delay_(delay) {}

PassProgressDialog::~PassProgressDialog() = default;

void PassProgressDialog::PassBegins() {
    dialog_.reset();
    elapsed_.start();
}

void PassProgressDialog::PassEnds() { dialog_.reset(); }

bool PassProgressDialog::ContinuePass(const PassStatus& status) {
    if (!dialog_) {
        if (elapsed_.elapsed() < delay_.count()) {
            return true;  // short passes finish without a dialog
        }
        dialog_ = std::make_unique<QProgressDialog>(owner_);
        dialog_->setWindowTitle(QStringLiteral("lorvex"));
        dialog_->setWindowModality(Qt::ApplicationModal);  // no other input reaches the window
        dialog_->setRange(0, 0);                           // the total is not known in advance
        dialog_->setMinimumDuration(0);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
        dialog_->show();
    }
    dialog_->setLabelText(
        QStringLiteral("Moving archives... %1 moved so far.").arg(status.movedCount));
    QCoreApplication::processEvents();
    return !dialog_->wasCanceled();
}

}  // namespace lorvex::ui
