#include "skin/resource_lookup.h"
#include "skin/txdialog.h"
#include "skin_test_util.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

using skintest::At;
using skintest::Grab;
using skintest::Settle;

namespace {

class ProbeDialog : public CTxDialog
{
public:
    explicit ProbeDialog(QSize size = QSize(400, 300))
    {
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        resize(size);
    }
    using CTxDialog::m_bAllowEnter;
    using CTxDialog::m_bAllowEscape;
    using CTxDialog::m_bButtonTransparent;
    using CTxDialog::m_bDragMove;
    using CTxDialog::m_bEditTransparent;
    using CTxDialog::m_bExtraTransparent;
    using CTxDialog::m_bFillBackground;
    using CTxDialog::m_bHover;
    using CTxDialog::m_bHoverTracking;
    using CTxDialog::m_bListBoxTransparent;
    using CTxDialog::m_bStaticTransparent;
    using CTxDialog::m_bTitleShadow;
    using CTxDialog::m_bTopBand;
    using CTxDialog::m_crBackground;
    using CTxDialog::m_crTitle;
    using CTxDialog::m_crTitleShadow;
    using CTxDialog::m_crTopBand;
    using CTxDialog::m_hIcon;
    using CTxDialog::m_nGradientMode;
    using CTxDialog::m_nGradientStep;
    using CTxDialog::m_nIconHeight;
    using CTxDialog::m_nIconWidth;
    using CTxDialog::m_nTitleFontHeight;
    using CTxDialog::m_nTitleFontWeight;
    using CTxDialog::m_nTitleFontWidth;
    using CTxDialog::m_rcBottomBand;
    using CTxDialog::m_rcTopBand;
    using CTxDialog::m_strTitleFontFace;
    using CTxDialog::OnCtlColor;

    int erases = 0;
    bool updateDataResult = true;

protected:
    bool OnEraseBkgnd(QPainter& p) override
    {
        ++erases;
        return CTxDialog::OnEraseBkgnd(p);
    }
    bool UpdateData(bool save) override { return CTxDialog::UpdateData(save) && updateDataResult; }
};

QIcon SolidIcon(int size, QColor color)
{
    QPixmap pm(size, size);
    pm.fill(color);
    return QIcon(pm);
}

// Applies the main window's frame settings.
void ApplyMainFrame(CTxDialog& dlg)
{
    dlg.EnableDragMove(true);
    dlg.SetBackgroundColor(RGB(244, 249, 250), true);
    dlg.SetTopBand(0, 0, 32, RGB(192, 192, 192), false);
    dlg.SetBottomBand(0, 28, 28, RGB(128, 128, 128), false);
    dlg.SetTitleIcon(1, 1, SolidIcon(32, QColor(255, 0, 0)));
    dlg.SetTitleShadow(RGB(69, 69, 69), false);
    dlg.SetBandGradient(2, 2, true);
    dlg.SetTitleFont(QStringLiteral("微软雅黑"), 22, 8, 550, false);
    dlg.SetTitleColor(RGB(0, 0, 128));
    dlg.SetTitleText(QStringLiteral("语音库合成工具:"), 36, 8);
}

int ShowAndCountErases(ProbeDialog& dlg, const std::function<void()>& change)
{
    dlg.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    Settle();
    const int before = dlg.erases;
    change();
    Settle();
    return dlg.erases - before;
}

} // namespace

TEST(TxDialog, ConstructionGivesTheDocumentedDefaults)
{
    ProbeDialog dlg;
    EXPECT_FALSE(dlg.m_bHover);
    EXPECT_TRUE(dlg.m_hIcon.isNull());
    EXPECT_FALSE(dlg.m_bDragMove);
    EXPECT_FALSE(dlg.m_bAllowEnter);
    EXPECT_FALSE(dlg.m_bAllowEscape);
    EXPECT_FALSE(dlg.m_bTopBand);
    EXPECT_TRUE(dlg.m_bHoverTracking);
    EXPECT_EQ(dlg.m_crTopBand, 0xFFFFFFu);
    EXPECT_TRUE(dlg.m_bFillBackground);
    EXPECT_EQ(dlg.m_crBackground, 0xFFFFFFu);
    EXPECT_EQ(dlg.m_strTitleFontFace, QStringLiteral("微软雅黑"));
    EXPECT_EQ(dlg.m_nTitleFontHeight, 40);
    EXPECT_EQ(dlg.m_nTitleFontWidth, 15);
    EXPECT_EQ(dlg.m_nTitleFontWeight, 600);
    EXPECT_EQ(dlg.m_crTitle, 0x800000u);
    EXPECT_FALSE(dlg.m_bTitleShadow);
    EXPECT_EQ(dlg.m_crTitleShadow, 0x454545u);
    EXPECT_TRUE(dlg.m_bStaticTransparent && dlg.m_bEditTransparent && dlg.m_bButtonTransparent &&
                dlg.m_bExtraTransparent && dlg.m_bListBoxTransparent);
    EXPECT_EQ(dlg.m_nGradientMode, 0);
    EXPECT_EQ(dlg.m_nGradientStep, 0);
}

struct BandCase
{
    const char* name;
    bool top;
    int inset, offset, height;
    CRect expected;
    friend void PrintTo(const BandCase& c, std::ostream* os) { *os << c.name; }
};

class TxDialogBands : public ::testing::TestWithParam<BandCase>
{
};

TEST_P(TxDialogBands, RectangleIsComputedFromTheClientArea)
{
    const BandCase& c = GetParam();
    ProbeDialog dlg(QSize(400, 300));
    if (c.top) {
        dlg.SetTopBand(c.inset, c.offset, c.height, RGB(1, 2, 3), false);
        EXPECT_EQ(dlg.m_rcTopBand, c.expected);
    } else {
        dlg.SetBottomBand(c.inset, c.offset, c.height, RGB(1, 2, 3), false);
        EXPECT_EQ(dlg.m_rcBottomBand, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TxDialogBands,
    ::testing::Values(
        BandCase{"TopPlain", true, 0, 0, 32, CRect(0, 0, 400, 32)},
        BandCase{"TopInset", true, 10, 0, 32, CRect(10, 0, 390, 32)},
        BandCase{"TopNegativeHeightIs8", true, 0, 0, -1, CRect(0, 0, 400, 8)},
        BandCase{"TopNegativeInsetAndTopAre0", true, -5, -7, 10, CRect(0, 0, 400, 10)},
        BandCase{"BottomEqualHeightEndsAtBottom", false, 0, 28, 28, CRect(0, 272, 400, 300)},
        BandCase{"BottomTallerBecomesDistanceMinusOne", false, 0, 28, 40, CRect(0, 272, 400, 299)},
        BandCase{"BottomNegativeDistanceIs0", false, 0, -3, 0, CRect(0, 300, 400, 300)},
        BandCase{"BottomNegativeHeightIs8ThenClipped", false, 4, 28, -1, CRect(4, 272, 396, 280)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TxDialog, BandsDoNotFollowLaterResizes)
{
    ProbeDialog dlg(QSize(400, 300));
    dlg.SetTopBand(0, 0, 32, RGB(1, 2, 3), false);
    dlg.SetBottomBand(0, 28, 28, RGB(1, 2, 3), false);
    dlg.resize(500, 350);
    EXPECT_EQ(dlg.m_rcTopBand, CRect(0, 0, 400, 32));
    EXPECT_EQ(dlg.m_rcBottomBand, CRect(0, 272, 400, 300));
}

TEST(TxDialog, GradientStepIsKeptAsTheRemainderBy255)
{
    ProbeDialog dlg;
    const std::pair<int, int> cases[] = {{300, 45}, {-3, -3}, {255, 0}, {-300, -45}, {2, 2}};
    for (auto [step, stored] : cases) {
        dlg.SetBandGradient(2, step, false);
        EXPECT_EQ(dlg.m_nGradientStep, stored) << "step " << step;
    }
}

TEST(TxDialog, SettersRepaintExceptWhereTheyAreToldNotTo)
{
    ProbeDialog dlg;
    EXPECT_EQ(ShowAndCountErases(dlg, [&] { dlg.SetBackgroundColor(RGB(1, 1, 1), false); }), 0);
    EXPECT_EQ(ShowAndCountErases(dlg, [&] { dlg.SetTitleShadow(RGB(9, 9, 9), false); }), 0);
    EXPECT_EQ(dlg.m_crTitleShadow, RGB(9, 9, 9));
    EXPECT_EQ(ShowAndCountErases(dlg, [&] { dlg.SetBandGradient(1, 2, false); }), 0);
    EXPECT_GE(ShowAndCountErases(dlg, [&] { dlg.SetBackgroundColor(RGB(2, 2, 2), true); }), 1);
    EXPECT_GE(ShowAndCountErases(dlg, [&] { dlg.SetTitleColor(RGB(3, 3, 3)); }), 1);
    EXPECT_GE(ShowAndCountErases(dlg, [&] { dlg.AllowEnterKey(false); }), 1);
}

TEST(TxDialog, TitleIconTakesItsSizeFromTheIconAndFailureLeavesNone)
{
    ProbeDialog dlg;
    dlg.SetTitleIcon(1, 1, SolidIcon(32, Qt::red));
    EXPECT_FALSE(dlg.m_hIcon.isNull());
    EXPECT_EQ(dlg.m_nIconWidth, 32);
    EXPECT_EQ(dlg.m_nIconHeight, 32);

    SetIconLookup([](unsigned id) { return id == 153 ? SolidIcon(24, Qt::blue) : QIcon(); });
    dlg.SetTitleIcon(1, 1, 153u);
    EXPECT_EQ(dlg.m_nIconWidth, 24);
    dlg.SetTitleIcon(1, 1, 999u);
    EXPECT_TRUE(dlg.m_hIcon.isNull());
    SetIconLookup(nullptr);
}

TEST(TxDialog, EscapeAndEnterAreSwallowedUnlessAllowed)
{
    ProbeDialog dlg;
    auto* edit = new QLineEdit(&dlg);
    auto* ok = new QPushButton(QStringLiteral("ok"), &dlg);
    ok->setDefault(true);
    int okClicks = 0;
    QObject::connect(ok, &QPushButton::clicked, [&] { ++okClicks; });
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    edit->setFocus();

    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(okClicks, 0);

    // Other keys and key releases pass.
    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_EQ(edit->text(), QStringLiteral("a"));

    dlg.AllowEnterKey(true);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(okClicks, 1);

    dlg.AllowEscapeKey(true);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), CTxDialog::IDCANCEL);
}

TEST(TxDialog, LosingTheFocusRepaints)
{
    ProbeDialog dlg;
    EXPECT_GE(ShowAndCountErases(dlg,
                                 [&] {
                                     QFocusEvent out(QEvent::FocusOut);
                                     QApplication::sendEvent(&dlg, &out);
                                 }),
              1);
}

TEST(TxDialog, ClosingGoesThroughOnOKAndOnCancel)
{
    ProbeDialog dlg;
    dlg.show();
    dlg.updateDataResult = false;
    dlg.OnOK();
    EXPECT_TRUE(dlg.isVisible()); // failed data exchange keeps the dialog open
    dlg.updateDataResult = true;
    dlg.accept();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), CTxDialog::IDOK);

    dlg.show();
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), CTxDialog::IDCANCEL);
}

struct CtlCase
{
    const char* name;
    std::function<QWidget*(QWidget*)> make;
    int kind;
    friend void PrintTo(const CtlCase& c, std::ostream* os) { *os << c.name; }
};

class TxDialogCtlColor : public ::testing::TestWithParam<CtlCase>
{
};

TEST_P(TxDialogCtlColor, KindConsultsItsSwitch)
{
    ProbeDialog dlg;
    QWidget* control = GetParam().make(&dlg);
    ASSERT_EQ(CTxDialog::CtlColorKindOf(control), GetParam().kind);
    EXPECT_TRUE(dlg.OnCtlColor(control, GetParam().kind));
    // With the main window's switches only buttons stay transparent.
    dlg.SetStaticTransparent(false);
    dlg.SetEditTransparent(false);
    dlg.SetListBoxTransparent(false);
    EXPECT_EQ(dlg.OnCtlColor(control, GetParam().kind), GetParam().kind == CTLCOLOR_BTN);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TxDialogCtlColor,
    ::testing::Values(
        CtlCase{"Label", [](QWidget* p) -> QWidget* { return new QLabel(p); }, CTLCOLOR_STATIC},
        CtlCase{"Edit", [](QWidget* p) -> QWidget* { return new QLineEdit(p); }, CTLCOLOR_EDIT},
        CtlCase{"ListBox", [](QWidget* p) -> QWidget* { return new QListWidget(p); }, CTLCOLOR_LISTBOX},
        CtlCase{"ScrollBar", [](QWidget* p) -> QWidget* { return new QScrollBar(p); }, CTLCOLOR_SCROLLBAR},
        CtlCase{"Button", [](QWidget* p) -> QWidget* { return new QPushButton(p); }, CTLCOLOR_BTN}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TxDialog, DialogsAndMessageBoxesGetTheirOwnColours)
{
    ProbeDialog dlg;
    QDialog other;
    EXPECT_EQ(CTxDialog::CtlColorKindOf(&other), CTLCOLOR_DLG);
    EXPECT_FALSE(dlg.OnCtlColor(&other, CTLCOLOR_DLG));
    EXPECT_FALSE(dlg.OnCtlColor(&other, CTLCOLOR_MSGBOX));
}

TEST(TxDialog, TransparentStaticShowsTheDialogBackgroundAndTheSwitchRestoresIt)
{
    ProbeDialog dlg(QSize(100, 60));
    dlg.SetBackgroundColor(RGB(0, 200, 0), true);
    auto* label = new QLabel(&dlg);
    label->setGeometry(10, 10, 40, 20);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, QColor(255, 0, 0));
    label->setPalette(pal);
    label->setAutoFillBackground(true);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    Settle();
    EXPECT_EQ(At(Grab(&dlg), 20, 20), RGB(0, 200, 0));
    dlg.SetStaticTransparent(false);
    Settle();
    EXPECT_EQ(At(Grab(&dlg), 20, 20), RGB(255, 0, 0));
}

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

TEST(TxDialog, DragFromTheBackgroundMovesTheWindowButNotFromAControl)
{
    ProbeDialog dlg;
    auto* button = new QPushButton(QStringLiteral("b"), &dlg);
    button->setGeometry(100, 100, 80, 30);
    dlg.EnableDragMove(true);
    dlg.move(50, 60);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));

    // Without a window manager startSystemMove() refuses and the fallback moves.
    SendMouse(&dlg, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&dlg, QEvent::MouseMove, {45, 35}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(dlg.pos(), QPoint(75, 75));
    SendMouse(&dlg, QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
    SendMouse(&dlg, QEvent::MouseMove, {60, 60}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(dlg.pos(), QPoint(75, 75));

    // A press on a control is the control's.
    QTest::mousePress(button, Qt::LeftButton, {}, {5, 5});
    SendMouse(&dlg, QEvent::MouseMove, {140, 140}, Qt::NoButton, Qt::LeftButton);
    QTest::mouseRelease(button, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(dlg.pos(), QPoint(75, 75));

    dlg.EnableDragMove(false);
    SendMouse(&dlg, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&dlg, QEvent::MouseMove, {45, 35}, Qt::NoButton, Qt::LeftButton);
    SendMouse(&dlg, QEvent::MouseButtonRelease, {45, 35}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(dlg.pos(), QPoint(75, 75));
}

TEST(TxDialog, HoverStartsOnceOverTheBackgroundAndEndsOnLeaveOrDeactivation)
{
    ProbeDialog dlg;
    auto* button = new QPushButton(QStringLiteral("b"), &dlg);
    button->setGeometry(100, 100, 80, 30);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    Settle();

    SendMouse(&dlg, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(dlg.m_bHover) << "a move with the button held never starts the hover";

    int before = dlg.erases;
    SendMouse(&dlg, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(dlg.m_bHover);
    Settle();
    EXPECT_EQ(dlg.erases, before + 1);
    before = dlg.erases;
    SendMouse(&dlg, QEvent::MouseMove, {30, 20}, Qt::NoButton, Qt::NoButton);
    Settle();
    EXPECT_EQ(dlg.erases, before) << "only the entry repaints";

    // A point over a child control clears it without a repaint.
    SendMouse(&dlg, QEvent::MouseMove, {110, 110}, Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(dlg.m_bHover);

    SendMouse(&dlg, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(dlg.m_bHover);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&dlg, &leave);
    EXPECT_FALSE(dlg.m_bHover);

    SendMouse(&dlg, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(dlg.m_bHover);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(dlg.m_bHover);

    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    dlg.EnableHoverTracking(false);
    SendMouse(&dlg, QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(dlg.m_bHover);
}

TEST(TxDialog, RoundedOutlineCutsOnlyTheCornerPixelsAndIsSetOnce)
{
    QWidget w;
    w.resize(200, 100);
    RoundWindowRegion(&w);
    const QRegion mask = w.mask();
    for (QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 99), QPoint(199, 99)})
        EXPECT_FALSE(mask.contains(corner)) << corner.x() << "," << corner.y();
    for (QPoint in :
         {QPoint(1, 0), QPoint(0, 1), QPoint(198, 0), QPoint(199, 98), QPoint(1, 99), QPoint(100, 50)})
        EXPECT_TRUE(mask.contains(in)) << in.x() << "," << in.y();
    EXPECT_EQ(mask.boundingRect(), QRect(0, 0, 200, 100));
    w.resize(300, 150);
    EXPECT_EQ(w.mask().boundingRect(), QRect(0, 0, 200, 100));
}

TEST(TxDialog, LargerCornerEllipsesCutMoreRows)
{
    const QRegion r = RoundRectRegion(QRect(0, 0, 40, 40), 10, 10);
    // Pixel centres against the corner ellipse of radius 5 centred at (5, 5).
    EXPECT_FALSE(r.contains(QPoint(2, 0)));
    EXPECT_FALSE(r.contains(QPoint(0, 2)));
    EXPECT_TRUE(r.contains(QPoint(3, 0)));
    EXPECT_TRUE(r.contains(QPoint(0, 3)));
    EXPECT_TRUE(r.contains(QPoint(1, 1)));
    EXPECT_TRUE(r.contains(QPoint(39 - 5, 39)));
}

namespace {

QImage RenderAt(QWidget& w, qreal dpr)
{
    QImage img((w.size() * dpr), QImage::Format_RGB32);
    img.setDevicePixelRatio(dpr);
    img.fill(Qt::black);
    w.render(&img);
    img.setDevicePixelRatio(1);
    return img;
}

int ExpectedMainBandGrey(int row)
{
    return row <= 16 ? 192 - 2 * row : 158 + 2 * (row - 17);
}

} // namespace

TEST(TxDialogPaint, MainWindowSettingsGiveBandsIconAndTitle)
{
    ProbeDialog dlg(QSize(590, 453));
    ApplyMainFrame(dlg);
    const QImage img = RenderAt(dlg, 1);
    for (int row = 0; row < 32; ++row) {
        const int g = ExpectedMainBandGrey(row);
        EXPECT_EQ(At(img, 500, row), RGB(g, g, g)) << "row " << row;
    }
    EXPECT_EQ(At(img, 500, 16), RGB(160, 160, 160));
    EXPECT_EQ(At(img, 500, 17), RGB(158, 158, 158));
    EXPECT_EQ(At(img, 500, 31), RGB(186, 186, 186));
    EXPECT_EQ(At(img, 300, 32), RGB(244, 249, 250));
    EXPECT_EQ(At(img, 300, 424), RGB(244, 249, 250));
    EXPECT_EQ(At(img, 0, 425), RGB(128, 128, 128));
    EXPECT_EQ(At(img, 589, 452), RGB(128, 128, 128));
    EXPECT_EQ(At(img, 1, 1), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 32, 32), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 33, 33), RGB(244, 249, 250));
    EXPECT_EQ(At(img, 0, 0), RGB(192, 192, 192));
    const QRect titleArea(36, 8, 250, 24);
    EXPECT_GT(skintest::CountColor(img, titleArea, RGB(0, 0, 128)), 20);
    EXPECT_EQ(skintest::CountColor(img, titleArea, RGB(69, 69, 69)), 0);
    EXPECT_TRUE(skintest::InkBox(img, QRect(0, 40, 590, 380), RGB(244, 249, 250)).isEmpty());
}

TEST(TxDialogPaint, TitleShadowIsDrawnFirstTwoPixelsDownRight)
{
    ProbeDialog dlg(QSize(300, 80));
    dlg.SetBackgroundColor(RGB(255, 255, 255), true);
    dlg.SetTitleFont(QStringLiteral("微软雅黑"), 30, 0, 900, false);
    dlg.SetTitleText(QStringLiteral("HI"), 10, 10);
    dlg.SetTitleShadow(RGB(69, 69, 69), true);
    const QImage img = RenderAt(dlg, 1);
    const QRect shadow = skintest::InkBox(img, img.rect(), RGB(255, 255, 255));
    const QRect title = skintest::InkBox(Grab(&dlg), img.rect(), RGB(255, 255, 255));
    EXPECT_GT(skintest::CountColor(img, img.rect(), RGB(69, 69, 69)), 5);
    EXPECT_GT(skintest::CountColor(img, img.rect(), RGB(0, 0, 128)), 5);
    EXPECT_EQ(shadow, title);
    dlg.SetTitleShadow(RGB(69, 69, 69), false);
    const QImage plain = RenderAt(dlg, 1);
    const QRect ink = skintest::InkBox(plain, plain.rect(), RGB(255, 255, 255));
    EXPECT_EQ(ink.topLeft(), shadow.topLeft());
    EXPECT_EQ(ink.bottomRight() + QPoint(2, 2), shadow.bottomRight());
}

struct GradientCase
{
    const char* name;
    int mode, step, height;
    COLORREF start;
    std::vector<std::pair<int, COLORREF>> rows;
    friend void PrintTo(const GradientCase& c, std::ostream* os) { *os << c.name; }
};

class TxDialogGradient : public ::testing::TestWithParam<GradientCase>
{
};

TEST_P(TxDialogGradient, RowsFollowTheStep)
{
    const GradientCase& c = GetParam();
    ProbeDialog dlg(QSize(50, 40));
    dlg.SetBandGradient(c.mode, c.step, false);
    dlg.SetTopBand(0, 0, c.height, c.start, false);
    const QImage img = RenderAt(dlg, 1);
    for (const auto& [row, color] : c.rows)
        EXPECT_EQ(At(img, 25, row), color) << "row " << row;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TxDialogGradient,
    ::testing::Values(GradientCase{"OneWay",
                                   1,
                                   2,
                                   4,
                                   RGB(10, 20, 30),
                                   {{0, RGB(10, 20, 30)},
                                    {1, RGB(8, 18, 28)},
                                    {2, RGB(6, 16, 26)},
                                    {3, RGB(4, 14, 24)},
                                    {4, RGB(255, 255, 255)}}},
                      GradientCase{"BelowZeroBecomesZero",
                                   1,
                                   10,
                                   4,
                                   RGB(5, 5, 5),
                                   {{0, RGB(5, 5, 5)}, {1, RGB(0, 0, 0)}, {3, RGB(0, 0, 0)}}},
                      GradientCase{"AboveRangeBecomesZeroNotFull",
                                   2,
                                   40,
                                   20,
                                   RGB(250, 250, 250),
                                   {{6, RGB(10, 10, 10)},
                                    {7, RGB(0, 0, 0)},
                                    {11, RGB(0, 0, 0)},
                                    {12, RGB(40, 40, 40)},
                                    {17, RGB(240, 240, 240)},
                                    {18, RGB(0, 0, 0)},
                                    {19, RGB(40, 40, 40)}}},
                      GradientCase{"OtherModesAreFlat",
                                   7,
                                   9,
                                   6,
                                   RGB(100, 110, 120),
                                   {{0, RGB(100, 110, 120)}, {5, RGB(100, 110, 120)}}},
                      GradientCase{
                          "EmptyBandDrawsNothing", 1, 2, 0, RGB(0, 0, 0), {{0, RGB(255, 255, 255)}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TxDialogPaint, FlatModeResetsTheStoredStep)
{
    ProbeDialog dlg(QSize(50, 40));
    dlg.SetBandGradient(0, 5, false);
    dlg.SetTopBand(0, 0, 10, RGB(100, 100, 100), false);
    RenderAt(dlg, 1);
    EXPECT_EQ(dlg.m_nGradientStep, 0);
    dlg.SetBandGradient(1, 0, false);
    dlg.m_nGradientMode = 1; // a later mode change alone brings no step back
    EXPECT_EQ(At(RenderAt(dlg, 1), 25, 9), RGB(100, 100, 100));
}

TEST(TxDialogPaint, TurnIsAtHalfTheAbsoluteBottomNotTheBandMiddle)
{
    ProbeDialog dlg(QSize(50, 60));
    dlg.SetBandGradient(2, 1, false);
    dlg.SetTopBand(0, 20, 20, RGB(100, 100, 100), false); // rows 20..39, turn at 40 / 2 = 20
    const QImage img = RenderAt(dlg, 1);
    EXPECT_EQ(At(img, 25, 20), RGB(100, 100, 100));
    EXPECT_EQ(At(img, 25, 21), RGB(99, 99, 99));
    EXPECT_EQ(At(img, 25, 22), RGB(100, 100, 100));
    EXPECT_EQ(At(img, 25, 39), RGB(117, 117, 117));
}

TEST(TxDialogPaint, RoundedBandsAreFlat)
{
    ProbeDialog dlg(QSize(50, 60));
    dlg.SetBandGradient(1, 10, false);
    dlg.SetTopBand(0, 0, 10, RGB(100, 0, 0), true);
    dlg.SetBottomBand(0, 10, 10, RGB(0, 100, 0), true);
    const QImage img = RenderAt(dlg, 1);
    EXPECT_EQ(At(img, 25, 9), RGB(100, 0, 0));
    EXPECT_EQ(At(img, 25, 50), RGB(0, 100, 0));
    EXPECT_EQ(At(img, 25, 59), RGB(0, 100, 0));
}

TEST(TxDialogPaint, FullResolutionAtPixelRatioTwo)
{
    ProbeDialog dlg(QSize(590, 453));
    ApplyMainFrame(dlg);
    const QImage img = RenderAt(dlg, 2);
    ASSERT_EQ(img.size(), QSize(1180, 906));
    for (int row : {0, 5, 16, 17, 31}) {
        const int g = ExpectedMainBandGrey(row);
        EXPECT_EQ(At(img, 1000, 2 * row), RGB(g, g, g));
        EXPECT_EQ(At(img, 1000, 2 * row + 1), RGB(g, g, g));
    }
    EXPECT_EQ(At(img, 0, 2 * 425), RGB(128, 128, 128));
    EXPECT_EQ(At(img, 0, 2 * 424 + 1), RGB(244, 249, 250));
    // Text drawn at full resolution has edges inside 2 x 2 blocks; a scaled-up
    // picture would not.
    int splitBlocks = 0;
    for (int y = 16; y < 64; y += 2)
        for (int x = 72; x < 500; x += 2) {
            const QRgb a = img.pixel(x, y);
            if (img.pixel(x + 1, y) != a || img.pixel(x, y + 1) != a || img.pixel(x + 1, y + 1) != a)
                ++splitBlocks;
        }
    EXPECT_GT(splitBlocks, 20);
}
