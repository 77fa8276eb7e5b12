#include "skin/resource_lookup.h"
#include "skin/skinheader.h"
#include "skin_test_util.h"

#include <QMouseEvent>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using skintest::At;
using skintest::CountColor;
using skintest::Grab;
using skintest::InkBox;
using skintest::Settle;

namespace {

class ProbeHeader : public CSkinHeaderCtrl
{
public:
    using CSkinHeaderCtrl::m_bBold;
    using CSkinHeaderCtrl::m_bDrawTail;
    using CSkinHeaderCtrl::m_bOutline;
    using CSkinHeaderCtrl::m_bSeparators;
    using CSkinHeaderCtrl::m_ColumnBitmaps;
    using CSkinHeaderCtrl::m_crOutline;
    using CSkinHeaderCtrl::m_crSeparator;
    using CSkinHeaderCtrl::m_crText;
    using CSkinHeaderCtrl::m_fHeightFactor;
    using CSkinHeaderCtrl::m_nBitmapAlign;
    using CSkinHeaderCtrl::m_nFontHeight;
    using CSkinHeaderCtrl::m_nGradientMode;
    using CSkinHeaderCtrl::m_nGradientStep;
    using CSkinHeaderCtrl::m_strFontFace;
};

const int kWidths[5] = {48, 430, 22, 22, 22};
const COLORREF kBack = RGB(245, 245, 245);
const COLORREF kSeparator = RGB(211, 211, 211);

// 20 x 20 on the button face with a red 10 x 10 centre.
QImage FaceBitmap(int size = 20)
{
    QImage img(size, size, QImage::Format_RGB32);
    img.fill(ToQColor(GetSysColor(COLOR_BTNFACE)));
    for (int y = size / 4; y < size / 4 + size / 2; ++y)
        for (int x = size / 4; x < size / 4 + size / 2; ++x)
            img.setPixelColor(x, y, QColor(255, 0, 0));
    return img;
}

// The voice list with its header set up as the main window does it.
struct ListFixture
{
    QStandardItemModel model{3, 5};
    QTableView table;
    ProbeHeader* header = new ProbeHeader;

    explicit ListFixture(const QString& align = QStringLiteral("11111"), bool show = true)
    {
        table.setModel(&model);
        header->m_astrHeadings = {QString(), QStringLiteral("WAV文件名称"), QString(), QString(), QString()};
        header->m_strAlign = align;
        header->SetFontFace(QStringLiteral("微软雅黑"));
        header->SetFontSize(18, 0);
        header->SetFontBold(0);
        header->SetBackground(kBack, 3);
        header->SetHeightFactor(1.2f);
        header->SetTextColor(RGB(0, 0, 128));
        header->SetGradientMode(0);
        table.setHorizontalHeader(header);
        for (int i = 0; i < 5; ++i)
            table.setColumnWidth(i, kWidths[i]);
        header->SetOutline(kBack, 1);
        header->SetSeparators(kSeparator, 1);
        header->SetColumnBitmap(&table, 0, FaceBitmap(10), 0);
        for (int col : {2, 3, 4})
            header->SetColumnBitmap(&table, col, FaceBitmap(), 0);
        header->SetBitmapAlign(1, 1);
        table.resize(590, 200);
        if (show) {
            table.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&table));
            Settle();
        }
    }
    int Left(int col) const { return header->sectionViewportPosition(col); }
    int Right(int col) const { return Left(col) + header->sectionSize(col); }
};

} // namespace

TEST(SkinHeader, ConstructionDefaults)
{
    ProbeHeader h;
    EXPECT_EQ(h.orientation(), Qt::Horizontal);
    EXPECT_EQ(h.m_strFontFace, QStringLiteral("宋体"));
    EXPECT_EQ(h.m_nFontHeight, 12);
    EXPECT_EQ(h.m_nBitmapAlign, 1);
    EXPECT_EQ(h.m_crOutline, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(h.m_crSeparator, GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(h.m_crText, RGB(128, 128, 128));
    EXPECT_EQ(h.m_nGradientStep, 8);
    EXPECT_FLOAT_EQ(h.m_fHeightFactor, 1.5f);
    EXPECT_TRUE(h.m_bDrawTail);
    EXPECT_FALSE(h.m_bOutline);
    EXPECT_TRUE(h.m_bSeparators);
    h.SetFontFace(QString());
    EXPECT_EQ(h.m_strFontFace, QStringLiteral("宋体"));
    h.SetBitmapAlign(static_cast<short>(0xFFFE), 0);
    EXPECT_EQ(h.m_nBitmapAlign, -2);
}

TEST(SkinHeader, HeightIsThePlatformsTimesTheFactorTruncated)
{
    ListFixture f;
    QHeaderView plain(Qt::Horizontal);
    plain.setModel(&f.model);
    plain.setFont(f.header->font());
    const int platform = plain.sizeHint().height();
    EXPECT_EQ(f.header->sizeHint().height(), static_cast<int>(platform * 1.2f));
    EXPECT_EQ(f.header->height(), static_cast<int>(platform * 1.2f));
    // The rows begin below the taller header.
    EXPECT_EQ(f.table.viewport()->y(), f.table.frameWidth() + f.header->height());
    f.header->SetHeightFactor(2.0f);
    Settle();
    EXPECT_EQ(f.header->height(), platform * 2);
    EXPECT_EQ(f.table.viewport()->y(), f.table.frameWidth() + platform * 2);
}

TEST(SkinHeader, MainWindowHeaderIsFlatWithSeparatorsAndNoPlatformPainting)
{
    ListFixture f;
    const QImage img = Grab(f.header);
    if (qEnvironmentVariableIsSet("SKIN_SHOT"))
        img.save(QStringLiteral("/tmp/shots/header.png"));
    const int h = f.header->height();
    // Along the top and bottom rows only the separators differ from the flat fill.
    for (int y : {1, h - 2})
        for (int x = 0; x < img.width(); ++x) {
            const bool separator =
                x == f.Right(0) || x == f.Right(1) || x == f.Right(2) || x == f.Right(3) || x == f.Right(4);
            EXPECT_EQ(At(img, x, y), separator ? kSeparator : kBack) << x << "," << y;
        }
    // The heading is drawn in the text colour, centred in column 1.
    const QRect col1(f.Left(1) + 1, 0, kWidths[1] - 2, h);
    const QRect ink = InkBox(img, col1, kBack);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GT(CountColor(img, col1, RGB(0, 0, 128)), 10);
    EXPECT_NEAR(ink.center().x(), f.Left(1) + kWidths[1] / 2.0, 2.5);
    EXPECT_NEAR(ink.top() + ink.height() / 2.0, h / 2.0, 3.0);
    // Column bitmaps centred with the face colour keyed out: 20 wide in 22 gives left + 1.
    const int top = h / 2 - 10;
    for (int col : {2, 3, 4}) {
        EXPECT_EQ(At(img, f.Left(col) + 1 + 5, top + 5), RGB(255, 0, 0));
        EXPECT_EQ(At(img, f.Left(col) + 1 + 14, top + 14), RGB(255, 0, 0));
        EXPECT_EQ(At(img, f.Left(col) + 5, top + 5), kBack);
        EXPECT_EQ(At(img, f.Left(col) + 1 + 15, top + 14), kBack);
        EXPECT_EQ(At(img, f.Left(col) + 1 + 2, top + 2), kBack);
    }
    // The 10 x 10 mark in the 48-wide column: free 38, x = left + 19.
    EXPECT_EQ(At(img, f.Left(0) + 19 + 2, h / 2 - 5 + 2), RGB(255, 0, 0));
    EXPECT_EQ(At(img, f.Left(0) + 19 + 1, h / 2 - 5 + 2), kBack);
}

TEST(SkinHeader, FlatModeResetsTheStepUntilTheBackgroundIsSetAgain)
{
    ListFixture f;
    EXPECT_EQ(f.header->m_nGradientStep, 0);
    f.header->SetGradientMode(1);
    f.header->viewport()->update();
    QImage img = Grab(f.header);
    EXPECT_EQ(At(img, 470, 5), kBack) << "still flat";

    f.header->SetBackground(kBack, 3);
    img = Grab(f.header);
    EXPECT_EQ(At(img, 470, 0), RGB(245, 245, 245));
    EXPECT_EQ(At(img, 470, 1), RGB(242, 242, 242));
    EXPECT_EQ(At(img, 470, 2), RGB(239, 239, 239));
    // The tail right of the last column follows the same rule.
    EXPECT_EQ(At(img, f.Right(4) + 5, 1), RGB(242, 242, 242));
}

TEST(SkinHeader, GradientComponentsStopAtZeroAndModeTwoTurnsAtTheMiddle)
{
    ListFixture f;
    f.header->SetOutline(kBack, 0);
    f.header->SetGradientMode(1);
    f.header->SetBackground(RGB(10, 10, 10), 4);
    QImage img = Grab(f.header);
    EXPECT_EQ(At(img, 470, 2), RGB(2, 2, 2));
    EXPECT_EQ(At(img, 470, 3), RGB(0, 0, 0));
    EXPECT_EQ(At(img, 470, 8), RGB(0, 0, 0));

    f.header->SetGradientMode(2);
    f.header->SetBackground(RGB(200, 200, 200), 2);
    img = Grab(f.header);
    const int h = f.header->height();
    const int turn = h / 2;
    auto grey = [&](int y) { return GetRValue(At(img, 470, y)); };
    EXPECT_EQ(grey(0), 200);
    EXPECT_EQ(grey(turn), 200 - 2 * turn);
    EXPECT_EQ(grey(turn + 1), 200 - 2 * (turn + 1));
    EXPECT_EQ(grey(turn + 2), 200 - 2 * turn);
}

struct AlignCase
{
    const char* name;
    QChar align;
    friend void PrintTo(const AlignCase& c, std::ostream* os) { *os << c.name; }
};

class SkinHeaderAlign : public ::testing::TestWithParam<AlignCase>
{
};

TEST_P(SkinHeaderAlign, HeadingSitsWhereTheAlignmentSays)
{
    QString align = QStringLiteral("11111");
    align[1] = GetParam().align;
    ListFixture f(align);
    f.header->SetSeparators(kSeparator, 0);
    const QImage img = Grab(f.header);
    const QRect ink = InkBox(img, QRect(f.Left(1), 0, kWidths[1], f.header->height()), kBack);
    ASSERT_FALSE(ink.isEmpty());
    switch (GetParam().align.unicode()) {
    case '0':
        EXPECT_NEAR(ink.left(), f.Left(1) + 3, 2);
        break;
    case '2':
        EXPECT_NEAR(ink.right() + 1, f.Right(1) - 3, 2);
        break;
    default:
        EXPECT_NEAR(ink.center().x(), f.Left(1) + kWidths[1] / 2.0, 2.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SkinHeaderAlign,
                         ::testing::Values(AlignCase{"Left", QChar('0')}, AlignCase{"Right", QChar('2')},
                                           AlignCase{"Centred", QChar('1')},
                                           AlignCase{"OtherIsCentred", QChar('x')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SkinHeader, BitmapColumnDrawsItsHeadingAfterTheBitmapNotCentred)
{
    ListFixture f;
    f.header->m_astrHeadings[1] = QStringLiteral("Ab");
    f.header->SetColumnBitmap(&f.table, 1, FaceBitmap(), 0);
    f.header->SetSeparators(kSeparator, 0);
    const QImage img = Grab(f.header);
    const int h = f.header->height();
    const QRect text = InkBox(img, QRect(f.Left(1), 0, kWidths[1], h), kBack);
    const int red = CountColor(img, QRect(f.Left(1), 0, kWidths[1], h), RGB(255, 0, 0));
    EXPECT_EQ(red, 100);
    // Ink beyond the bitmap's right edge is the heading, and it begins right after it.
    const QRect afterBitmap =
        InkBox(img, QRect(f.Left(1) + kWidths[1] / 2 + 6, 0, kWidths[1] / 2 - 6, h), kBack);
    ASSERT_FALSE(afterBitmap.isEmpty());
    EXPECT_LT(afterBitmap.left() - (f.Left(1) + kWidths[1] / 2 + 5), 10);
    EXPECT_GT(text.width(), 20);
}

TEST(SkinHeader, OutlineFramesTheClientAreaAndSeparatorsFollowResizing)
{
    ListFixture f;
    f.header->SetOutline(RGB(255, 0, 0), 1);
    QImage img = Grab(f.header);
    const int w = f.header->viewport()->width(), h = f.header->height();
    EXPECT_EQ(At(img, 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(At(img, w - 1, h - 1), RGB(255, 0, 0));
    EXPECT_EQ(At(img, w / 2, h - 1), RGB(255, 0, 0));
    EXPECT_EQ(At(img, f.Right(0), h / 2), kSeparator);

    // Dragging the divider is still the platform's, and the painting follows.
    QWidget* vp = f.header->viewport();
    const QPoint divider(f.Right(0) - 1, h / 2);
    QTest::mousePress(vp, Qt::LeftButton, {}, divider);
    QMouseEvent move(QEvent::MouseMove, QPointF(divider + QPoint(30, 0)),
                     QPointF(vp->mapToGlobal(divider + QPoint(30, 0))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(vp, &move);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, divider + QPoint(30, 0));
    EXPECT_EQ(f.header->sectionSize(0), 78);
    img = Grab(f.header);
    EXPECT_EQ(At(img, 78, h / 2), kSeparator);
    EXPECT_EQ(At(img, 48, h / 2), kBack);
}

TEST(SkinHeader, FewerHeadingsThanColumnsPaintEmptyHeadings)
{
    ListFixture f(QString(), false);
    f.header->m_astrHeadings.clear();
    f.table.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.table));
    const QImage img = Grab(f.header);
    EXPECT_EQ(At(img, f.Left(1) + 100, f.header->height() / 2), kBack);
}

TEST(SkinHeader, BitmapSlotsStopAtTwentyColumns)
{
    ProbeHeader h;
    QStandardItemModel model(1, 25);
    h.setModel(&model);
    h.SetColumnBitmap(nullptr, 19, FaceBitmap(), 0);
    h.SetColumnBitmap(nullptr, 20, FaceBitmap(), 0);
    EXPECT_TRUE(h.m_ColumnBitmaps[19].bUsed);
    EXPECT_EQ(h.m_ColumnBitmaps[19].nColumn, 19);
    SetBitmapLookup([](unsigned id) { return id == 145 ? FaceBitmap() : QImage(); });
    h.SetColumnBitmap(nullptr, 2, 145u, 0);
    EXPECT_EQ(h.m_ColumnBitmaps[2].nBitmapId, 145u);
    SetBitmapLookup(nullptr);
}

TEST(SkinHeader, GreysOfALoadedBitmapBecomeSystemColours)
{
    QImage img(3, 1, QImage::Format_RGB32);
    img.setPixel(0, 0, qRgb(192, 192, 192));
    img.setPixel(1, 0, qRgb(128, 128, 128));
    img.setPixel(2, 0, qRgb(1, 2, 3));
    const QImage mapped = MapSystemColors(img);
    EXPECT_EQ(At(mapped, 0, 0), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(At(mapped, 1, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(At(mapped, 2, 0), RGB(1, 2, 3));
}

TEST(SkinHeader, FullResolutionAtPixelRatioTwo)
{
    ListFixture f;
    const int h = f.header->height();
    QImage img(f.header->size() * 2, QImage::Format_RGB32);
    img.setDevicePixelRatio(2);
    f.header->render(&img);
    img.setDevicePixelRatio(1);
    const int sep = 2 * f.Right(0);
    EXPECT_EQ(At(img, sep, h), kSeparator);
    EXPECT_EQ(At(img, sep + 1, h), kSeparator);
    EXPECT_EQ(At(img, sep - 1, h), kBack);
    EXPECT_EQ(At(img, sep + 2, h), kBack);
    int split = 0;
    for (int y = 0; y < 2 * h - 2; y += 2)
        for (int x = 2 * f.Left(1); x < 2 * f.Right(1) - 2; x += 2) {
            const QRgb a = img.pixel(x, y);
            split += (img.pixel(x + 1, y) != a || img.pixel(x, y + 1) != a || img.pixel(x + 1, y + 1) != a)
                         ? 1
                         : 0;
        }
    EXPECT_GT(split, 20);
}
