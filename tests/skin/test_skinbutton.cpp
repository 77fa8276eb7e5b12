#include "skin/resource_lookup.h"
#include "skin/skinbutton.h"
#include "skin_test_util.h"

#include <QDialog>
#include <QIconEngine>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

using skintest::At;
using skintest::CountColor;
using skintest::Grab;
using skintest::InkBox;
using skintest::Settle;

namespace {

class ProbeButton : public CSkinButton
{
public:
    using CSkinButton::CSkinButton;
    using CSkinButton::m_bDefault;
    using CSkinButton::m_bHover;
    using CSkinButton::m_bLineColorBorder;
    using CSkinButton::m_bmpBack;
    using CSkinButton::m_bTransparent;
    using CSkinButton::m_bUnderlineBorder;
    using CSkinButton::m_crColors;
    using CSkinButton::m_Icons;
};

// A parent that paints one flat colour, like the dialog behind the buttons.
class Backdrop : public QWidget
{
public:
    COLORREF color = RGB(244, 249, 250);
    Backdrop() { resize(300, 120); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), ToQColor(color)); }
};

// An icon that can draw but has no size of its own.
class SizelessEngine : public QIconEngine
{
public:
    void paint(QPainter* p, const QRect& r, QIcon::Mode, QIcon::State) override { p->fillRect(r, Qt::red); }
    QIconEngine* clone() const override { return new SizelessEngine; }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {}; }
};

QIcon SolidIcon(int size, QColor color)
{
    QPixmap pm(size, size);
    pm.fill(color);
    return QIcon(pm);
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void ShowActive(QWidget* w)
{
    w->show();
    w->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(w));
    Settle();
}

// The main window's set-up of one button.
void ConfigureLikeMainWindow(CSkinButton& b)
{
    QFont f;
    f.setPixelSize(16);
    f.setBold(true);
    b.setFont(f);
    b.SetIcons(SolidIcon(20, QColor(255, 0, 0)));
    b.SetColor(BTNCLR_FG_HOT, RGB(255, 165, 0), true);
    b.SetColor(BTNCLR_FG_NORMAL, RGB(0, 0, 128), true);
    b.SetColor(BTNCLR_LINE, RGB(255, 165, 0), true);
    b.SetBorderStyle(true, true);
    b.SetTransparent(true);
}

} // namespace

TEST(SkinButton, ColourTableAndResultCodes)
{
    ProbeButton b;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    for (int i : {0, 2, 4})
        EXPECT_EQ(b.m_crColors[i], face);
    for (int i : {1, 3, 5})
        EXPECT_EQ(b.m_crColors[i], text);
    EXPECT_FALSE(b.m_bHover || b.m_bTransparent || b.m_bDefault || b.m_bUnderlineBorder ||
                 b.m_bLineColorBorder);

    EXPECT_EQ(b.SetColor(8, RGB(1, 2, 3), true), SKIN_ERR_INDEX);
    EXPECT_EQ(b.SetColor(255, RGB(1, 2, 3), true), 3);
    EXPECT_EQ(b.SetColor(BTNCLR_LINE_HOT, RGB(1, 2, 3), true), SKIN_OK);
    EXPECT_EQ(b.SetColor(BTNCLR_LINE, RGB(4, 5, 6), false), SKIN_OK);
    EXPECT_EQ(b.SetColor(BTNCLR_BK_HOT, RGB(7, 8, 9), false), SKIN_OK);
    EXPECT_EQ(b.ResetColors(false), SKIN_OK);
    EXPECT_EQ(b.m_crColors[BTNCLR_BK_HOT], face);
    EXPECT_EQ(b.m_crColors[BTNCLR_LINE], RGB(4, 5, 6));
    EXPECT_EQ(b.m_crColors[BTNCLR_LINE_HOT], RGB(1, 2, 3));
}

TEST(SkinButton, IconsFillBothSlotsOrNone)
{
    ProbeButton b;
    EXPECT_EQ(b.SetIcons(SolidIcon(20, Qt::red), SolidIcon(16, Qt::blue)), SKIN_OK);
    EXPECT_EQ(b.m_Icons[0].nWidth, 20);
    EXPECT_EQ(b.m_Icons[1].nHeight, 16);

    // A null in-icon clears both and does not take the out-icon over.
    EXPECT_EQ(b.SetIcons(QIcon(), SolidIcon(16, Qt::blue)), SKIN_OK);
    EXPECT_TRUE(b.m_Icons[0].hIcon.isNull());
    EXPECT_TRUE(b.m_Icons[1].hIcon.isNull());

    // An out-icon without information releases the in-icon as well.
    EXPECT_EQ(b.SetIcons(SolidIcon(20, Qt::red), QIcon(new SizelessEngine)), SKIN_ERR_ICON);
    EXPECT_TRUE(b.m_Icons[0].hIcon.isNull());
    EXPECT_EQ(b.m_Icons[0].nWidth, 0);
    EXPECT_EQ(b.SetIcons(QIcon(new SizelessEngine)), SKIN_ERR_ICON);

    // A pixmap's own size is device independent.
    QPixmap hi(40, 40);
    hi.fill(Qt::red);
    hi.setDevicePixelRatio(2);
    EXPECT_EQ(b.SetIcons(hi), SKIN_OK);
    EXPECT_EQ(b.m_Icons[0].nWidth, 20);
}

TEST(SkinButton, LoadIconsUsesTheProgramsLookup)
{
    SetIconLookup([](unsigned id) { return id == 137 ? SolidIcon(20, Qt::red) : QIcon(); });
    ProbeButton b;
    EXPECT_EQ(b.LoadIcons(137, 0), SKIN_OK);
    EXPECT_EQ(b.m_Icons[0].nWidth, 20);
    EXPECT_EQ(b.LoadIcons(137, 999), SKIN_OK); // a missing out-icon leaves slot 1 empty
    EXPECT_FALSE(b.m_Icons[0].hIcon.isNull());
    EXPECT_TRUE(b.m_Icons[1].hIcon.isNull());
    EXPECT_EQ(b.LoadIcons(999, 0), SKIN_OK); // a missing in-icon is not reported
    EXPECT_TRUE(b.m_Icons[0].hIcon.isNull());
    SetIconLookup(nullptr);
}

TEST(SkinButton, HoverFollowsTheMouseWithTheLeftButtonRule)
{
    Backdrop parent;
    auto* b = new ProbeButton(QStringLiteral("b"), &parent);
    auto* other = new QLineEdit(&parent);
    b->setGeometry(10, 10, 100, 40);
    other->setGeometry(150, 10, 100, 40);
    ShowActive(&parent);

    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(b->m_bHover) << "entering with the button held does not start the hover";
    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(b->m_bHover);

    // Pressed and dragged off: the hover ends and does not come back while held.
    SendMouse(b, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(b, QEvent::MouseMove, {160, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(b->m_bHover);
    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(b->m_bHover);
    SendMouse(b, QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
    SendMouse(b, QEvent::MouseMove, {21, 20}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(b->m_bHover);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(b, &leave);
    EXPECT_FALSE(b->m_bHover);

    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    b->setFocus();
    other->setFocus();
    EXPECT_FALSE(b->m_bHover) << "focus loss";

    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    QEvent blocked(QEvent::WindowBlocked);
    QApplication::sendEvent(b, &blocked);
    EXPECT_FALSE(b->m_bHover) << "cancel mode";

    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    QWidget elsewhere;
    elsewhere.setGeometry(500, 400, 50, 50);
    ShowActive(&elsewhere);
    EXPECT_FALSE(b->m_bHover) << "deactivation";

    // Hovering does not need the program's window to be active.
    SendMouse(b, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(b->m_bHover);
}

TEST(SkinButton, DefaultButtonBookkeepingKeepsTheOwnerDrawnType)
{
    ProbeButton b;
    EXPECT_EQ(b.OnGetDlgCode() & 0x30, DLGC_UNDEFPUSHBUTTON);
    b.OnSetStyle(BS_DEFPUSHBUTTON, true);
    EXPECT_TRUE(b.m_bDefault);
    EXPECT_EQ(b.GetButtonStyle() & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(b.OnGetDlgCode() & 0x30, DLGC_DEFPUSHBUTTON);
    b.OnSetStyle(0x07, true);
    EXPECT_TRUE(b.m_bDefault) << "types other than 0 and 1 leave the default state";
    EXPECT_EQ(b.GetButtonStyle() & BS_TYPEMASK, BS_OWNERDRAW);
    b.OnSetStyle(BS_PUSHBUTTON | 0x10000, true);
    EXPECT_FALSE(b.m_bDefault);
    EXPECT_EQ(b.GetButtonStyle(), 0x10000u | BS_OWNERDRAW);
}

TEST(SkinButton, DialogMovesTheDefaultStateWithTheFocus)
{
    QDialog dlg;
    auto* first = new ProbeButton(QStringLiteral("1"), &dlg);
    auto* second = new ProbeButton(QStringLiteral("2"), &dlg);
    second->move(0, 50);
    ShowActive(&dlg);
    second->setFocus();
    Settle();
    EXPECT_TRUE(second->m_bDefault);
    EXPECT_FALSE(first->m_bDefault);
    first->setFocus();
    Settle();
    EXPECT_TRUE(first->m_bDefault);
    EXPECT_FALSE(second->m_bDefault);
}

TEST(SkinButton, ClicksTakeTheFocusReachTheOwnerAndNeverCheck)
{
    Backdrop parent;
    auto* b = new ProbeButton(QStringLiteral("b"), &parent);
    auto* edit = new QLineEdit(&parent);
    edit->move(150, 10);
    b->setGeometry(10, 10, 100, 40);
    b->setFocusPolicy(Qt::NoFocus); // so only the click handler can give it the focus
    b->setCheckable(true);
    int clicks = 0;
    QObject::connect(b, &QPushButton::clicked, [&] { ++clicks; });
    ShowActive(&parent);
    edit->setFocus();

    QTest::mouseClick(b, Qt::LeftButton, {}, {20, 20});
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(b->hasFocus());
    EXPECT_FALSE(b->isChecked());
    EXPECT_EQ(b->GetCheck(), 0);
    EXPECT_EQ(b->SetCheck(1), 0);
    EXPECT_EQ(b->GetCheck(), 0);

    // A double click is two clicks.
    SendMouse(b, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(b, QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
    SendMouse(b, QEvent::MouseButtonDblClick, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(b, QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(clicks, 3);
}

TEST(SkinButton, TransparentBackgroundIsASnapshotUntilReleased)
{
    Backdrop parent;
    parent.color = RGB(200, 0, 0);
    auto* b = new ProbeButton(&parent);
    b->setGeometry(10, 10, 60, 30);
    b->SetTransparent(true);
    ShowActive(&parent);
    EXPECT_EQ(At(Grab(b), 30, 15), RGB(200, 0, 0));

    parent.color = RGB(0, 200, 0);
    parent.update();
    Settle();
    EXPECT_EQ(At(Grab(&parent), 40, 25), RGB(200, 0, 0)) << "the old pixels stay";
    EXPECT_EQ(At(Grab(&parent), 5, 5), RGB(0, 200, 0));

    b->SetTransparent(true);
    EXPECT_EQ(At(Grab(b), 30, 15), RGB(0, 200, 0));

    parent.color = RGB(0, 0, 200);
    QEvent sysColors(QEvent::ApplicationPaletteChange);
    QApplication::sendEvent(b, &sysColors);
    EXPECT_TRUE(b->m_bmpBack.isNull());
    EXPECT_EQ(At(Grab(b), 30, 15), RGB(0, 0, 200));

    parent.color = RGB(0, 100, 100);
    b->move(12, 10);
    EXPECT_EQ(At(Grab(b), 30, 15), RGB(0, 100, 100)) << "a moved button takes a new snapshot";
}

struct Situation
{
    const char* name;
    bool hover, pressed, focused;
    friend void PrintTo(const Situation& s, std::ostream* os) { *os << s.name; }
};

class SkinButtonDrawing : public ::testing::TestWithParam<Situation>
{
};

TEST_P(SkinButtonDrawing, MainWindowButtonPixels)
{
    const Situation& s = GetParam();
    Backdrop parent;
    auto* b = new ProbeButton(QStringLiteral("MM"), &parent);
    const int w = 120, h = 40;
    b->setGeometry(20, 20, w, h);
    auto* edit = new QLineEdit(&parent);
    edit->move(200, 20);
    ConfigureLikeMainWindow(*b);
    ShowActive(&parent);
    if (s.focused)
        b->setFocus();
    else
        edit->setFocus();
    if (s.hover)
        SendMouse(b, QEvent::MouseMove, {60, 20}, Qt::NoButton, Qt::NoButton);
    b->setDown(s.pressed);
    ASSERT_EQ(b->m_bHover, s.hover);
    ASSERT_EQ(b->hasFocus(), s.focused);

    const QImage img = Grab(b);
    const COLORREF bg = RGB(244, 249, 250);
    const COLORREF orange = RGB(255, 165, 0), navy = RGB(0, 0, 128);
    const int d = s.pressed ? 1 : 0;
    const bool hot = s.hover || s.pressed;

    // Icon: top-left corner at (3, (H - 20) / 2), moved by (1, 1) when pressed.
    EXPECT_EQ(At(img, 3 + d, (h - 20) / 2 + d), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 22 + d, (h - 20) / 2 + 19 + d), RGB(255, 0, 0));
    EXPECT_NE(At(img, 2 + d, 20), RGB(255, 0, 0));
    EXPECT_NE(At(img, 3 + d, (h - 20) / 2 - 1 + d), RGB(255, 0, 0));

    if (s.pressed) {
        EXPECT_EQ(At(img, 0, 0), GetSysColor(COLOR_BTNSHADOW));
        EXPECT_EQ(At(img, 0, h - 2), GetSysColor(COLOR_BTNSHADOW));
        EXPECT_EQ(At(img, w - 1, h - 1), GetSysColor(COLOR_BTNHIGHLIGHT));
        EXPECT_EQ(At(img, 0, h - 1), GetSysColor(COLOR_BTNHIGHLIGHT));
    } else if (s.hover) {
        EXPECT_EQ(At(img, 0, h - 2), orange);
        EXPECT_EQ(At(img, w - 1, h - 2), orange);
        EXPECT_EQ(At(img, 0, h - 1), bg);
        EXPECT_EQ(At(img, 0, 0), bg);
    } else {
        // No border and no focus rectangle: the frame pixels are the parent's.
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(At(img, x, 0), bg);
            EXPECT_EQ(At(img, x, 1), bg);
            EXPECT_EQ(At(img, x, h - 2), bg);
            EXPECT_EQ(At(img, x, h - 1), bg);
        }
    }
    EXPECT_EQ(At(img, w - 3, 3), bg);

    const QRect captionArea(25, 2, w - 25 - 2, h - 5); // clear of the icon and the frame
    EXPECT_GT(CountColor(img, captionArea, hot ? orange : navy), 10);
    EXPECT_EQ(CountColor(img, captionArea, hot ? navy : orange), 0);
    const QRect ink = InkBox(img, captionArea, bg);
    const double centreX = ink.left() + ink.width() / 2.0, centreY = ink.top() + ink.height() / 2.0;
    EXPECT_NEAR(centreX, 23 + (w - 23) / 2.0 + d, 2.5);
    EXPECT_NEAR(centreY, h / 2.0 + d, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Table, SkinButtonDrawing,
                         ::testing::Values(Situation{"Normal", false, false, false},
                                           Situation{"Hovered", true, false, false},
                                           Situation{"Pressed", false, true, false},
                                           Situation{"PressedAndHovered", true, true, false},
                                           Situation{"FocusedNotHot", false, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SkinButtonDrawing, BackgroundColoursByStateWithoutTransparency)
{
    Backdrop parent;
    auto* b = new ProbeButton(&parent);
    auto* edit = new QLineEdit(&parent);
    edit->move(100, 10);
    b->setGeometry(10, 10, 60, 30);
    b->SetColor(BTNCLR_BK_NORMAL, RGB(1, 1, 1));
    b->SetColor(BTNCLR_BK_HOT, RGB(2, 2, 2));
    b->SetColor(BTNCLR_BK_FOCUS, RGB(3, 3, 3));
    ShowActive(&parent);
    edit->setFocus();
    EXPECT_EQ(At(Grab(b), 30, 15), RGB(1, 1, 1));
    b->setFocus();
    EXPECT_EQ(At(Grab(b), 30, 15), RGB(3, 3, 3));
    SendMouse(b, QEvent::MouseMove, {30, 15}, Qt::NoButton, Qt::NoButton);
    const QImage hot = Grab(b);
    EXPECT_EQ(At(hot, 30, 15), RGB(2, 2, 2));
    // Hovered without a chosen border style: the raised frame.
    EXPECT_EQ(At(hot, 0, 0), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(At(hot, 59, 29), GetSysColor(COLOR_BTNSHADOW));
    b->SetBorderStyle(true, false);
    const QImage framed = Grab(b);
    EXPECT_EQ(At(framed, 0, 0), b->m_crColors[BTNCLR_LINE]);
}

TEST(SkinButtonDrawing, WithoutCaptionTheIconIsCentredAndAnOutIconShowsWhenCold)
{
    Backdrop parent;
    auto* b = new ProbeButton(&parent);
    b->setGeometry(10, 10, 40, 30);
    b->SetIcons(SolidIcon(20, QColor(255, 0, 0)), SolidIcon(20, QColor(0, 0, 255)));
    ShowActive(&parent);
    QImage img = Grab(b);
    EXPECT_EQ(At(img, 10, 5), RGB(0, 0, 255));
    EXPECT_EQ(At(img, 29, 24), RGB(0, 0, 255));
    EXPECT_NE(At(img, 9, 5), RGB(0, 0, 255));
    EXPECT_NE(At(img, 10, 4), RGB(0, 0, 255));
    SendMouse(b, QEvent::MouseMove, {20, 15}, Qt::NoButton, Qt::NoButton);
    img = Grab(b);
    EXPECT_EQ(At(img, 10, 5), RGB(255, 0, 0));
}

TEST(SkinButtonDrawing, LongCaptionWrapsAndIsCentredAsABlock)
{
    Backdrop parent;
    auto* b = new ProbeButton(QStringLiteral("aaaa bbbb cccc"), &parent);
    QFont f;
    f.setPixelSize(12);
    b->setFont(f);
    b->setGeometry(10, 10, 50, 80);
    b->SetColor(BTNCLR_BK_NORMAL, RGB(255, 255, 255));
    ShowActive(&parent);
    const QImage img = Grab(b);
    const QRect ink = InkBox(img, img.rect(), RGB(255, 255, 255));
    EXPECT_GT(ink.height(), 2 * QFontMetrics(f).lineSpacing());
    EXPECT_LE(ink.width(), 50);
    EXPECT_NEAR(ink.top() + ink.height() / 2.0, 40.0, 3.0);
}

struct PlaceCase
{
    const char* name;
    bool caption, pressed;
    CRect item;
    int w, h;
    CRect image;
    int captionLeft;
    friend void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }
};

class SkinButtonPlaceImage : public ::testing::TestWithParam<PlaceCase>
{
};

TEST_P(SkinButtonPlaceImage, MovesOnlyLeftAndTop)
{
    const PlaceCase& c = GetParam();
    CSkinButton b;
    CRect caption = c.item, image;
    b.PlaceImage(c.caption, c.item, caption, c.pressed, c.w, c.h, image);
    EXPECT_EQ(image, c.image);
    EXPECT_EQ(caption.left, c.captionLeft);
}

INSTANTIATE_TEST_SUITE_P(Cases, SkinButtonPlaceImage,
                         ::testing::Values(PlaceCase{"WithCaption", true, false, CRect(0, 0, 100, 31), 20, 20,
                                                     CRect(3, 5, 100, 31), 23},
                                           PlaceCase{"WithoutCaption", false, false, CRect(0, 0, 41, 31), 20,
                                                     20, CRect(10, 5, 41, 31), 0},
                                           PlaceCase{"LargerThanItemTruncatesTowardZero", false, false,
                                                     CRect(0, 0, 10, 10), 25, 25, CRect(-7, -7, 10, 10), 0},
                                           PlaceCase{"Pressed", true, true, CRect(0, 0, 100, 30), 20, 20,
                                                     CRect(4, 6, 101, 31), 23}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

class MagentaBorderButton : public CSkinButton
{
public:
    using CSkinButton::CSkinButton;

protected:
    int DrawBorder(QPainter* pDC, CRect* rect) override
    {
        FillSolidRect(*pDC, CRect(rect->left, rect->top, rect->left + 4, rect->top + 4), RGB(255, 0, 255));
        return 0;
    }
};

} // namespace

TEST(SkinButtonDrawing, DerivedClassesReplaceTheBorder)
{
    Backdrop parent;
    auto* b = new MagentaBorderButton(&parent);
    b->setGeometry(10, 10, 60, 30);
    ShowActive(&parent);
    EXPECT_NE(At(Grab(b), 1, 1), RGB(255, 0, 255));
    SendMouse(b, QEvent::MouseMove, {30, 15}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(At(Grab(b), 1, 1), RGB(255, 0, 255));
}

TEST(SkinButtonDrawing, FullResolutionAtPixelRatioTwo)
{
    Backdrop parent;
    auto* b = new ProbeButton(QStringLiteral("MM"), &parent);
    b->setGeometry(20, 20, 120, 40);
    ConfigureLikeMainWindow(*b);
    ShowActive(&parent);
    QImage img(240, 80, QImage::Format_RGB32);
    img.setDevicePixelRatio(2);
    b->render(&img);
    img.setDevicePixelRatio(1);
    EXPECT_EQ(At(img, 6, 20), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 7, 20), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 5, 20), RGB(244, 249, 250)) << "the snapshot is taken at full resolution";
    int split = 0;
    for (int y = 0; y < 78; y += 2)
        for (int x = 46; x < 238; x += 2) {
            const QRgb a = img.pixel(x, y);
            split += (img.pixel(x + 1, y) != a || img.pixel(x, y + 1) != a || img.pixel(x + 1, y + 1) != a)
                         ? 1
                         : 0;
        }
    EXPECT_GT(split, 10);
}

TEST(SkinButtonDrawing, FocusMarkOnlyWhenTheKeyboardBroughtTheFocus)
{
    struct Case
    {
        const char* name;
        std::vector<const char*> steps; // "tab", "backtab", "click" from the other control
        bool marked;
    };
    const Case cases[] = {
        {"Tab", {"tab"}, true},
        {"Backtab", {"backtab"}, true},
        {"Click", {"click"}, false},
        {"TabThenClick", {"tab", "click"}, false},
        {"ClickThenTabAwayAndBack", {"click", "tab", "tab"}, true},
    };
    const COLORREF bg = RGB(244, 249, 250), navy = RGB(0, 0, 128);
    const int w = 120, h = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Backdrop parent;
        auto* b = new ProbeButton(QStringLiteral("MM"), &parent);
        b->setGeometry(20, 20, w, h);
        auto* edit = new QLineEdit(&parent);
        edit->move(200, 20);
        ConfigureLikeMainWindow(*b);
        ShowActive(&parent);
        edit->setFocus();
        const QImage plain = Grab(b);
        for (const std::string step : c.steps) {
            if (step == "click")
                QTest::mouseClick(b, Qt::LeftButton, {}, {60, 20});
            else
                QTest::keyClick(QApplication::focusWidget(), step == "tab" ? Qt::Key_Tab : Qt::Key_Backtab);
        }
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(b, &leave); // the mouse's hover is not what is looked at
        ASSERT_TRUE(b->hasFocus());
        const QImage img = Grab(b);

        // The mark: every pixel that differs from the unfocused look, on one rectangle.
        QRect mark;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (img.pixel(x, y) != plain.pixel(x, y)) {
                    EXPECT_EQ(At(img, x, y), navy) << x << "," << y;
                    mark |= QRect(x, y, 1, 1);
                }
        if (!c.marked) {
            EXPECT_TRUE(mark.isNull()) << "mouse users see the plain look";
            continue;
        }
        ASSERT_FALSE(mark.isNull());
        EXPECT_GE(mark.left(), 23) << "inside the caption area, clear of the icon";
        EXPECT_LE(mark.right(), w - 2);
        EXPECT_GE(mark.top(), 1);
        EXPECT_LT(mark.bottom(), h - 2) << "clear of the hover line";
        EXPECT_GT(mark.width(), (w - 23) * 3 / 4);
        EXPECT_GT(mark.height(), h / 2);
        // Dotted: along each edge, every other pixel.
        for (int x = mark.left(); x < mark.right(); ++x) {
            EXPECT_NE(At(img, x, mark.top()) == navy, At(img, x + 1, mark.top()) == navy) << x;
            EXPECT_NE(At(img, x, mark.bottom()) == navy, At(img, x + 1, mark.bottom()) == navy) << x;
        }
        for (int y = mark.top(); y < mark.bottom(); ++y) {
            EXPECT_NE(At(img, mark.left(), y) == navy, At(img, mark.left(), y + 1) == navy) << y;
            EXPECT_NE(At(img, mark.right(), y) == navy, At(img, mark.right(), y + 1) == navy) << y;
        }
        // Between the mark and the caption the parent's pixels stay.
        EXPECT_EQ(At(img, mark.left() + 2, mark.top() + 2), bg);
    }
}
