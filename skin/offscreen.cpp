#include "skin/offscreen.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <cmath>

COffscreenDC::COffscreenDC(QPainter& target, const QRect& clipBox) : m_pTarget(&target), m_rect(clipBox)
{
    if (m_rect.isEmpty() && target.device()) {
        const QPaintDevice* dev = target.device();
        m_rect = QRect(0, 0, dev->width(), dev->height());
    }
    const qreal dpr = PaintDeviceRatio(target);
    const QSize size(std::max(1, static_cast<int>(std::ceil(m_rect.width() * dpr))),
                     std::max(1, static_cast<int>(std::ceil(m_rect.height() * dpr))));
    m_bitmap = QImage(size, QImage::Format_RGB32);
    m_bitmap.setDevicePixelRatio(dpr);
    m_bitmap.fill(Qt::black);
    m_painter.begin(&m_bitmap);
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.setFont(target.font());
    m_painter.translate(-m_rect.topLeft());
}

COffscreenDC::~COffscreenDC()
{
    m_painter.end();
    if (m_rect.isEmpty())
        return;
    m_pTarget->save();
    m_pTarget->setCompositionMode(QPainter::CompositionMode_Source);
    m_pTarget->drawImage(m_rect.topLeft(), m_bitmap);
    m_pTarget->restore();
}

void DrawTransparentBitmap(QPainter& target, int x, int y, int width, int height, const QImage& source,
                           int sourceX, int sourceY, int sourceWidth, int sourceHeight, COLORREF keyColor)
{
    if (width <= 0 || height <= 0 || source.isNull() || sourceWidth <= 0 || sourceHeight <= 0)
        return;
    const qreal dpr = PaintDeviceRatio(target);
    const int devW = static_cast<int>(std::lround(width * dpr));
    const int devH = static_cast<int>(std::lround(height * dpr));

    QImage image =
        source.copy(sourceX, sourceY, sourceWidth, sourceHeight).convertToFormat(QImage::Format_RGB32);
    if (image.width() != devW || image.height() != devH)
        image = image.scaled(devW, devH, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    image.setDevicePixelRatio(dpr);

    // The mask is white where the image has the key colour, black elsewhere.
    const QRgb key = qRgb(GetRValue(keyColor), GetGValue(keyColor), GetBValue(keyColor));
    QImage mask(image.size(), QImage::Format_RGB32);
    mask.setDevicePixelRatio(dpr);
    for (int row = 0; row < image.height(); ++row) {
        auto* src = reinterpret_cast<QRgb*>(image.scanLine(row));
        auto* m = reinterpret_cast<QRgb*>(mask.scanLine(row));
        for (int col = 0; col < image.width(); ++col) {
            const bool keyed = (src[col] & 0xFFFFFF) == (key & 0xFFFFFF);
            m[col] = keyed ? 0xFFFFFFFF : 0xFF000000;
            if (keyed)
                src[col] = 0xFF000000; // image AND (inverted mask)
        }
    }

    target.save();
    target.setRenderHint(QPainter::Antialiasing, false);
    target.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QPointF at(x, y);
    if (target.paintEngine() && target.paintEngine()->type() == QPaintEngine::Raster) {
        target.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        target.drawImage(at, mask);
        target.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        target.drawImage(at, image);
    } else {
        // Engines without raster operations get the same pixels by alpha.
        QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
        for (int row = 0; row < keyed.height(); ++row) {
            auto* px = reinterpret_cast<QRgb*>(keyed.scanLine(row));
            const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(row));
            for (int col = 0; col < keyed.width(); ++col)
                if (m[col] & 0xFFFFFF)
                    px[col] = 0;
        }
        keyed.setDevicePixelRatio(dpr);
        target.setCompositionMode(QPainter::CompositionMode_SourceOver);
        target.drawImage(at, keyed);
    }
    target.restore();
    target.setBackground(Qt::white);
    target.setPen(Qt::black);
}
