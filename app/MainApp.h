#pragma once

// Application object: sets the dialog colours and runs the one window modally.
class CMainApp {
public:
    // Runs the whole program; returns false so that no further message loop runs.
    bool InitInstance();
};
