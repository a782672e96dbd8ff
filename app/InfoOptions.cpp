#include "InfoOptions.h"

#include <cstdio>
#include <cstdlib>
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

    Choose the port and the speed, click OpenCom, then GO. Escape closes the window; Enter
    does nothing. Nothing is stored between runs: every run starts on Com1 at 9600 bit/s
    with module address 0.

    The live plot (Ctrl+L, or Live plot in the context menu of the window's background)
    shows heading, pitch and roll of the last 10 s, 1 min or 10 min as three charts, with
    the statistics of the span on view beside them. Readings are kept from the start,
    whether or not the plot is open: the last 10 minutes, at most 600000 of them. Export
    CSV and Export PNG write the span on view into the record folder.

    In the port list the entries whose device is there now are in bold green, and each
    entry's tooltip describes its device. "Ports..." in the context menu lists every serial
    device of the machine (its links, maker, product, USB id, serial number, whether it is
    free, busy or not permitted, and the Com entries that name it) and maps one to a Com
    entry for this run. With "Reopen when the adapter returns" checked in the same menu, a
    device that goes away while open is waited for with polling and recording left on, and
    the same adapter (the same USB serial number, else the same link, else the same path)
    is opened again at the same speed when it comes back; another adapter is never opened.

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

    A choice made in the Ports window comes before TORVA_COM<n>, for the run only.
    Opening a port needs read and write access to its device; on Debian that usually means
    membership of the dialout group. A port is opened exclusively: no second program can
    hold the same device.

ENVIRONMENT
    TORVA_COM1 to TORVA_COM20
                       the device for that port instead of the one above, for example a
                       /dev/serial/by-id/ link or the pseudo-terminal of torva-sim
    HOME               record files go to $HOME/COMDATA unless another folder is chosen
    DISPLAY, WAYLAND_DISPLAY
                       the display the window opens on
    QT_QPA_PLATFORM    Qt's platform plugin, as -platform

FILES
    $HOME/COMDATA/Rec00.txt to Rec99.txt
                       record files: a line with the start date and time, the received
                       frames as lines of hexadecimal bytes, and a line with the end date
                       and time when recording is stopped. Each recording takes the first
                       free number.
    $HOME/COMDATA/Plot-YYYYMMDD-HHMMSS.csv, .png
                       the live plot's exports: the readings on view as CSV (time,
                       pitch, roll, heading) or the charts as an image. A name already
                       taken moves on to Plot-YYYYMMDD-HHMMSS-2.csv and so on.

    Record and export files are created new, never over an existing file and never
    through a link. An export the disk could not take whole is removed, and the window
    says why.

SIGNALS
    SIGTERM, SIGINT and SIGHUP close the window as Escape does: a recording still on gets
    its last lines and its end line. A signal ignored when the program started stays
    ignored.

EXIT STATUS
    0       the window was closed, or --help or --version was shown
    1       no window could be opened (no display, or the display cannot be reached), or
            the X server went away while it ran; a recording still on is completed
            first
    128+N   the window was closed by signal N: 143 for SIGTERM, 130 for SIGINT, 129 for
            SIGHUP

EXAMPLES
    torva
    TORVA_COM1=/dev/ttyACM0 torva
    torva-sim --run torva

SEE ALSO
    torva-sim(1), torva-read(1), torva-decode(1)
)";

}  // namespace

std::string MissingDisplay(int argc, char** argv) {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY"))
        return {};
    for (int i = 1; i < argc; ++i) {
        // Qt takes its options with one dash or two.
        const char* arg = argv[i][0] == '-' && argv[i][1] == '-' ? argv[i] + 1 : argv[i];
        if (std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "-display") == 0)
            return {};
    }
    return "no display to open the window on: DISPLAY and WAYLAND_DISPLAY are not set. Start "
           "it in a graphical session, or name a display with -display or a platform with "
           "-platform.";
}

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
