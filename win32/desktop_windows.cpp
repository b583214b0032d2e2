#include "desktop_windows.h"

#include "desktop.h"

#include <string>
#include <vector>

#include "console_output.h"
#include "platform.h"
#include "platform_windows.h"

namespace lorvex::desktop {

// A Windows program always runs on a desktop that a person sees.
bool PersonCanSeeDisplay() { return true; }

void ShowStandaloneMessage(std::string_view title, std::string_view text,
                           std::string_view details) {
    std::string shown(text);
    if (!details.empty()) {
        shown +=
            "\n\nEvery archive that could not be moved is named when lorvex.com runs the"
            " same command at a prompt.";
    }
    ::MessageBoxW(nullptr, platform::Widen(shown).c_str(), platform::Widen(title).c_str(),
                  MB_OK | MB_SETFOREGROUND);
}

int RunWindow(const std::string&) {
    ShowStandaloneMessage("lorvex",
                          "The lorvex window is not part of this build yet.\n\n"
                          "Sort from a command prompt instead:\n"
                          "lorvex -c category -e searchdir -d destdir -[s|f]");
    return mainmod::kExitNotRun;
}

}  // namespace lorvex::desktop
