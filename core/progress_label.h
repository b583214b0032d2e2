// What every progress display of a pass shows, and when it starts showing it.
#pragma once

#include <chrono>
#include <string>

#include "interfaces.h"

namespace lorvex {

// "4353 of 13066 names checked, 4100 moved"
std::string ProgressLabel(const PassStatus& status);

// The terminal's line of progress: the label, the time left once the pace is known, and as
// much of the archive's file name as fits in `columns` (the line never wraps, so that each
// redraw covers the last). On a narrow terminal the name is cut short, then left out, then
// the time left, then words of the label; a number is never cut.
std::string ProgressLine(const PassStatus& status, std::chrono::steady_clock::duration elapsed,
                         int columns);

// Keeps a pass's progress out of sight for its first half second, so that a short pass
// shows none; a test may start it at once.
class ProgressDelay {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kQuietMilliseconds{500};
    static constexpr Clock::duration kQuietStart = kQuietMilliseconds;

    explicit ProgressDelay(Clock::duration delay = kQuietStart) : delay_(delay) {}
    void SetDelay(Clock::duration delay) { delay_ = delay; }
    void Restart(Clock::time_point now = Clock::now()) { began_ = now; }
    bool Over(Clock::time_point now = Clock::now()) const { return now - began_ >= delay_; }
    Clock::time_point Began() const { return began_; }

private:
    Clock::duration delay_;
    Clock::time_point began_{};
};

}  // namespace lorvex
