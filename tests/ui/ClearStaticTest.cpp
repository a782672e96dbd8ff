#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QWindow>

#include "ClearStatic.h"
#include "DataExchange.h"
#include "Dialog.h"
#include "WaitFor.h"
#include "resource.h"

namespace {

constexpr int kLabelId = 2000;

// A picture with a transparent label over it, as a parent window would hold one.
class LabelOverPicture : public CDialogBase {
public:
    LabelOverPicture() : CDialogBase(Template()) {}
    ~LabelOverPicture() override { DestroyWindow(); }

    CClearStatic label;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kLabelId, label); }

private:
    static DialogTemplate Template() {
        DialogTemplate t;
        t.cx = 80;
        t.cy = 50;
        t.fontFace = QStringLiteral("宋体");
        t.pointSize = 10;
        ControlSpec picture;
        picture.kind = ControlKind::Picture;
        picture.cx = 66;
        picture.cy = 38;
        picture.resource = IDB_LOGO;
        ControlSpec text;
        text.id = kLabelId;
        text.kind = ControlKind::Static;
        text.x = 2;
        text.y = 8;
        text.cx = 60;
        text.cy = 20;
        t.controls = {picture, text};
        return t;
    }
};

// What the screen shows of the window: the backing store, not a fresh rendering, so that a
// stale pixel left by an earlier paint would show.
QImage OnScreen(QWidget& window, const QRect& area) {
    ServeEvents(10);
    QScreen* screen = window.windowHandle()->screen();
    return screen->grabWindow(window.winId())
        .toImage()
        .copy(area)
        .convertToFormat(QImage::Format_RGB32);
}

class ClearStaticTest : public ::testing::Test {
public:
    void SetUp() override {
        dlg.Create();
        ASSERT_TRUE(WaitFor([&] { return dlg.windowHandle() && dlg.windowHandle()->isExposed(); }));
    }
    QRect LabelArea() const { return dlg.GetDlgItem(kLabelId)->geometry(); }

    LabelOverPicture dlg;
};

TEST_F(ClearStaticTest, ShorterTextLeavesNoTraceOfTheLongerOne) {
    dlg.label.SetWindowText(QStringLiteral("WWWW MMMM WWWW MMMM"));
    const QImage withLong = OnScreen(dlg, LabelArea());
    dlg.label.SetWindowText(QStringLiteral("ab"));
    const QImage replaced = OnScreen(dlg, LabelArea());

    LabelOverPicture fresh;
    fresh.Create();
    ASSERT_TRUE(WaitFor([&] { return fresh.windowHandle()->isExposed(); }));
    fresh.label.SetWindowText(QStringLiteral("ab"));
    const QImage onlyShort = OnScreen(fresh, LabelArea());

    EXPECT_NE(withLong, onlyShort) << "the long text was never drawn";
    EXPECT_EQ(replaced, onlyShort);
}

TEST_F(ClearStaticTest, TextIsDrawnWithoutBackgroundAndEmptyTextDrawsNothing) {
    dlg.GetDlgItem(kLabelId)->hide();
    const QImage pictureAlone = OnScreen(dlg, LabelArea());
    dlg.GetDlgItem(kLabelId)->show();

    dlg.label.SetWindowText(QString());
    EXPECT_EQ(OnScreen(dlg, LabelArea()), pictureAlone);

    // With text, only letter pixels differ from the picture: the picture shows around them.
    dlg.label.SetWindowText(QStringLiteral("ab"));
    const QImage withText = OnScreen(dlg, LabelArea());
    int changed = 0;
    for (int y = 0; y < withText.height(); ++y) {
        for (int x = 0; x < withText.width(); ++x)
            changed += withText.pixel(x, y) != pictureAlone.pixel(x, y);
    }
    EXPECT_GT(changed, 10);
    EXPECT_LT(changed, withText.width() * withText.height() / 4);
}

}  // namespace
