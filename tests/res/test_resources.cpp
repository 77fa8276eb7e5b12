#include "res/resource_ids.h"
#include "res/resources.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

using namespace voicelib::res;

namespace {

enum class Kind
{
    Icon,
    Bitmap
};

// Colours named by the motifs, classified by hue so the exact shades may change.
enum class Hue
{
    None,
    Blue,
    Green,
    Yellow,
    Black
};

struct Expected
{
    const char* name;
    int id;
    int size;
    Kind kind;
    Hue hue;
    Hue secondHue = Hue::None;
};

const Expected kTable[] = {
    {"MainFrame", IDR_MAINFRAME, 48, Kind::Icon, Hue::Yellow},
    {"Delete", IDI_DELETE, 20, Kind::Icon, Hue::Blue},
    {"Exit", IDI_EXIT, 20, Kind::Icon, Hue::Blue},
    {"Insert", IDI_INSERT, 20, Kind::Icon, Hue::Blue},
    {"Replace", IDI_REPLACE, 20, Kind::Icon, Hue::Blue},
    {"Play", IDI_PLAY, 20, Kind::Icon, Hue::Blue},
    {"Export", IDI_EXPORT, 20, Kind::Icon, Hue::None},
    {"Append", IDI_APPEND, 20, Kind::Icon, Hue::Blue},
    {"HeaderMark", IDB_HEADER_MARK, 10, Kind::Bitmap, Hue::Black},
    {"Down", IDI_DOWN, 20, Kind::Icon, Hue::Green},
    {"Up", IDI_UP, 20, Kind::Icon, Hue::Green},
    {"Build", IDI_BUILD, 20, Kind::Icon, Hue::Yellow},
    {"Load", IDI_LOAD, 20, Kind::Icon, Hue::Yellow, Hue::Green},
    {"HeaderPlay", IDB_HEADER_PLAY, 20, Kind::Bitmap, Hue::Blue},
    {"HeaderDelete", IDB_HEADER_DELETE, 20, Kind::Bitmap, Hue::Blue},
    {"HeaderReplace", IDB_HEADER_REPLACE, 20, Kind::Bitmap, Hue::Blue},
    {"Caption", IDI_CAPTION, 32, Kind::Icon, Hue::Yellow},
    {"Stop", IDI_STOP, 20, Kind::Icon, Hue::Blue},
};

std::vector<Expected> Rows(Kind kind)
{
    std::vector<Expected> rows;
    for (const Expected& e : kTable)
        if (e.kind == kind)
            rows.push_back(e);
    return rows;
}

// Every table row has a name; it names the test case.
template <class Row> std::string RowName(const testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

void PrintTo(const Expected& e, std::ostream* os)
{
    *os << e.name << " (" << e.id << ")";
}

bool HasHue(QRgb rgb, Hue hue)
{
    const QColor c = QColor::fromRgb(rgb);
    const int h = c.hsvHue();
    const bool vivid = c.hsvSaturationF() > 0.5f && c.valueF() > 0.4f;
    switch (hue) {
    case Hue::None:
        return true;
    case Hue::Blue:
        return vivid && h >= 200 && h <= 235;
    case Hue::Green:
        return vivid && h >= 100 && h <= 150;
    case Hue::Yellow:
        return vivid && h >= 38 && h <= 60;
    case Hue::Black:
        return c.valueF() < 0.1f;
    }
    return false;
}

// Counts fully opaque pixels of that hue, so an anti-aliased fringe alone does not pass.
int CountHue(const QImage& image, Hue hue)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 255 && HasHue(p, hue))
                ++n;
        }
    return n;
}

QImage Argb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

std::vector<QPoint> Corners(const QImage& image)
{
    const int r = image.width() - 1;
    const int b = image.height() - 1;
    return {{0, 0}, {r, 0}, {0, b}, {r, b}};
}

double PartialAlphaShare(const QImage& image)
{
    int partial = 0;
    int visible = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int a = qAlpha(image.pixel(x, y));
            visible += a > 0;
            partial += a > 0 && a < 255;
        }
    return visible == 0 ? 1.0 : double(partial) / visible;
}

// Mean absolute difference per channel (alpha included) of two images of one size.
double MeanDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * a.width() * a.height());
}

// Averages each 2 x 2 block of premultiplied pixels: what a 2x picture looks like at 1x.
QImage BoxHalve(const QImage& image)
{
    const QImage pre = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(image.width() / 2, image.height() / 2, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            int r = 0, g = 0, b = 0, a = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const QRgb p = pre.pixel(2 * x + dx, 2 * y + dy);
                    r += qRed(p), g += qGreen(p), b += qBlue(p), a += qAlpha(p);
                }
            out.setPixel(x, y, qRgba((r + 2) / 4, (g + 2) / 4, (b + 2) / 4, (a + 2) / 4));
        }
    return out.convertToFormat(QImage::Format_ARGB32);
}

// ---- every resource ----

class EveryResource : public testing::TestWithParam<Expected>
{
};

TEST_P(EveryResource, LoadsAtItsOwnSize)
{
    const Expected& e = GetParam();
    const QSize size(e.size, e.size);
    EXPECT_EQ(ResourceSize(e.id), size);

    // The SVG itself declares the size, so nothing is stretched from another shape.
    const QString path = ResourcePath(e.id);
    ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    QSvgRenderer renderer(path);
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize(), size);

    const QIcon icon = LoadIconResource(e.id);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{size});
    EXPECT_EQ(icon.actualSize(size), size);

    const QPixmap pixmap = LoadIconPixmap(e.id);
    EXPECT_EQ(pixmap.size(), size);
    EXPECT_EQ(pixmap.devicePixelRatio(), 1.0);
}

TEST_P(EveryResource, TwoTimesIsRenderedNotUpscaled)
{
    const Expected& e = GetParam();
    const QSize size(e.size, e.size);
    const QPixmap one = LoadIconPixmap(e.id, 1.0);
    const QPixmap two = LoadIconPixmap(e.id, 2.0);
    ASSERT_EQ(two.size(), size * 2);
    EXPECT_EQ(two.devicePixelRatio(), 2.0);
    EXPECT_EQ(two.deviceIndependentSize().toSize(), size);

    const QImage img1 = Argb(one);
    const QImage img2 = Argb(two);

    // Same picture: seen at 1x, the 2x rendering is close to the 1x one.
    EXPECT_LT(MeanDifference(BoxHalve(img2), img1), 10.0);

    // Not a pixel-doubling: where the 1x picture needed anti-aliasing, a real 2x rendering has 2 x 2
    // blocks that are not uniform. A drawing wholly on the pixel grid is exactly its own doubling.
    bool detail = PartialAlphaShare(img1) == 0.0;
    for (int y = 0; y < img2.height() && !detail; y += 2)
        for (int x = 0; x < img2.width() && !detail; x += 2) {
            const QRgb p = img2.pixel(x, y);
            detail = img2.pixel(x + 1, y) != p || img2.pixel(x, y + 1) != p || img2.pixel(x + 1, y + 1) != p;
        }
    EXPECT_TRUE(detail);

    // Not a smooth upscale either: a real rendering has sharper edges, so fewer half-covered pixels.
    QImage smooth = img1.scaled(size * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    smooth = smooth.convertToFormat(QImage::Format_ARGB32);
    EXPECT_LT(PartialAlphaShare(img2), PartialAlphaShare(smooth));
    EXPECT_GT(MeanDifference(img2, smooth), 1.0);

    // The icon hands out the same rendering for a 2x screen, at the size asked for.
    const QPixmap fromIcon = LoadIconResource(e.id).pixmap(size, 2.0);
    EXPECT_EQ(fromIcon.size(), size * 2);
    EXPECT_EQ(fromIcon.devicePixelRatio(), 2.0);
    EXPECT_EQ(Argb(fromIcon), img2);

    // Fractional ratios get their own rendering as well.
    const QPixmap oneAndHalf = LoadIconPixmap(e.id, 1.5);
    EXPECT_EQ(oneAndHalf.size(), QSize(qRound(e.size * 1.5), qRound(e.size * 1.5)));
    EXPECT_EQ(oneAndHalf.devicePixelRatio(), 1.5);
}

TEST_P(EveryResource, IconPaintsAtTheDevicePixelRatio)
{
    const Expected& e = GetParam();
    QImage canvas(e.size * 2, e.size * 2, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2.0);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        LoadIconResource(e.id).paint(&painter, QRect(0, 0, e.size, e.size));
    }
    canvas.setDevicePixelRatio(1.0);
    QImage expected = Argb(LoadIconPixmap(e.id, 2.0));
    expected.setDevicePixelRatio(1.0);
    EXPECT_LT(MeanDifference(canvas.convertToFormat(QImage::Format_ARGB32), expected), 0.5);
}

INSTANTIATE_TEST_SUITE_P(Resources, EveryResource, testing::ValuesIn(kTable), RowName<Expected>);

// ---- icons: transparent around, opaque picture ----

class IconResource : public testing::TestWithParam<Expected>
{
};

TEST_P(IconResource, TransparentCornersAndOpaqueMotif)
{
    const Expected& e = GetParam();
    for (qreal dpr : {1.0, 2.0}) {
        SCOPED_TRACE(dpr);
        const QImage image = Argb(LoadIconPixmap(e.id, dpr));
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(image.hasAlphaChannel());
        for (const QPoint& c : Corners(image))
            EXPECT_EQ(qAlpha(image.pixel(c)), 0) << c.x() << "," << c.y();

        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) == 255;
        const double share = double(opaque) / (image.width() * image.height());
        EXPECT_GT(share, 0.15) << "picture too faint or too small";
        EXPECT_LT(share, 0.95) << "no transparent background";

        // Several opaque pixels of the motif's colour, growing with the area.
        const int minimum = int(4 * dpr * dpr);
        EXPECT_GE(CountHue(image, e.hue), minimum);
        EXPECT_GE(CountHue(image, e.secondHue), minimum);
    }
}

INSTANTIATE_TEST_SUITE_P(Icons, IconResource, testing::ValuesIn(Rows(Kind::Icon)), RowName<Expected>);

// ---- header bitmaps: opaque, on the colour the header keys out ----

struct BitmapCase
{
    std::string name;
    Expected resource;
    const char* backgroundName;
    QColor background;
    qreal dpr;
};

void PrintTo(const BitmapCase& c, std::ostream* os)
{
    *os << c.resource.name << " on " << c.backgroundName << " at " << c.dpr << "x";
}

std::vector<BitmapCase> BitmapCases()
{
    const struct
    {
        const char* name;
        QColor colour;
    } backgrounds[] = {
        {"Face", QColor(240, 240, 240)},   {"HeaderGrey", QColor(245, 245, 245)},
        {"Silver", QColor(192, 192, 192)}, {"White", QColor(255, 255, 255)},
        {"DarkTheme", QColor(53, 53, 53)},
    };
    std::vector<BitmapCase> cases;
    for (const Expected& e : Rows(Kind::Bitmap))
        for (const auto& bg : backgrounds)
            for (qreal dpr : {1.0, 2.0})
                cases.push_back({std::string(e.name) + "_" + bg.name + (dpr > 1.0 ? "_2x" : "_1x"), e,
                                 bg.name, bg.colour, dpr});
    return cases;
}

class BitmapResource : public testing::TestWithParam<BitmapCase>
{
};

TEST_P(BitmapResource, OpaqueOnBackgroundWithThePictureOnTop)
{
    const BitmapCase& c = GetParam();
    const QPixmap pixmap = LoadBitmapResource(c.resource.id, c.background, c.dpr);
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), QSize(c.resource.size, c.resource.size));
    EXPECT_EQ(pixmap.devicePixelRatio(), c.dpr);

    const QImage image = Argb(pixmap);
    ASSERT_EQ(image.size(), QSize(c.resource.size, c.resource.size) * c.dpr);
    for (const QPoint& p : Corners(image))
        EXPECT_EQ(image.pixel(p), c.background.rgba()) << p.x() << "," << p.y();

    // Where the drawing is empty the header sees exactly its key colour; where the drawing is solid it
    // sees the drawing. Every pixel is opaque.
    const QImage picture = Argb(LoadIconPixmap(c.resource.id, c.dpr));
    int keyed = 0;
    int solid = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb got = image.pixel(x, y);
            const QRgb drawn = picture.pixel(x, y);
            ASSERT_EQ(qAlpha(got), 255) << x << "," << y;
            if (qAlpha(drawn) == 0) {
                ASSERT_EQ(got, c.background.rgba()) << x << "," << y;
                ++keyed;
            } else if (qAlpha(drawn) == 255) {
                ASSERT_EQ(got, drawn) << x << "," << y;
                ++solid;
            }
        }
    EXPECT_GT(keyed, 0);
    EXPECT_GE(solid, int(4 * c.dpr * c.dpr));
    EXPECT_GE(CountHue(image, c.resource.hue), int(4 * c.dpr * c.dpr));
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, BitmapResource, testing::ValuesIn(BitmapCases()), RowName<BitmapCase>);

TEST(BitmapBackground, TranslucentColourStillGivesAnOpaqueBitmap)
{
    const QImage image = Argb(LoadBitmapResource(IDB_HEADER_PLAY, QColor(10, 20, 30, 100)));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(0, 0), qRgb(10, 20, 30));
}

TEST(BitmapBackground, PaletteButtonFaceIsKeyedAtTheCorners)
{
    const QColor face = QGuiApplication::palette().color(QPalette::Button);
    const QImage image = Argb(LoadBitmapResource(IDB_HEADER_REPLACE, face));
    for (const QPoint& p : Corners(image))
        EXPECT_EQ(image.pixel(p), face.rgb());
}

// ---- pictures whose orientation matters ----

struct ArrowCase
{
    const char* name;
    int id;
    bool pointsDown;
};

void PrintTo(const ArrowCase& c, std::ostream* os)
{
    *os << c.name;
}

class ArrowDirection : public testing::TestWithParam<ArrowCase>
{
};

TEST_P(ArrowDirection, TipIsAtTheEndItPointsTo)
{
    const QImage image = Argb(LoadIconPixmap(GetParam().id));
    std::vector<int> widths;
    for (int y = 0; y < image.height(); ++y) {
        int width = 0;
        for (int x = 0; x < image.width(); ++x)
            width += qAlpha(image.pixel(x, y)) > 128;
        if (width > 0)
            widths.push_back(width);
    }
    ASSERT_GE(widths.size(), 2u);
    // The shaft's end is square, the tip narrows to a point.
    if (GetParam().pointsDown)
        EXPECT_GT(widths.front(), widths.back());
    else
        EXPECT_LT(widths.front(), widths.back());
}

INSTANTIATE_TEST_SUITE_P(Arrows, ArrowDirection,
                         testing::Values(ArrowCase{"Down", IDI_DOWN, true}, ArrowCase{"Up", IDI_UP, false}),
                         RowName<ArrowCase>);

// ---- ids that are not resources, and bad arguments ----

struct UnknownCase
{
    const char* name;
    int id;
};

void PrintTo(const UnknownCase& c, std::ostream* os)
{
    *os << c.name << " (" << c.id << ")";
}

class UnknownId : public testing::TestWithParam<UnknownCase>
{
};

TEST_P(UnknownId, GivesNullResults)
{
    const int id = GetParam().id;
    EXPECT_FALSE(ResourceSize(id).isValid());
    EXPECT_TRUE(ResourcePath(id).isEmpty());
    EXPECT_TRUE(LoadIconResource(id).isNull());
    EXPECT_TRUE(LoadIconPixmap(id).isNull());
    EXPECT_TRUE(LoadIconPixmap(id, 2.0).isNull());
    EXPECT_TRUE(LoadBitmapResource(id, Qt::white).isNull());
}

INSTANTIATE_TEST_SUITE_P(Ids, UnknownId,
                         testing::Values(UnknownCase{"Zero", 0}, UnknownCase{"Negative", -1},
                                         UnknownCase{"BelowIcons", 127}, UnknownCase{"Gap129", 129},
                                         UnknownCase{"Gap136", 136}, UnknownCase{"AfterBitmaps", 146},
                                         UnknownCase{"BeforeCaption", 152}, UnknownCase{"AfterCaption", 154},
                                         UnknownCase{"Wide", 0x10000 + IDI_DELETE},
                                         UnknownCase{"Min", INT_MIN}, UnknownCase{"Max", INT_MAX}),
                         RowName<UnknownCase>);

struct BadRatioCase
{
    const char* name;
    qreal dpr;
};

void PrintTo(const BadRatioCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadRatio : public testing::TestWithParam<BadRatioCase>
{
};

TEST_P(BadRatio, GivesNullPixmaps)
{
    const qreal dpr = GetParam().dpr;
    EXPECT_TRUE(LoadIconPixmap(IDI_PLAY, dpr).isNull());
    EXPECT_TRUE(LoadBitmapResource(IDB_HEADER_PLAY, Qt::white, dpr).isNull());
}

INSTANTIATE_TEST_SUITE_P(Ratios, BadRatio,
                         testing::Values(BadRatioCase{"Zero", 0.0}, BadRatioCase{"Negative", -2.0},
                                         BadRatioCase{"NaN", std::numeric_limits<qreal>::quiet_NaN()},
                                         BadRatioCase{"Huge", 1e6}),
                         RowName<BadRatioCase>);

TEST(BitmapBackground, InvalidColourGivesNull)
{
    EXPECT_TRUE(LoadBitmapResource(IDB_HEADER_PLAY, QColor()).isNull());
}

// ---- the resource set as shipped ----

TEST(ResourceSet, EveryCompiledInPictureIsInTheTable)
{
    int count = 0;
    QDirIterator it(QStringLiteral(":/res/icons"));
    // ResourcePath registers the compiled-in files before the directory is listed.
    ASSERT_FALSE(ResourcePath(IDI_PLAY).isEmpty());
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        bool numeric = false;
        const int id = file.completeBaseName().toInt(&numeric);
        EXPECT_TRUE(numeric && file.suffix() == QLatin1String("svg")) << file.fileName().toStdString();
        EXPECT_TRUE(ResourceSize(id).isValid()) << file.fileName().toStdString();
        EXPECT_EQ(ResourcePath(id), file.filePath());
        ++count;
    }
    EXPECT_EQ(count, int(std::size(kTable)));
}

TEST(ResourceSet, DisabledIconIsGreyedRenderingOfTheSamePicture)
{
    const QIcon icon = LoadIconResource(IDI_DOWN);
    const QImage normal = Argb(icon.pixmap(QSize(20, 20), 1.0, QIcon::Normal));
    const QImage disabled = Argb(icon.pixmap(QSize(20, 20), 1.0, QIcon::Disabled));
    ASSERT_EQ(disabled.size(), normal.size());
    EXPECT_GT(CountHue(normal, Hue::Green), 0);
    for (int y = 0; y < disabled.height(); ++y)
        for (int x = 0; x < disabled.width(); ++x) {
            const QColor c = QColor::fromRgba(disabled.pixel(x, y));
            EXPECT_LE(c.hsvSaturation(), 0) << x << "," << y;
            EXPECT_EQ(c.alpha() == 0, qAlpha(normal.pixel(x, y)) == 0) << x << "," << y;
        }
}

TEST(DesktopEntry, PassesDesktopFileValidate)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(tool, {QStringLiteral(VOICELIB_RES_DIR "/voicelib.desktop")});
    ASSERT_TRUE(validate.waitForFinished(30000));
    const QString output = QString::fromUtf8(validate.readAll());
    EXPECT_EQ(validate.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(validate.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(output.contains(QLatin1String("error:"))) << output.toStdString();
}

} // namespace
