#include "AboutDlg.h"

#include "resource.h"

DialogTemplate AboutBoxTemplate() {
    DialogTemplate t;
    t.caption = QStringLiteral("关于 TORVA");
    t.cx = 235;
    t.cy = 55;
    t.fontFace = QStringLiteral("宋体");
    t.pointSize = 9;
    t.minimizeBox = false;
    ControlSpec icon;
    icon.kind = ControlKind::Icon;
    icon.x = 11;
    icon.y = 17;
    icon.cx = 20;
    icon.cy = 20;
    icon.resource = IDR_MAINFRAME;
    icon.name = QStringLiteral("TORVA");
    ControlSpec text;
    text.kind = ControlKind::Static;
    text.caption = QStringLiteral("TORVA 1.0 版");  // shown as is: labels do no '&' processing
    text.x = 40;
    text.y = 10;
    text.cx = 119;
    text.cy = 8;
    ControlSpec ok;
    ok.id = IDOK;
    ok.kind = ControlKind::Button;
    ok.caption = QStringLiteral("确定");
    ok.x = 178;
    ok.y = 7;
    ok.cx = 50;
    ok.cy = 14;
    ok.style = Style::DefaultButton;
    t.controls = {icon, text, ok};
    return t;
}

CAboutDlg::CAboutDlg(QWidget* parent) : CDialogBase(AboutBoxTemplate(), parent) {}

CAboutDlg::~CAboutDlg() {
    DestroyWindow();
}
