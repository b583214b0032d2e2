#include "desktop_windows.h"

#include "desktop.h"

#include <string>
#include <vector>

#include "console_output.h"
#include "dialogs.h"
#include "form1.h"
#include "form1_window.h"
#include "platform.h"
#include "platform_windows.h"
#include "win32_handles.h"

namespace lorvex::desktop {

// A Windows program always runs on a desktop that a person sees.
bool PersonCanSeeDisplay() { return true; }

// The window's own kind of box, without an owner: every failure behind "Show details".
void ShowStandaloneMessage(std::string_view title, std::string_view text,
                           std::string_view details) {
    win32::ModalDialogs().ShowMessage(nullptr, title, text, details);
}

int RunWindow(const std::string& programDirectory) {
    const win32::ComApartment com;  // for the folder dialog
    Form1 form(programDirectory);
    win32::ModalDialogs dialogs;
    win32::Form1Window window(form, dialogs);
    form.Show();
    form.Form_Load();  // a missing list shows its box over the window, which stays usable
    return window.RunUntilClosed();
}

}  // namespace lorvex::desktop
