#pragma once

#include <functional>

class ModuleSession;

// Application object: sets the dialog colours and runs the one window modally.
class CMainApp {
public:
    // Runs the whole program; returns false so that no further message loop runs. `running`
    // hears of the window's session when the window is up, and of nullptr once it is gone.
    bool InitInstance(const std::function<void(ModuleSession*)>& running = {});
    // The signal (SIGTERM, SIGINT, SIGHUP) that closed the window; 0 when the operator did.
    int ClosingSignal() const { return m_nClosingSignal; }

private:
    int m_nClosingSignal = 0;
};
