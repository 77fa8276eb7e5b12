#pragma once

#include "skin/gdi.h"

#include <QImage>
#include <QPainter>
#include <QRect>

// Buffers the painting of one paint handler: every call goes to an off-screen
// image covering the clip box (in the target's coordinates, at the target's
// device pixel ratio); destruction copies the box to the target in one step.
class COffscreenDC
{
public:
    COffscreenDC(QPainter& target, const QRect& clipBox);
    ~COffscreenDC();
    COffscreenDC(const COffscreenDC&) = delete;
    COffscreenDC& operator=(const COffscreenDC&) = delete;

    QPainter* operator->() { return &m_painter; }
    QPainter& GetPainter() { return m_painter; }
    // The buffered rectangle, the analogue of the target's clip box.
    const QRect& GetClipBox() const { return m_rect; }

private:
    QImage m_bitmap;
    QPainter* m_pTarget;
    QRect m_rect;
    QPainter m_painter;
};

// Copies source (sx, sy, sw, sh in the source's pixels) to (x, y, w, h) of the
// target, leaving out every pixel of keyColor; the source is stretched first when
// its size differs from the target's in device pixels. The target's background
// and pen colours are left white and black.
void DrawTransparentBitmap(QPainter& target, int x, int y, int width, int height, const QImage& source,
                           int sourceX, int sourceY, int sourceWidth, int sourceHeight, COLORREF keyColor);
