#include "pass_progress_dialog.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace lorvex::ui {
namespace {

// Centred on the owner's window and moved back onto its screen where that would leave
// part of it off-screen; a dialog placed by the window manager alone sometimes opened in
// the screen's corner, its title bar out of reach.
void PlaceOver(QWidget* dialog, const QWidget* owner) {
    dialog->adjustSize();
    const QScreen* screen = owner ? owner->screen() : dialog->screen();
    const QRect room = screen->availableGeometry();
    const QRect around = owner ? owner->frameGeometry() : room;
    QRect placed(QPoint(0, 0), dialog->frameGeometry().size());
    placed.moveCenter(around.center());
    placed.moveLeft(std::clamp(placed.left(), room.left(),
                               std::max(room.left(), room.right() - placed.width() + 1)));
    placed.moveTop(std::clamp(placed.top(), room.top(),
                              std::max(room.top(), room.bottom() - placed.height() + 1)));
    dialog->move(placed.topLeft());
}

}  // namespace

PassProgressDialog::PassProgressDialog(QWidget* owner, std::chrono::milliseconds delay)
    : owner_(owner), delay_(delay) {}

PassProgressDialog::~PassProgressDialog() = default;

void PassProgressDialog::PassBegins() {
    dialog_.reset();
    delay_.Restart();
}

void PassProgressDialog::PassEnds() { dialog_.reset(); }

bool PassProgressDialog::ContinuePass(const PassStatus& status) {
    if (!dialog_) {
        if (!delay_.Over()) {
            return true;  // short passes finish without a dialog
        }
        dialog_ = std::make_unique<QProgressDialog>(owner_);
        dialog_->setWindowTitle(QStringLiteral("lorvex"));
        dialog_->setWindowModality(Qt::ApplicationModal);  // no other input reaches the window
        dialog_->setRange(0, static_cast<int>(std::min<std::int64_t>(status.total, INT_MAX)));
        dialog_->setMinimumDuration(0);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
        // Sized for the widest label of the pass, so that it never grows off the screen.
        // The label while the search folder is listed may be the wider one (a pass lists
        // at most 64 names per name of the map).
        const std::string counting =
            ProgressLabel({status.total, status.total, status.total, 0, {}});
        const std::string listing =
            ProgressLabel({0, status.total, 0, 0, {}, true, status.total * 64});
        dialog_->setLabelText(
            QString::fromStdString(listing.size() > counting.size() ? listing : counting));
        PlaceOver(dialog_.get(), owner_);
        dialog_->show();
        PlaceOver(dialog_.get(), owner_);  // again, now that the frame's size is known
    }
    dialog_->setValue(static_cast<int>(std::min<std::int64_t>(status.checked, INT_MAX)));
    dialog_->setLabelText(QString::fromStdString(ProgressLabel(status)));
    QCoreApplication::processEvents();
    return !dialog_->wasCanceled();
}

}  // namespace lorvex::ui
