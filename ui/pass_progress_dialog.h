// Progress of a long move: after a short while a modal dialog shows how many archives
// of how many names have been checked, and how many moved, and offers Cancel, and the window
// repaints meanwhile.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

#include "interfaces.h"
#include "progress_label.h"

class QProgressDialog;
class QWidget;

namespace lorvex::ui {

class PassProgressDialog : public PassProgress {
public:
    explicit PassProgressDialog(QWidget* owner,
                                std::chrono::milliseconds delay = ProgressDelay::kQuietMilliseconds);
    ~PassProgressDialog() override;

    void SetDelay(std::chrono::milliseconds delay) { delay_.SetDelay(delay); }
    // Starts timing a new pass; the dialog of an earlier pass is closed.
    void PassBegins() override;
    bool ContinuePass(const PassStatus& status) override;
    void PassEnds() override;

private:
    QWidget* owner_;
    ProgressDelay delay_;
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace lorvex::ui
