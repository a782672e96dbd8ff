#include "InfoOptions.h"

#include <cstdio>
#include <cstring>

#include "TorvaVersion.h"

namespace {

const char kHelp[] = R"(NAME
    torva - console for a digital compass and attitude module on a serial line

SYNOPSIS
    torva [QT-OPTION...]
    torva --help
    torva --version

DESCRIPTION
    Opens one window that polls a compass module over a serial line ten times a second and
    shows its heading, pitch and roll in three large displays, together with the number of
    answers received per second. Buttons send the module its configuration commands (module
    address, baud rate, relative zero, automatic or on-request output, mounting, magnetic
    declination) and drive its magnetic calibration. Every frame sent and every byte
    received is shown as hexadecimal text in the Send and Received panes, and the received
    traffic can be recorded to numbered files.

    Choose the port and the speed, click OpenCom, then GO. Escape closes the window. Nothing
    is stored between runs: every run starts on Com1 at 9600 bit/s with module address 0.

OPTIONS
    -h, --help         show this text and end
    --version          show the version and end
    -platform NAME     Qt's platform plugin, for example xcb, wayland or offscreen
    -display DISPLAY   the X display to use (xcb platform)
    -style STYLE       Qt's widget style, for example Fusion

    The other options that every Qt program takes work as well.

PORTS
    Com1 to Com8       /dev/ttyUSB0 to /dev/ttyUSB7
    Com9 to Com12      /dev/ttyACM0 to /dev/ttyACM3
    Com13 to Com20     /dev/ttyS0 to /dev/ttyS7

    Opening a port needs read and write access to its device; on Debian that usually means
    membership of the dialout group. A port is opened exclusively: no second program can
    hold the same device.

ENVIRONMENT
    TORVA_COM1 to TORVA_COM20
                       the device for that port instead of the one above, for example a
                       /dev/serial/by-id/ link or the pseudo-terminal of torva-sim
    HOME               record files go to $HOME/COMDATA unless another folder is chosen
    QT_QPA_PLATFORM    Qt's platform plugin, as -platform

FILES
    $HOME/COMDATA/Rec00.txt to Rec99.txt
                       record files: a line with the start date and time, the received
                       frames as lines of hexadecimal bytes, and a line with the end date
                       and time when recording is stopped. Each recording takes the first
                       free number.

EXIT STATUS
    0   the window was closed, or --help or --version was shown
    Without a display for its platform plugin Qt ends the program at once with a message
    on standard error that says why.

EXAMPLES
    torva
    TORVA_COM1=/dev/ttyACM0 torva
    torva-sim --run torva

SEE ALSO
    torva-sim(1), torva-read(1), torva-decode(1)
)";

}  // namespace

std::optional<int> AnswerInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            PrintTorvaVersion("torva");
            return 0;
        }
    }
    return std::nullopt;
}
