#include "MainTemplate.h"

#include "LineRules.h"
#include "PortTable.h"
#include "resource.h"

namespace {

QStringList PortItems() {
    QStringList items;
    for (int n = kFirstPort; n <= kLastPort; ++n)
        items << QStringLiteral("Com%1").arg(n);
    return items;
}

QStringList BaudItems() {
    return LineSpeedNames();
}

using K = ControlKind;

ControlSpec Ctl(int id, K kind, const char* caption, int x, int y, int cx, int cy,
                unsigned style = 0, int resource = 0) {
    ControlSpec spec;
    spec.id = id;
    spec.kind = kind;
    spec.caption = QString::fromUtf8(caption);
    spec.x = x;
    spec.y = y;
    spec.cx = cx;
    spec.cy = cy;
    spec.style = style;
    spec.resource = resource;
    return spec;
}

ControlSpec Combo(int id, QStringList items, int x, int y, int cx, int cy) {
    ControlSpec spec = Ctl(id, K::ComboBox, "", x, y, cx, cy, Style::VScroll);
    spec.items = std::move(items);
    return spec;
}

// A control whose caption does not say what it is, with the name the label beside it gives.
ControlSpec Named(ControlSpec control, const char* name) {
    control.name = QString::fromUtf8(name);
    return control;
}

}  // namespace

DialogTemplate MainWindowTemplate() {
    using namespace Style;
    const unsigned reading = CenterImage;
    const unsigned onPicture = Transparent;
    DialogTemplate t;
    t.caption = QStringLiteral("MIRT QTX V1.8");
    t.cx = 441;
    t.cy = 436;
    t.fontFace = QStringLiteral("宋体");
    t.pointSize = 10;
    // Template order is also the tab order.
    t.controls = {
        Named(Combo(IDC_COMBO_PORT, PortItems(), 185, 30, 33, 156), "Com"),
        Named(Combo(IDC_COMBO_BAUD, BaudItems(), 325, 30, 36, 59), "BaudRate"),
        Ctl(IDC_STATIC_COM, K::Static, "Com", 167, 30, 13, 8),
        Ctl(IDC_STATIC_BAUDRATE, K::Static, "BaudRate", 291, 32, 33, 10),
        Named(Ctl(IDC_EDIT_NEW_ADDRESS, K::Edit, "", 74, 131, 23, 20, Number), "New address"),
        Ctl(IDC_STATIC_ADDRESS, K::Static, "Address", 224, 32, 30, 10),
        Ctl(-1, K::GroupBox, "", 14, 7, 405, 52),
        Ctl(IDC_BTN_OPENCOM, K::Button, "OpenCom", 122, 23, 40, 23),
        Ctl(IDC_BTN_SETZERO, K::Button, "SetZero", 34, 72, 39, 21),
        Ctl(IDC_BTN_CANCELZERO, K::Button, "CancelZer", 75, 72, 39, 21),
        Ctl(IDC_BTN_SETADDR, K::Button, "SetAddr.", 34, 130, 39, 21),
        Named(
            Ctl(IDC_EDIT_RECEIVED, K::Edit, "", 254, 308, 174, 103, Multiline | VScroll | HScroll),
            "Received"),
        Ctl(IDC_BTN_RECORD, K::Button, "Save", 34, 101, 39, 21),
        Ctl(-1, K::Static, "Received", 255, 292, 34, 11),
        Named(Ctl(IDC_EDIT_RATE, K::Edit, "", 394, 291, 33, 15, Disabled), "Frame rate"),
        Named(Ctl(IDC_EDIT_SEND, K::Edit, "", 145, 310, 105, 103, Disabled | Multiline | VScroll),
              "Send"),
        Ctl(-1, K::Static, "Send", 147, 295, 19, 10),
        Named(Combo(IDC_COMBO_MODULE_BAUD, BaudItems(), 74, 163, 36, 78), "New baud rate"),
        Ctl(IDC_BTN_SET_BAUD, K::Button, "Set B.R.", 34, 159, 39, 21),
        Named(Ctl(IDC_EDIT_ADDRESS, K::Edit, "", 256, 31, 31, 12), "Address"),
        Named(Ctl(IDC_STATIC_PORT_STATE, K::Icon, "", 93, 22, 20, 20, 0, IDI_PORT_CLOSED),
              "Port state"),
        Ctl(-1, K::GroupBox, "", 14, 284, 419, 137),
        Ctl(IDC_BTN_AUTOOUT, K::Button, "AutoOut", 34, 188, 39, 21),
        Ctl(IDC_BTN_CATECHISM, K::Button, "Catechism", 75, 187, 39, 21),
        Ctl(IDC_BTN_CLEAR_SEND, K::Button, "Clear", 169, 291, 38, 15),
        Ctl(IDC_BTN_CLEAR_RECEIVED, K::Button, "Clear", 292, 290, 38, 15),
        Ctl(-1, K::Picture, "", 153, 64, 269, 211, 0, IDB_BACKDROP),
        Named(Ctl(IDC_STATIC_ROLL, K::Static, "+0.00", 215, 211, 204, 62, reading), "Roll:"),
        Named(Ctl(IDC_STATIC_PITCH, K::Static, "+0.00", 215, 144, 204, 66, reading), "Pitch:"),
        Named(Ctl(-1, K::Picture, "", 18, 15, 66, 38, 0, IDB_LOGO), "Logo"),
        Named(Ctl(IDC_STATIC_HEADING, K::Static, "0.0", 214, 73, 204, 67, reading), "Head:"),
        Ctl(IDC_BTN_CAL_START, K::Button, "Start", 55, 290, 39, 14),
        Ctl(IDC_BTN_MMODE, K::Button, "M-mode", 16, 307, 33, 14),
        Ctl(IDC_STATIC_SAMPLE_LABEL, K::Static, "Sample", 22, 328, 31, 12, onPicture),
        Named(Ctl(IDC_STATIC_X, K::Static, "X:100%", 102, 350, 34, 12, onPicture), "Result X"),
        Named(Ctl(IDC_STATIC_Y, K::Static, "Y:100%", 102, 373, 34, 12, onPicture), "Result Y"),
        Named(Ctl(IDC_STATIC_Z, K::Static, "Z:100%", 102, 399, 34, 12, onPicture), "Result Z"),
        Ctl(IDC_STATIC_RESULT, K::Static, "Result", 103, 330, 27, 12, onPicture),
        Named(Ctl(IDC_STATIC_SAMPLES, K::Static, "0", 29, 345, 60, 62,
                  Center | CenterImage | onPicture),
              "Sample count"),
        Ctl(IDC_STATIC_CALIBRATION, K::Static, "Calibration", 15, 273, 63, 12),
        Ctl(IDC_BTN_GOSTOP, K::Button, "GO", 159, 66, 42, 23),
        Ctl(IDC_BTN_CAL_SAVE, K::Button, "Save", 101, 308, 37, 14),
        Ctl(-1, K::Picture, "", 17, 326, 121, 88, 0, IDB_CALIBRATION),
        Ctl(IDC_BTN_BROWSE, K::Button, "...", 75, 101, 14, 20),
        Ctl(IDC_STATIC_HEAD_LABEL, K::Static, "Head:", 159, 90, 52, 50, reading),
        Ctl(IDC_STATIC_PITCH_LABEL, K::Static, "Pitch:", 160, 144, 52, 66, reading),
        Named(Ctl(IDC_STATIC_ROLL_LABEL, K::Static, "Roll  : ", 159, 212, 52, 62, reading),
              "Roll:"),
        Ctl(IDC_BTN_HORIZON, K::Button, "Horizon", 34, 217, 39, 21),
        Ctl(IDC_BTN_VERTICAL, K::Button, "Vertical", 75, 217, 39, 21),
        Named(Ctl(IDC_EDIT_DECLINATION, K::Edit, "", 74, 245, 24, 21), "Declination"),
        Ctl(IDC_BTN_SETMAG, K::Button, "Set Mag.", 34, 246, 39, 21),
        Ctl(IDC_BTN_MANUAL, K::Button, "Manual", 55, 306, 38, 16),
        Ctl(IDC_BTN_AMODE, K::Button, "A-mode", 15, 290, 34, 14),
        Ctl(IDC_BTN_CAL_STOP, K::Button, "Stop", 101, 290, 37, 16),
        Ctl(-1, K::GroupBox, "SET", 13, 61, 129, 212, Center),
    };
    return t;
}
