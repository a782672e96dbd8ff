#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <cmath>
#include <vector>

// A dialog template: the controls of a dialog with their positions in dialog units, as the
// window is built from it.

enum class ControlKind {
    Button,
    Edit,      // single line, or multi-line with Style::Multiline
    Static,    // text label
    Icon,      // static showing an icon resource
    Picture,   // static showing a bitmap resource at its own pixel size
    ComboBox,  // drop-down list with an edit field
    GroupBox,
};

namespace Style {
constexpr unsigned Disabled = 1u << 0;
constexpr unsigned Multiline = 1u << 1;
constexpr unsigned Number = 1u << 2;  // edit accepts digits only
constexpr unsigned VScroll = 1u << 3;
constexpr unsigned HScroll = 1u << 4;
constexpr unsigned CenterImage = 1u << 5;  // static: single line, vertically centred
constexpr unsigned Center = 1u << 6;       // static or group box caption: centred horizontally
// A static drawn over a picture. The template records it; the main window's colour handler
// gives these labels their background, so the toolkit needs nothing more from it.
constexpr unsigned Transparent = 1u << 7;
constexpr unsigned DefaultButton =
    1u << 8;  // the button Enter presses (dialogs other than the main one)
}  // namespace Style

// Command ids of the buttons that end a dialog when no handler of its own is bound.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// One control of a dialog template: position and size in dialog units.
struct ControlSpec {
    int id = -1;
    ControlKind kind = ControlKind::Static;
    QString caption;
    QStringList items;  // initial list contents of a combo box
    int x = 0, y = 0, cx = 0, cy = 0;
    unsigned style = 0;
    int resource = 0;  // icon or bitmap resource id for Icon and Picture
    QString name;      // accessible name where the caption does not name the control
};

struct DialogTemplate {
    QString caption;
    int cx = 0, cy = 0;  // client size in dialog units
    QString fontFace;
    int pointSize = 9;
    bool minimizeBox = true;
    std::vector<ControlSpec> controls;
};

// Dialog units to pixels with the template font's base units: x * baseX / 4, y * baseY / 8.
struct DialogUnits {
    int baseX = 7;
    int baseY = 14;
    QRect ToPixels(int x, int y, int cx, int cy) const {
        const auto scale = [](int v, int base, int div) {
            return static_cast<int>(std::lround(static_cast<double>(v) * base / div));
        };
        return QRect(scale(x, baseX, 4), scale(y, baseY, 8), scale(cx, baseX, 4),
                     scale(cy, baseY, 8));
    }
};
