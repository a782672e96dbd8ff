#pragma once

#include <string>

#include "ModuleFrames.h"
#include "WindowFixture.h"

// The window with the port open, plus short readers of what the operator sees.
class LiveWindow : public WindowTest {
public:
    void SetUp() override {
        WindowTest::SetUp();
        Open();
    }
    // The three reading displays as "pitch roll heading".
    std::string ShownReadings() {
        return (Text(IDC_STATIC_PITCH) + ' ' + Text(IDC_STATIC_ROLL) + ' ' +
                Text(IDC_STATIC_HEADING))
            .toStdString();
    }
    // Runs the 1 s tick and returns what the frame-rate box then shows.
    std::string RateTick() {
        dlg->DispatchTimer(IDT_RATE);
        return Text(IDC_EDIT_RATE).toStdString();
    }
    std::string SentHex() { return Hex(Sent()); }
    std::string Coverage() {
        return (Text(IDC_STATIC_X) + ' ' + Text(IDC_STATIC_Y) + ' ' + Text(IDC_STATIC_Z))
            .toStdString();
    }
};
