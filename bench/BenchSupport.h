#pragma once

#include <chrono>
#include <functional>

class CCompassDlg;

// What the window benchmarks share: the event loop served until a moment or a condition, a
// click on a button of the window, and this process's resident memory.
namespace bench {

using Clock = std::chrono::steady_clock;

// Serves events as the program's own loop would (sleeping between them) until `until`.
void RunEventsUntil(Clock::time_point until);
// Serves events until `done` holds, checking every `everyMs`; false at the deadline.
bool RunEventsUntil(const std::function<bool()>& done, Clock::time_point deadline, int everyMs);
// Clicks a button of the window; throws std::runtime_error when the id names none.
void Click(CCompassDlg& dlg, int id);
// Resident memory of this process in MB.
double ResidentMb();

}  // namespace bench
