// Progress of a long move in the Win32 window: after a short while a small window over
// the main one shows how many names of how many are checked on a bar and offers Cancel. The main
// window is disabled meanwhile and kept painted, as messages are pumped between archives.
#pragma once

#include <chrono>
#include <cstdint>

#include "interfaces.h"
#include "platform_windows.h"
#include "progress_label.h"
#include "win32_handles.h"

namespace lorvex::win32 {

class PassProgressWindow : public PassProgress {
public:
    explicit PassProgressWindow(
        HWND owner, std::chrono::milliseconds delay = ProgressDelay::kQuietMilliseconds);
    PassProgressWindow(const PassProgressWindow&) = delete;
    PassProgressWindow& operator=(const PassProgressWindow&) = delete;
    ~PassProgressWindow() override;

    void SetOwner(HWND owner) { owner_ = owner; }
    void SetDelay(std::chrono::milliseconds delay) { delay_.SetDelay(delay); }
    void PassBegins() override;
    bool ContinuePass(const PassStatus& status) override;
    void PassEnds() override;

    // The dialog while it shows, else null.
    HWND Handle() const { return dialog_; }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    void Open();
    void Close();
    void Update(const PassStatus& status);
    void PumpMessages();

    HWND owner_;
    ProgressDelay delay_;
    HWND dialog_ = nullptr;
    HWND label_ = nullptr;
    HWND bar_ = nullptr;
    UniqueFont font_;
    bool cancelled_ = false;
};

}  // namespace lorvex::win32
