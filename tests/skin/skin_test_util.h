#pragma once

#include "skin/gdi.h"

#include <QApplication>
#include <QImage>
#include <QWidget>

namespace skintest {

inline void Settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

inline QImage Grab(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline COLORREF At(const QImage& img, int x, int y)
{
    return FromQColor(img.pixelColor(x, y));
}

// Bounding box of every pixel in area that differs from background.
inline QRect InkBox(const QImage& img, const QRect& area, COLORREF background)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (At(img, x, y) != background)
                box |= QRect(x, y, 1, 1);
    return box;
}

inline int CountColor(const QImage& img, const QRect& area, COLORREF color)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += At(img, x, y) == color ? 1 : 0;
    return n;
}

} // namespace skintest
