#include "skin/gdi.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstdlib>

COLORREF GetSysColor(int index)
{
    const QPalette pal = QGuiApplication::palette();
    switch (index) {
    case COLOR_BTNFACE:
        return FromQColor(pal.color(QPalette::Button));
    case COLOR_BTNTEXT:
        return FromQColor(pal.color(QPalette::ButtonText));
    case COLOR_BTNHIGHLIGHT:
        return FromQColor(pal.color(QPalette::Light));
    case COLOR_BTNSHADOW:
        return FromQColor(pal.color(QPalette::Dark));
    case COLOR_3DLIGHT:
        return FromQColor(pal.color(QPalette::Midlight));
    case COLOR_WINDOW:
        return FromQColor(pal.color(QPalette::Base));
    case COLOR_WINDOWTEXT:
        return FromQColor(pal.color(QPalette::WindowText));
    default:
        return 0;
    }
}

qreal PaintDeviceRatio(const QPainter& p)
{
    if (const QPaintEngine* engine = p.paintEngine(); engine && engine->paintDevice())
        return engine->paintDevice()->devicePixelRatioF();
    return p.device() ? p.device()->devicePixelRatioF() : 1.0;
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long num = static_cast<long long>(a) * b;
    const long long den = c;
    long long q = (std::llabs(num) + std::llabs(den) / 2) / std::llabs(den);
    if ((num < 0) != (den < 0))
        q = -q;
    if (q > INT32_MAX || q < INT32_MIN)
        return -1;
    return static_cast<int>(q);
}

void FillSolidRect(QPainter& p, const CRect& r, COLORREF color)
{
    if (r.IsRectEmpty())
        return;
    p.fillRect(r.ToQRect(), ToQColor(color));
}

void Draw3dRect(QPainter& p, const CRect& r, COLORREF topLeft, COLORREF bottomRight)
{
    const int x = r.left, y = r.top, cx = r.Width(), cy = r.Height();
    FillSolidRect(p, CRect(x, y, x + cx - 1, y + 1), topLeft);
    FillSolidRect(p, CRect(x, y, x + 1, y + cy - 1), topLeft);
    FillSolidRect(p, CRect(x + cx - 1, y, x + cx, y + cy), bottomRight);
    FillSolidRect(p, CRect(x, y + cy - 1, x + cx, y + cy), bottomRight);
}

void LineTo(QPainter& p, int x1, int y1, int x2, int y2, COLORREF color)
{
    if (y1 == y2 && x1 != x2)
        FillSolidRect(p, CRect(std::min(x1, x2 + 1), y1, std::max(x1 + 1, x2), y1 + 1), color);
    else if (x1 == x2 && y1 != y2)
        FillSolidRect(p, CRect(x1, std::min(y1, y2 + 1), x1 + 1, std::max(y1 + 1, y2)), color);
}

namespace {

void InstallFaceSubstitutions()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC")});
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans")});
}

} // namespace

QFont CreateFontA(int height, int width, int weight, bool underline, const QString& face)
{
    InstallFaceSubstitutions();
    QFont f(face);
    f.setStyleStrategy(QFont::PreferAntialias);
    f.setUnderline(underline);
    f.setWeight(weight <= 0 ? QFont::Normal : static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
    if (height < 0) {
        f.setPixelSize(-height);
    } else if (height > 0) {
        // A positive height names the cell; find the em size whose cell is that tall.
        f.setPixelSize(height);
        const QFontMetricsF fm(f);
        const qreal cell = fm.ascent() + fm.descent();
        if (cell > 0)
            f.setPixelSize(std::max(1, static_cast<int>(std::lround(height * height / cell))));
    } else {
        f.setPixelSize(12);
    }
    if (width > 0) {
        const QFontMetricsF fm(f);
        const qreal avg = fm.averageCharWidth();
        if (avg > 0)
            f.setStretch(std::clamp(static_cast<int>(std::lround(width * 100.0 / avg)), 1, 4000));
    }
    return f;
}
