#include "skin/skinheader.h"

#include "skin/offscreen.h"
#include "skin/resource_lookup.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <cmath>

CSkinHeaderCtrl::CSkinHeaderCtrl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), m_strFontFace(QStringLiteral("宋体")),
      m_crOutline(GetSysColor(COLOR_BTNFACE)), m_crSeparator(GetSysColor(COLOR_BTNHIGHLIGHT))
{
    // Nothing is erased before a paint; the paint covers every pixel itself.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    // Columns as narrow as the list's 22-pixel icon columns must be possible.
    setMinimumSectionSize(0);
}

CSkinHeaderCtrl::~CSkinHeaderCtrl() = default;

void CSkinHeaderCtrl::SetFontFace(const QString& face)
{
    m_strFontFace = face.isEmpty() ? QStringLiteral("宋体") : face;
}

void CSkinHeaderCtrl::SetFontSize(int height, int width)
{
    m_nFontHeight = height;
    m_nFontWidth = width;
}

void CSkinHeaderCtrl::SetFontBold(BOOL bold)
{
    m_bBold = bold;
}

void CSkinHeaderCtrl::SetBackground(COLORREF color, int step)
{
    m_nBaseRed = GetRValue(color);
    m_nBaseGreen = GetGValue(color);
    m_nBaseBlue = GetBValue(color);
    m_nGradientStep = step;
}

void CSkinHeaderCtrl::SetHeightFactor(float factor)
{
    m_fHeightFactor = factor;
    // The owning view lays its rows out below the header when told it changed.
    updateGeometry();
    emit geometriesChanged();
}

void CSkinHeaderCtrl::SetTextColor(COLORREF color)
{
    m_crText = color;
}

void CSkinHeaderCtrl::SetGradientMode(int mode)
{
    m_nGradientMode = mode;
}

void CSkinHeaderCtrl::SetOutline(COLORREF color, int flag)
{
    m_crOutline = color;
    m_bOutline = flag != 0;
    viewport()->update();
}

void CSkinHeaderCtrl::SetSeparators(COLORREF color, int flag)
{
    m_crSeparator = color;
    m_bSeparators = flag != 0;
    viewport()->update();
}

void CSkinHeaderCtrl::SetBitmapAlign(short align, int redraw)
{
    m_nBitmapAlign = align;
    if ((redraw & 0xFF) != 0)
        viewport()->update();
}

void CSkinHeaderCtrl::SetColumnBitmap(QAbstractItemView* list, int column, unsigned bitmapId, int flag)
{
    SetColumnBitmap(list, column, LoadBitmapResource(bitmapId), flag);
    if (column >= 0 && column < MAX_BITMAP_COLUMNS)
        m_ColumnBitmaps[column].nBitmapId = bitmapId;
}

void CSkinHeaderCtrl::SetColumnBitmap(QAbstractItemView* /*list*/, int column, const QImage& bitmap,
                                      int /*flag*/)
{
    if (column < 0)
        return;
    HDITEM& item = m_items[column];
    item.fmt |= HDF_BITMAP | HDF_STRING | HDF_OWNERDRAW;
    item.hbm = MapSystemColors(bitmap);
    if (column < MAX_BITMAP_COLUMNS)
        m_ColumnBitmaps[column] = ColumnBitmapSlot{true, column, 0};
    viewport()->update();
}

QSize CSkinHeaderCtrl::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(static_cast<int>(size.height() * m_fHeightFactor));
    return size;
}

QSize CSkinHeaderCtrl::sectionSizeFromContents(int logicalIndex) const
{
    // The platform lays every heading out in a bold font to size its section.
    // The headings are drawn in their own font, so only the height counts,
    // and one line of that bold font is as tall as its metrics say: shaping
    // the Chinese headings to learn it would load the font's tables for text
    // that is never drawn, before the window can be shown.
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.section = logicalIndex;
    QFont bold = font();
    bold.setBold(true);
    const QFontMetricsF fm(bold);
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, &opt, this);
    const int text = static_cast<int>(std::ceil(fm.height()));
    const qsizetype chars = model() ? model()->headerData(logicalIndex, orientation()).toString().size() : 0;
    const int width = static_cast<int>(std::ceil(fm.averageCharWidth() * static_cast<qreal>(chars)));
    return {margin + width + margin, margin + text + margin};
}

CRect CSkinHeaderCtrl::GetItemRect(int column) const
{
    if (column < 0 || column >= count() || isSectionHidden(column))
        return {};
    const int left = sectionViewportPosition(column);
    return CRect(left, 0, left + sectionSize(column), viewport()->height());
}

HDITEM CSkinHeaderCtrl::GetItem(int column, unsigned mask) const
{
    HDITEM item;
    const auto it = m_items.find(column);
    if (it != m_items.end())
        item = it->second;
    item.mask = mask;
    item.cxy = sectionSize(column);
    item.iOrder = visualIndex(column);
    return item;
}

QString CSkinHeaderCtrl::HeadingAt(int index) const
{
    // An owner that filled fewer headings than columns gets empty ones.
    return index >= 0 && index < m_astrHeadings.size() ? m_astrHeadings.at(index) : QString();
}

QFont CSkinHeaderCtrl::CreateHeadingFont() const
{
    return CreateFontA(m_nFontHeight, m_nFontWidth, m_bBold == 1 ? 700 : 400, false, m_strFontFace);
}

void CSkinHeaderCtrl::paintEvent(QPaintEvent* event)
{
    QPainter target(viewport());
    COffscreenDC dc(target, event->rect());
    QPainter& p = dc.GetPainter();
    DrawBackground(p, CRect(dc.GetClipBox()));
    for (int i = 0; i < MAX_BITMAP_COLUMNS; ++i)
        if (m_ColumnBitmaps[i].bUsed)
            DrawColumnBitmapItem(p, i);
    DrawHeadings(p);
    if (m_bDrawTail)
        DrawTail(p);
    if (m_bSeparators)
        DrawSeparators(p);
    if (m_bOutline)
        DrawOutline(p);
}

void CSkinHeaderCtrl::FillWithBackgroundRule(QPainter& dc, const CRect& area, bool includeBottom)
{
    int divisor = 2;
    if (m_nGradientMode == 0) {
        m_nGradientStep = 0;
        divisor = 1;
    } else if (m_nGradientMode == 1) {
        divisor = 1;
    }
    int r = m_nBaseRed, g = m_nBaseGreen, b = m_nBaseBlue;
    const int last = includeBottom ? area.bottom : area.bottom - 1;
    const int turn = area.bottom / divisor;
    for (int y = area.top; y <= last; ++y) {
        FillSolidRect(dc, CRect(area.left, y, area.right, y + 1), RGB(r % 256, g % 256, b % 256));
        const int step = y > turn ? m_nGradientStep : -m_nGradientStep;
        r = std::max(r + step, 0);
        g = std::max(g + step, 0);
        b = std::max(b + step, 0);
    }
}

void CSkinHeaderCtrl::DrawBackground(QPainter& dc, const CRect& clipBox)
{
    FillWithBackgroundRule(dc, clipBox, false);
    dc.setBackgroundMode(Qt::TransparentMode);
}

void CSkinHeaderCtrl::DrawTail(QPainter& dc)
{
    if (count() == 0)
        return;
    const CRect last = GetItemRect(count() - 1);
    const CRect client(viewport()->rect());
    const CRect area(last.right + 1, last.top, client.right, last.bottom);
    if (area.Width() > 0)
        FillWithBackgroundRule(dc, area, true);
}

void CSkinHeaderCtrl::DrawHeadings(QPainter& dc)
{
    dc.save();
    const QFont font = CreateHeadingFont();
    dc.setFont(font);
    dc.setPen(ToQColor(m_crText));
    const int tmHeight = QFontMetrics(font).height();
    for (int i = 0; i < count(); ++i) {
        if (isSectionHidden(i))
            continue;
        CRect rc = GetItemRect(i);
        const QChar align = i < m_strAlign.size() ? m_strAlign.at(i) : QChar('1');
        int flags = Qt::AlignHCenter;
        if (align == QLatin1Char('0')) {
            rc.left += 3;
            flags = Qt::AlignLeft;
        } else if (align == QLatin1Char('2')) {
            rc.right -= 3;
            flags = Qt::AlignRight;
        }
        rc.OffsetRect(0, (rc.Height() - tmHeight) / 2);
        const bool hasSlot = i < MAX_BITMAP_COLUMNS && m_ColumnBitmaps[i].bUsed;
        if (!hasSlot && rc.Width() > 0)
            dc.drawText(rc.ToQRect(), flags | Qt::AlignTop, HeadingAt(i));
    }
    dc.restore();
}

void CSkinHeaderCtrl::DrawColumnBitmapItem(QPainter& dc, int slot)
{
    if (slot < 0 || slot >= MAX_BITMAP_COLUMNS || !m_ColumnBitmaps[slot].bUsed)
        return;
    const int column = logicalIndex(slot);
    if (column < 0)
        return;
    const HDITEM item = GetItem(column, HDI_WIDTH | HDI_TEXT | HDI_FORMAT | HDI_BITMAP | HDI_ORDER);
    const CRect rc = GetItemRect(column);
    if (!(item.fmt & HDF_OWNERDRAW))
        return;
    DrawHeaderItem(dc, rc.left, rc.top, rc.right, rc.bottom, item);
}

void CSkinHeaderCtrl::DrawHeaderItem(QPainter& dc, int left, int top, int right, int bottom,
                                     const HDITEM& item)
{
    int advance = 0;
    if ((item.fmt & HDF_BITMAP) && !item.hbm.isNull())
        advance = DrawItemBitmap(dc, left, top, right, bottom, item);
    DrawItemText(dc, left + advance, top, right, bottom, item);
}

int CSkinHeaderCtrl::DrawItemBitmap(QPainter& dc, int left, int top, int right, int bottom,
                                    const HDITEM& item)
{
    const QFontMetrics fm(CreateHeadingFont());
    const int headingWidth = static_cast<int>(HeadingAt(item.iOrder).size()) * fm.averageCharWidth();
    if (item.hbm.isNull())
        return 0;
    const QSizeF logical = item.hbm.deviceIndependentSize();
    const int w = static_cast<int>(logical.width());
    const int h = static_cast<int>(logical.height());
    if (w > right - left || right - left <= 0)
        return 0;
    const int freeWidth = (right - left) - w - headingWidth;
    const int y = (top + bottom) / 2 - h / 2;
    int x = 0;
    int advance = 0;
    if (m_nBitmapAlign == 0) {
        x = left + 2;
        advance = w + 3;
    } else if (m_nBitmapAlign == 2) {
        x = right - w - 2;
        advance = x - left - headingWidth - 2;
    } else {
        const int half = freeWidth / 2;
        x = left + half;
        advance = w + half + 1;
    }
    DrawTransparentBitmap(dc, x, y, w, h, item.hbm, 0, 0, item.hbm.width(), item.hbm.height(),
                          GetSysColor(COLOR_BTNFACE));
    return advance;
}

void CSkinHeaderCtrl::DrawItemText(QPainter& dc, int left, int top, int right, int bottom, const HDITEM& item)
{
    dc.setPen(ToQColor(m_crText));
    if (!(item.mask & HDI_TEXT) || !(item.fmt & HDF_STRING) || right <= left)
        return;
    dc.save();
    const QFont font = CreateHeadingFont();
    dc.setFont(font);
    const QString text = QFontMetrics(font).elidedText(HeadingAt(item.iOrder), Qt::ElideRight, right - left);
    dc.drawText(QRect(left, top, right - left, bottom - top),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    dc.restore();
}

void CSkinHeaderCtrl::DrawSeparators(QPainter& dc)
{
    for (int i = 0; i < count(); ++i) {
        const int column = logicalIndex(i);
        if (column < 0 || isSectionHidden(column))
            continue;
        const CRect rc = GetItemRect(column);
        LineTo(dc, rc.right, rc.top, rc.right, rc.bottom, m_crSeparator);
    }
}

void CSkinHeaderCtrl::DrawOutline(QPainter& dc)
{
    Draw3dRect(dc, CRect(viewport()->rect()), m_crOutline, m_crOutline);
}

QImage MapSystemColors(const QImage& bitmap)
{
    if (bitmap.isNull())
        return bitmap;
    QImage out = bitmap.convertToFormat(QImage::Format_RGB32);
    const QRgb shadow = ToQColor(GetSysColor(COLOR_3DSHADOW)).rgb();
    const QRgb face = ToQColor(GetSysColor(COLOR_3DFACE)).rgb();
    const QRgb light = ToQColor(GetSysColor(COLOR_3DLIGHT)).rgb();
    for (int y = 0; y < out.height(); ++y) {
        auto* px = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            switch (px[x] & 0xFFFFFF) {
            case 0x808080:
                px[x] = shadow;
                break;
            case 0xC0C0C0:
                px[x] = face;
                break;
            case 0xDFDFDF:
                px[x] = light;
                break;
            default:
                break;
            }
        }
    }
    return out;
}
