// What start-up needs of a desktop: a window, a message box outside any window, and
// whether a person can see either. One implementation per window toolkit, chosen by the
// build as the platform files are.
#pragma once

#include <string>
#include <string_view>

namespace lorvex::desktop {

// True when a window or a box would appear where a person can see it and close it.
bool PersonCanSeeDisplay();

// Shows Form1, with the data files of `programDirectory`, and runs until the window is
// closed; returns the exit status. Throws LorvexError when the window cannot be started.
int RunWindow(const std::string& programDirectory);

// Shows one modal lorvex box outside any window; `details`, when not empty, on demand
// below the text.
void ShowStandaloneMessage(std::string_view title, std::string_view text,
                           std::string_view details = {});

}  // namespace lorvex::desktop
