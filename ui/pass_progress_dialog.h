// Progress of a long move: after a short while a modal dialog shows how many archives
// of how many have been moved and offers Cancel, and the window repaints meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

#include "interfaces.h"

class QProgressDialog;
class QWidget;

namespace lorvex::ui {

class PassProgressDialog : public PassProgress {
public:
    explicit PassProgressDialog(QWidget* owner,
                                std::chrono::milliseconds delay = std::chrono::milliseconds(500));
    ~PassProgressDialog() override;

    void SetDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    // Starts timing a new pass; the dialog of an earlier pass is closed.
    void PassBegins() override;
    bool ShowsTotal() const override { return true; }
    bool ContinuePass(const PassStatus& status) override;
    void PassEnds() override;

private:
    static QString LabelText(std::int64_t done, const PassStatus& status);

    QWidget* owner_;
    std::chrono::milliseconds delay_;
    QElapsedTimer elapsed_;
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace lorvex::ui
