#include "skin/gdi.h"
#include "skin/offscreen.h"
#include "skin_test_util.h"

#include <QPainter>
#include <QPicture>
#include <gtest/gtest.h>

using skintest::At;

TEST(Gdi, ColorrefIsLaidOutBlueGreenRed)
{
    EXPECT_EQ(RGB(244, 249, 250), 0xFAF9F4u);
    EXPECT_EQ(RGB(0, 0, 128), 0x800000u);
    EXPECT_EQ(GetRValue(0x454545u), 69);
    EXPECT_EQ(ToQColor(RGB(1, 2, 3)), QColor(1, 2, 3));
}

TEST(Gdi, MulDivRoundsHalfAwayFromZeroAndRejectsZeroDivisor)
{
    EXPECT_EQ(MulDiv(5, 7, 4), 9);    // 8.75
    EXPECT_EQ(MulDiv(3, 1, 2), 2);    // 1.5
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);  // -1.5
    EXPECT_EQ(MulDiv(10, 14, 8), 18); // 17.5
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(Gdi, SystemColorsFollowTheApplicationPalette)
{
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Button, QColor(10, 20, 30));
    pal.setColor(QPalette::Dark, QColor(40, 50, 60));
    QApplication::setPalette(pal);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(10, 20, 30));
    EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), RGB(40, 50, 60));
    QApplication::setPalette(saved);
}

TEST(Gdi, Draw3dRectGivesTheBottomRightColourTheOuterCorners)
{
    QImage img(10, 8, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        Draw3dRect(p, CRect(1, 1, 9, 7), RGB(255, 0, 0), RGB(0, 0, 255));
    }
    EXPECT_EQ(At(img, 1, 1), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 7, 1), RGB(255, 0, 0));
    EXPECT_EQ(At(img, 8, 1), RGB(0, 0, 255)); // top-right corner
    EXPECT_EQ(At(img, 1, 6), RGB(0, 0, 255)); // bottom-left corner
    EXPECT_EQ(At(img, 8, 6), RGB(0, 0, 255));
    EXPECT_EQ(At(img, 4, 4), RGB(255, 255, 255));
    EXPECT_EQ(At(img, 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(At(img, 9, 7), RGB(255, 255, 255));
}

TEST(Gdi, LineToLeavesTheEndPointUnpainted)
{
    QImage img(10, 4, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        LineTo(p, 2, 1, 7, 1, RGB(0, 0, 0));
    }
    EXPECT_EQ(At(img, 1, 1), RGB(255, 255, 255));
    EXPECT_EQ(At(img, 2, 1), RGB(0, 0, 0));
    EXPECT_EQ(At(img, 6, 1), RGB(0, 0, 0));
    EXPECT_EQ(At(img, 7, 1), RGB(255, 255, 255));
}

TEST(OffscreenDC, DrawsInTargetCoordinatesAndCopiesOnlyTheClipBox)
{
    QImage target(40, 30, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter p(&target);
        COffscreenDC dc(p, QRect(10, 5, 20, 10));
        dc->fillRect(QRect(0, 0, 40, 30), Qt::red); // spills past the box on purpose
        dc->fillRect(QRect(12, 7, 2, 2), Qt::blue);
        EXPECT_EQ(target.pixelColor(12, 7), QColor(Qt::white)); // nothing reaches the target early
    }
    EXPECT_EQ(target.pixelColor(10, 5), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(29, 14), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(12, 7), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(9, 5), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(30, 14), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(10, 15), QColor(Qt::white));
}

TEST(OffscreenDC, BuffersAtTheTargetsPixelRatio)
{
    QImage target(40, 40, QImage::Format_RGB32);
    target.setDevicePixelRatio(2);
    target.fill(Qt::white);
    {
        QPainter p(&target);
        COffscreenDC dc(p, QRect(0, 0, 20, 20));
        dc->fillRect(QRect(0, 0, 20, 20), Qt::white);
        // A half-pixel wide line only exists at full resolution.
        dc->fillRect(QRectF(5, 0, 0.5, 20), Qt::black);
    }
    EXPECT_EQ(target.pixelColor(10, 3), QColor(Qt::black));
    EXPECT_EQ(target.pixelColor(11, 3), QColor(Qt::white));
}

namespace {

// 4 x 4: a red 2 x 2 centre on a key-coloured (green) frame.
QImage KeyedSource()
{
    QImage src(4, 4, QImage::Format_RGB32);
    src.fill(QColor(0, 255, 0));
    for (int y = 1; y < 3; ++y)
        for (int x = 1; x < 3; ++x)
            src.setPixelColor(x, y, QColor(255, 0, 0));
    return src;
}

QImage BlueTarget(int size, QImage::Format format = QImage::Format_RGB32)
{
    QImage t(size, size, format);
    t.fill(QColor(0, 0, 255));
    return t;
}

} // namespace

TEST(DrawTransparentBitmap, LeavesKeyedPixelsAndCopiesTheRest)
{
    QImage target = BlueTarget(10);
    {
        QPainter p(&target);
        DrawTransparentBitmap(p, 3, 3, 4, 4, KeyedSource(), 0, 0, 4, 4, RGB(0, 255, 0));
        EXPECT_EQ(p.background().color(), QColor(Qt::white));
        EXPECT_EQ(p.pen().color(), QColor(Qt::black));
    }
    EXPECT_EQ(At(target, 3, 3), RGB(0, 0, 255));
    EXPECT_EQ(At(target, 4, 4), RGB(255, 0, 0));
    EXPECT_EQ(At(target, 5, 5), RGB(255, 0, 0));
    EXPECT_EQ(At(target, 6, 6), RGB(0, 0, 255));
    EXPECT_EQ(At(target, 2, 4), RGB(0, 0, 255));
}

TEST(DrawTransparentBitmap, KeyFoundNowhereDrawsOpaqueAndAllKeyLeavesTargetAlone)
{
    QImage opaque = BlueTarget(6);
    QImage untouched = BlueTarget(6);
    QImage allKey(4, 4, QImage::Format_RGB32);
    allKey.fill(QColor(0, 255, 0));
    {
        QPainter p(&opaque);
        DrawTransparentBitmap(p, 1, 1, 4, 4, KeyedSource(), 0, 0, 4, 4, RGB(1, 2, 3));
        QPainter q(&untouched);
        DrawTransparentBitmap(q, 1, 1, 4, 4, allKey, 0, 0, 4, 4, RGB(0, 255, 0));
    }
    EXPECT_EQ(At(opaque, 1, 1), RGB(0, 255, 0));
    EXPECT_EQ(At(opaque, 2, 2), RGB(255, 0, 0));
    EXPECT_EQ(untouched, BlueTarget(6));
}

TEST(DrawTransparentBitmap, StretchesBeforeKeying)
{
    QImage target = BlueTarget(12);
    {
        QPainter p(&target);
        DrawTransparentBitmap(p, 0, 0, 8, 8, KeyedSource(), 0, 0, 4, 4, RGB(0, 255, 0));
    }
    EXPECT_EQ(At(target, 1, 1), RGB(0, 0, 255));
    EXPECT_EQ(At(target, 2, 2), RGB(255, 0, 0));
    EXPECT_EQ(At(target, 5, 5), RGB(255, 0, 0));
    EXPECT_EQ(At(target, 6, 6), RGB(0, 0, 255));
}

TEST(DrawTransparentBitmap, SourceRectangleSelectsPartOfTheSource)
{
    QImage target = BlueTarget(6);
    {
        QPainter p(&target);
        DrawTransparentBitmap(p, 0, 0, 2, 2, KeyedSource(), 1, 1, 2, 2, RGB(0, 255, 0));
    }
    EXPECT_EQ(At(target, 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(At(target, 1, 1), RGB(255, 0, 0));
    EXPECT_EQ(At(target, 2, 2), RGB(0, 0, 255));
}

TEST(DrawTransparentBitmap, SamePixelsOnAnEngineWithoutRasterOperations)
{
    // A picture recording is replayed by another engine: the alpha path must give the same result.
    QPicture picture;
    {
        QPainter p(&picture);
        p.fillRect(QRect(0, 0, 10, 10), QColor(0, 0, 255));
        DrawTransparentBitmap(p, 3, 3, 4, 4, KeyedSource(), 0, 0, 4, 4, RGB(0, 255, 0));
    }
    QImage replay = BlueTarget(10);
    {
        QPainter p(&replay);
        picture.play(&p);
    }
    EXPECT_EQ(At(replay, 3, 3), RGB(0, 0, 255));
    EXPECT_EQ(At(replay, 4, 4), RGB(255, 0, 0));
}
