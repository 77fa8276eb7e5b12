#pragma once

// Colour values and drawing primitives of the skinned look, kept in the form the
// design gives them so that colours read as written: COLORREF is 0x00BBGGRR.

#include <QColor>
#include <QRect>
#include <QString>
#include <cstdint>

class QFont;
class QPainter;

using COLORREF = std::uint32_t;
// The platform's int-sized truth value, where a value other than 0 and 1 has
// a meaning of its own (a header's bold flag counts only when it is 1).
using BOOL = int;

constexpr COLORREF RGB(int r, int g, int b)
{
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c)
{
    return static_cast<int>(c & 0xFF);
}
constexpr int GetGValue(COLORREF c)
{
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c)
{
    return static_cast<int>((c >> 16) & 0xFF);
}

inline QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
inline COLORREF FromQColor(const QColor& c)
{
    return RGB(c.red(), c.green(), c.blue());
}

// System colour indices; read from the application palette.
enum SysColorIndex : int
{
    COLOR_WINDOW = 5,
    COLOR_WINDOWTEXT = 8,
    COLOR_BTNFACE = 15,
    COLOR_3DFACE = COLOR_BTNFACE,
    COLOR_BTNSHADOW = 16,
    COLOR_3DSHADOW = COLOR_BTNSHADOW,
    COLOR_BTNTEXT = 18,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DHILIGHT = COLOR_BTNHIGHLIGHT,
    COLOR_3DHIGHLIGHT = COLOR_BTNHIGHLIGHT,
    COLOR_3DLIGHT = 22,
};

COLORREF GetSysColor(int index);

// A rectangle with exclusive right and bottom edges, as the drawing code thinks of it.
struct CRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    constexpr CRect() = default;
    constexpr CRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    explicit CRect(const QRect& r)
        : left(r.left()), top(r.top()), right(r.left() + r.width()), bottom(r.top() + r.height())
    {
    }

    constexpr int Width() const { return right - left; }
    constexpr int Height() const { return bottom - top; }
    constexpr bool IsRectEmpty() const { return right <= left || bottom <= top; }
    constexpr void OffsetRect(int dx, int dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    constexpr bool operator==(const CRect&) const = default;
};

// The pixel ratio of what a painter really draws on (a widget rendered into an
// image paints on the image, not on the widget's screen).
qreal PaintDeviceRatio(const QPainter& p);

// Windows MulDiv: a * b / c rounded half away from zero, -1 when c is 0.
int MulDiv(int a, int b, int c);

void FillSolidRect(QPainter& p, const CRect& r, COLORREF color);
// One-pixel frame on the inside of r: top and left in topLeft, bottom and right
// (corners top-right and bottom-left included) in bottomRight.
void Draw3dRect(QPainter& p, const CRect& r, COLORREF topLeft, COLORREF bottomRight);
// A one-pixel solid line from (x1, y1) towards (x2, y2), end point not painted.
// Only horizontal and vertical lines are needed.
void LineTo(QPainter& p, int x1, int y1, int x2, int y2, COLORREF color);

// A font built the way CreateFont reads its arguments: a positive height is the
// cell height (ascent + descent), a negative one the character height, a width
// other than 0 the average character width; weight 0 means normal. Face names of
// the design are mapped to installed CJK faces.
QFont CreateFontA(int height, int width, int weight, bool underline, const QString& face);
