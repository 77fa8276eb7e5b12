#include "skin/skinbutton.h"

#include "skin/resource_lookup.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

CSkinButton::CSkinButton(QWidget* parent) : CSkinButton(QString(), parent) {}

CSkinButton::CSkinButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    ResetColors(false);
    FreeImages(false);
    setMouseTracking(true);
    setCheckable(false);
    m_bDefault = isDefault();
    // Connected before any owner's slot, so the focus moves before the command runs.
    connect(this, &QAbstractButton::clicked, this, &CSkinButton::OnClicked);
}

CSkinButton::~CSkinButton()
{
    ReleaseBackground();
    FreeImages(true);
}

void CSkinButton::Repaint()
{
    update();
}

void CSkinButton::OnClicked()
{
    setFocus(Qt::MouseFocusReason);
}

int CSkinButton::LoadIcons(int inIconId, int outIconId)
{
    const QIcon in = LoadIconResource(static_cast<unsigned>(inIconId) & 0xFFFF);
    const QIcon out = outIconId == 0 ? QIcon() : LoadIconResource(static_cast<unsigned>(outIconId) & 0xFFFF);
    return SetIcons(in, out);
}

int CSkinButton::TakeIconSlot(int slot, const QIcon& icon)
{
    const QSize size = IconNaturalSize(icon);
    m_Icons[slot].hIcon = icon;
    if (size.isEmpty())
        return SKIN_ERR_ICON;
    m_Icons[slot].nWidth = size.width();
    m_Icons[slot].nHeight = size.height();
    return SKIN_OK;
}

int CSkinButton::SetIcons(const QIcon& in, const QIcon& out)
{
    FreeImages(true);
    if (in.isNull()) {
        Repaint();
        return SKIN_OK;
    }
    if (TakeIconSlot(0, in) != SKIN_OK || (!out.isNull() && TakeIconSlot(1, out) != SKIN_OK)) {
        FreeImages(true);
        return SKIN_ERR_ICON;
    }
    Repaint();
    return SKIN_OK;
}

int CSkinButton::SetIcons(const QPixmap& in, const QPixmap& out)
{
    // A pixmap's own size is its device-independent size, whatever its pixel ratio.
    auto toIcon = [](const QPixmap& pm) {
        QIcon icon;
        if (pm.isNull())
            return icon;
        icon.addPixmap(pm);
        return icon;
    };
    const int rc = SetIcons(toIcon(in), toIcon(out));
    if (rc == SKIN_OK) {
        const QPixmap* pms[2] = {&in, &out};
        for (int i = 0; i < 2; ++i) {
            if (!m_Icons[i].hIcon.isNull()) {
                const QSizeF s = pms[i]->deviceIndependentSize();
                m_Icons[i].nWidth = static_cast<int>(s.width());
                m_Icons[i].nHeight = static_cast<int>(s.height());
            }
        }
    }
    return rc;
}

void CSkinButton::FreeImages(bool /*destroy*/)
{
    // The icons are shared values; dropping the slots releases them.
    for (IconSlot& slot : m_Icons)
        slot = IconSlot{};
}

int CSkinButton::SetColor(unsigned char index, COLORREF color, bool repaint)
{
    if (index >= BTNCLR_MAX)
        return SKIN_ERR_INDEX;
    m_crColors[index] = color;
    if (repaint)
        Repaint();
    return SKIN_OK;
}

int CSkinButton::ResetColors(bool repaint)
{
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    m_crColors[BTNCLR_BK_HOT] = m_crColors[BTNCLR_BK_NORMAL] = m_crColors[BTNCLR_BK_FOCUS] = face;
    m_crColors[BTNCLR_FG_HOT] = m_crColors[BTNCLR_FG_NORMAL] = m_crColors[BTNCLR_FG_FOCUS] = text;
    if (repaint)
        Repaint();
    return SKIN_OK;
}

void CSkinButton::SetTransparent(bool repaint)
{
    m_bTransparent = true;
    ReleaseBackground();
    if (repaint)
        Repaint();
}

void CSkinButton::SetBorderStyle(bool lineColorBorder, bool underlineBorder)
{
    m_bLineColorBorder = lineColorBorder;
    m_bUnderlineBorder = underlineBorder;
    Repaint();
}

void CSkinButton::ReleaseBackground()
{
    m_bmpBack = QPixmap();
}

int CSkinButton::OnGetDlgCode() const
{
    return DLGC_BUTTON | (m_bDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

int CSkinButton::OnSetStyle(unsigned style, bool redraw)
{
    const unsigned type = style & BS_TYPEMASK;
    if (type == BS_DEFPUSHBUTTON) {
        m_bDefault = true;
        setDefault(true);
    } else if (type == BS_PUSHBUTTON) {
        m_bDefault = false;
        setDefault(false);
    }
    // Whatever type is asked for, the button stays owner-drawn.
    m_nStyle = (style & ~0x14u) | BS_OWNERDRAW;
    if (redraw)
        Repaint();
    return 0;
}

void CSkinButton::CancelHover()
{
    if (!m_bHover)
        return;
    m_bHover = false;
    Repaint();
}

QWidget* CSkinButton::WindowFromPoint(const QPoint& globalPoint) const
{
    return QApplication::widgetAt(globalPoint);
}

void CSkinButton::OnMouseMove(Qt::MouseButtons buttons, const QPoint& point)
{
    QWidget* under = WindowFromPoint(mapToGlobal(point));
    // A drag that enters with the button held does not start a hover.
    if ((buttons & Qt::LeftButton) && !m_bHover)
        return;
    if (under == this) {
        if (!m_bHover) {
            m_bHover = true;
            Repaint();
        }
        return;
    }
    CancelHover();
}

void CSkinButton::OnCancelMode()
{
    CancelHover();
}

bool CSkinButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ApplicationPaletteChange:
        ReleaseBackground();
        break;
    case QEvent::WindowBlocked:
    case QEvent::UngrabMouse:
        OnCancelMode();
        break;
    case QEvent::WindowDeactivate:
        // Child widgets learn of deactivation by this event, not by an activation change.
        CancelHover();
        break;
    default:
        break;
    }
    const bool result = QPushButton::event(event);
    // The dialog moves the default state between push buttons as the focus moves.
    if (isDefault() != m_bDefault)
        m_bDefault = isDefault();
    return result;
}

void CSkinButton::mouseMoveEvent(QMouseEvent* event)
{
    QPushButton::mouseMoveEvent(event);
    OnMouseMove(event->buttons(), event->position().toPoint());
}

void CSkinButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click of a double click presses the button again.
    mousePressEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    CancelHover();
}

void CSkinButton::focusInEvent(QFocusEvent* event)
{
    // Keyboard users see where the focus is; mouse users keep the plain look.
    // Coming back to the window keeps whatever the focus showed before.
    switch (event->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        m_bFocusCue = true;
        break;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
        break;
    default:
        m_bFocusCue = false;
        break;
    }
    QPushButton::focusInEvent(event);
}

void CSkinButton::mousePressEvent(QMouseEvent* event)
{
    m_bFocusCue = false;
    update();
    QPushButton::mousePressEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    CancelHover();
}

void CSkinButton::moveEvent(QMoveEvent* event)
{
    // The snapshot is of the pixels that were behind the button; elsewhere it is wrong.
    ReleaseBackground();
    QPushButton::moveEvent(event);
}

void CSkinButton::resizeEvent(QResizeEvent* event)
{
    ReleaseBackground();
    QPushButton::resizeEvent(event);
}

void CSkinButton::paintEvent(QPaintEvent* /*event*/)
{
    if (m_bSnapshotting)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(font());
    DRAWITEMSTRUCT dis;
    dis.pDC = &p;
    dis.rcItem = CRect(rect());
    if (isDown())
        dis.itemState |= ODS_SELECTED;
    if (hasFocus())
        dis.itemState |= m_bFocusCue ? ODS_FOCUS : ODS_FOCUS | ODS_NOFOCUSRECT;
    DrawItem(&dis);
}

void CSkinButton::DrawItem(DRAWITEMSTRUCT* dis)
{
    QPainter* pDC = dis->pDC;
    m_bPressed = (dis->itemState & ODS_SELECTED) != 0;
    m_bFocused = (dis->itemState & ODS_FOCUS) != 0;
    pDC->setBackgroundMode(Qt::TransparentMode);

    CRect item = dis->rcItem;
    if (m_bTransparent)
        PaintParentBackground(pDC);
    else
        DrawBackground(pDC, &item);
    if (m_bPressed || m_bHover)
        DrawBorder(pDC, &item);

    const QString title = text();
    CRect caption = item;
    if (!m_Icons[0].hIcon.isNull())
        DrawIconImage(pDC, !title.isEmpty(), item, caption, m_bPressed);
    const bool hot = m_bHover || m_bPressed;
    const COLORREF textColor = m_crColors[hot ? BTNCLR_FG_HOT : BTNCLR_FG_NORMAL];
    if (m_bPressed)
        caption.OffsetRect(1, 1);
    const CRect available = caption;
    if (m_bFocused && !(dis->itemState & ODS_NOFOCUSRECT))
        DrawFocusMark(pDC, available, textColor);
    if (title.isEmpty())
        return;

    const QFontMetrics fm(pDC->font());
    const QRect measured =
        fm.boundingRect(QRect(caption.left, caption.top, std::max(available.Width(), 1), 1 << 16),
                        Qt::AlignHCenter | Qt::TextWordWrap, title);
    caption.right = caption.left + measured.width();
    caption.bottom = caption.top + measured.height();
    caption.OffsetRect((available.Width() - caption.Width()) / 2,
                       (available.Height() - caption.Height()) / 2);

    pDC->save();
    pDC->setBackgroundMode(Qt::TransparentMode);
    pDC->setPen(ToQColor(textColor));
    pDC->drawText(caption.ToQRect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title);
    pDC->restore();
}

void CSkinButton::DrawFocusMark(QPainter* pDC, const CRect& captionArea, COLORREF color)
{
    // Two pixels in, clear of the hover line, every other pixel set.
    const int left = captionArea.left + 2, top = captionArea.top + 2;
    const int right = captionArea.right - 3, bottom = captionArea.bottom - 4;
    if (right <= left || bottom <= top)
        return;
    QList<QPoint> dots;
    const auto dot = [&dots, left, top](int x, int y) {
        if ((x - left + y - top) % 2 == 0)
            dots << QPoint(x, y);
    };
    for (int x = left; x <= right; ++x) {
        dot(x, top);
        dot(x, bottom);
    }
    for (int y = top + 1; y < bottom; ++y) {
        dot(left, y);
        dot(right, y);
    }
    pDC->save();
    pDC->setPen(QPen(ToQColor(color), 0));
    pDC->drawPoints(dots.constData(), static_cast<int>(dots.size()));
    pDC->restore();
}

int CSkinButton::DrawBackground(QPainter* pDC, CRect* rect)
{
    COLORREF color = m_crColors[BTNCLR_BK_NORMAL];
    if (m_bHover || m_bPressed)
        color = m_crColors[BTNCLR_BK_HOT];
    else if (m_bFocused)
        color = m_crColors[BTNCLR_BK_FOCUS];
    FillSolidRect(*pDC, *rect, color);
    return 0;
}

int CSkinButton::DrawBorder(QPainter* pDC, CRect* rect)
{
    if (m_bPressed)
        Draw3dRect(*pDC, *rect, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
    else if (m_bUnderlineBorder)
        LineTo(*pDC, rect->left, rect->bottom - 2, rect->right, rect->bottom - 2, m_crColors[BTNCLR_LINE]);
    else if (m_bLineColorBorder)
        Draw3dRect(*pDC, *rect, m_crColors[BTNCLR_LINE], m_crColors[BTNCLR_LINE]);
    else
        Draw3dRect(*pDC, *rect, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
    return 0;
}

void CSkinButton::PaintParentBackground(QPainter* pDC)
{
    QWidget* parent = parentWidget();
    if (!parent)
        return;
    const int w = width();
    const int h = height();
    const qreal dpr = PaintDeviceRatio(*pDC);
    // A snapshot taken at another pixel ratio would be scaled; take a fresh one.
    if (!m_bmpBack.isNull() && !qFuzzyCompare(m_bmpBack.devicePixelRatio(), dpr))
        ReleaseBackground();
    if (m_bmpBack.isNull()) {
        QPixmap snapshot(static_cast<int>(std::ceil(w * dpr)), static_cast<int>(std::ceil(h * dpr)));
        snapshot.setDevicePixelRatio(dpr);
        snapshot.fill(Qt::black);
        m_bSnapshotting = true;
        // The parent's own painting only: its controls, this one included, draw themselves.
        parent->render(&snapshot, QPoint(0, 0), QRegion(QRect(pos(), QSize(w, h))),
                       QWidget::DrawWindowBackground);
        m_bSnapshotting = false;
        m_bmpBack = snapshot;
    }
    pDC->drawPixmap(0, 0, m_bmpBack);
}

void CSkinButton::PlaceImage(bool hasCaption, const CRect& item, CRect& caption, bool pressed, int imageWidth,
                             int imageHeight, CRect& image) const
{
    const int itemWidth = item.Width();
    const int itemHeight = item.Height();
    image = item;
    if (hasCaption) {
        image.left += 3;
        caption.left += imageWidth + 3;
    } else {
        image.left += (itemWidth - imageWidth) / 2;
    }
    image.top += (itemHeight - imageHeight) / 2;
    if (pressed)
        image.OffsetRect(1, 1);
}

void CSkinButton::DrawIconImage(QPainter* pDC, bool hasCaption, const CRect& item, CRect& caption,
                                bool pressed)
{
    int slot = 0;
    if (!(m_bPressed || m_bHover) && !m_Icons[1].hIcon.isNull())
        slot = 1;
    const IconSlot& icon = m_Icons[slot];
    CRect image;
    PlaceImage(hasCaption, item, caption, pressed, icon.nWidth, icon.nHeight, image);
    const qreal dpr = PaintDeviceRatio(*pDC);
    const QSize size(icon.nWidth, icon.nHeight);
    pDC->drawPixmap(QRect(QPoint(image.left, image.top), size), icon.hIcon.pixmap(size, dpr));
}
