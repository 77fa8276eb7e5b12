#include "skin/txdialog.h"

#include "skin/resource_lookup.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QToolButton>
#include <QWindow>
#include <cmath>
#include <utility>

namespace {

const char* const SAVED_AUTOFILL_PROPERTY = "_skinSavedAutoFill";
const char* const SAVED_PALETTE_PROPERTY = "_skinSavedPalette";
const char* const HAD_OWN_PALETTE_PROPERTY = "_skinHadOwnPalette";

} // namespace

CTxDialog::CTxDialog(QWidget* parent) : QDialog(parent), m_strTitleFontFace(QStringLiteral("微软雅黑"))
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Keys are filtered before the focused control sees them, as a message loop would.
    qApp->installEventFilter(this);
}

CTxDialog::~CTxDialog() = default;

void CTxDialog::Create()
{
    if (std::exchange(m_bCreated, true))
        return;
    DoDataExchange();
    OnInitDialog();
}

void CTxDialog::setVisible(bool visible)
{
    if (visible && !m_bCreated)
        Create();
    QDialog::setVisible(visible);
}

void CTxDialog::Invalidate(bool /*erase*/)
{
    update();
}

void CTxDialog::SetBackgroundColor(COLORREF color, bool redraw)
{
    m_bFillBackground = true;
    m_crBackground = color;
    if (redraw)
        Invalidate();
}

void CTxDialog::SetTopBand(int inset, int top, int height, COLORREF color, bool rounded)
{
    m_bTopBand = true;
    m_crTopBand = color;
    m_bTopRounded = rounded;
    inset = std::max(inset, 0);
    top = std::max(top, 0);
    if (height < 0)
        height = 8;
    const CRect client(rect());
    m_rcTopBand.left = client.left + inset;
    m_rcTopBand.top = client.top + top;
    m_rcTopBand.right = client.right - inset - 2 * client.left;
    m_rcTopBand.bottom = m_rcTopBand.top + height;
    Invalidate();
}

void CTxDialog::SetBottomBand(int inset, int distanceFromBottom, int height, COLORREF color, bool rounded)
{
    m_bBottomBand = true;
    m_crBottomBand = color;
    m_bBottomRounded = rounded;
    inset = std::max(inset, 0);
    distanceFromBottom = std::max(distanceFromBottom, 0);
    if (height < 0)
        height = 8;
    if (height > distanceFromBottom)
        height = distanceFromBottom - 1;
    const CRect client(rect());
    m_rcBottomBand.left = client.left + inset;
    m_rcBottomBand.top = client.bottom - distanceFromBottom;
    m_rcBottomBand.right = client.right - inset - 2 * client.left;
    m_rcBottomBand.bottom = m_rcBottomBand.top + height;
    Invalidate();
}

void CTxDialog::EnableDragMove(bool enable)
{
    m_bDragMove = enable;
    Invalidate();
}

void CTxDialog::SetTitleIcon(int x, int y, unsigned iconId)
{
    SetTitleIcon(x, y, LoadIconResource(iconId));
}

void CTxDialog::SetTitleIcon(int x, int y, const QIcon& icon)
{
    m_hIcon = QIcon();
    m_hIcon = icon;
    m_nIconX = x;
    m_nIconY = y;
    const QSize size = IconNaturalSize(icon);
    if (size.isEmpty()) {
        m_hIcon = QIcon();
        return;
    }
    m_nIconWidth = size.width();
    m_nIconHeight = size.height();
    Invalidate();
}

void CTxDialog::SetTitleText(const QString& text, int x, int y)
{
    m_strTitle = text;
    m_nTitleX = x;
    m_nTitleY = y;
    Invalidate();
}

void CTxDialog::SetTitleColor(COLORREF color)
{
    m_crTitle = color;
    Invalidate();
}

void CTxDialog::SetTitleShadow(COLORREF color, bool enable)
{
    m_crTitleShadow = color;
    m_bTitleShadow = enable;
    if (enable)
        Invalidate();
}

void CTxDialog::SetTitleFont(const QString& face, int height, int width, int weight, bool underline)
{
    m_strTitleFontFace = face;
    m_nTitleFontHeight = height;
    m_nTitleFontWidth = width;
    m_nTitleFontWeight = weight;
    m_bTitleFontUnderline = underline;
    Invalidate();
}

void CTxDialog::SetStaticTransparent(bool on)
{
    m_bStaticTransparent = on;
    ApplyControlColors();
    Invalidate();
}

void CTxDialog::SetEditTransparent(bool on)
{
    m_bEditTransparent = on;
    ApplyControlColors();
    Invalidate();
}

void CTxDialog::SetExtraCtlTransparent(bool on)
{
    m_bExtraTransparent = on;
    Invalidate();
}

void CTxDialog::SetListBoxTransparent(bool on)
{
    m_bListBoxTransparent = on;
    ApplyControlColors();
    Invalidate();
}

void CTxDialog::AllowEnterKey(bool allow)
{
    m_bAllowEnter = allow;
    Invalidate();
}

void CTxDialog::AllowEscapeKey(bool allow)
{
    m_bAllowEscape = allow;
    Invalidate();
}

void CTxDialog::EnableHoverTracking(bool enable)
{
    m_bHoverTracking = enable;
    Invalidate();
}

void CTxDialog::SetBandGradient(int mode, int step, bool redraw)
{
    m_nGradientMode = mode;
    m_nGradientStep = step % 255;
    if (redraw)
        Invalidate(redraw);
}

bool CTxDialog::UpdateData(bool /*saveAndValidate*/)
{
    DoDataExchange();
    return true;
}

void CTxDialog::OnOK()
{
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void CTxDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CTxDialog::PreTranslateMessage(QObject* /*target*/, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape && !m_bAllowEscape)
        return true;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_bAllowEnter)
        return true;
    return false;
}

bool CTxDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w == this || w->window() == this)
            return PreTranslateMessage(watched, event);
    }
    return QDialog::eventFilter(watched, event);
}

int CTxDialog::CtlColorKindOf(const QWidget* control)
{
    if (!control)
        return CTLCOLOR_NONE;
    if (qobject_cast<const QMessageBox*>(control))
        return CTLCOLOR_MSGBOX;
    if (qobject_cast<const QDialog*>(control))
        return CTLCOLOR_DLG;
    if (qobject_cast<const QPushButton*>(control) || qobject_cast<const QToolButton*>(control))
        return CTLCOLOR_BTN;
    // Check boxes, radio buttons and group boxes ask as static controls.
    if (qobject_cast<const QLabel*>(control) || qobject_cast<const QCheckBox*>(control) ||
        qobject_cast<const QRadioButton*>(control) || qobject_cast<const QGroupBox*>(control))
        return CTLCOLOR_STATIC;
    if (qobject_cast<const QLineEdit*>(control) || qobject_cast<const QTextEdit*>(control) ||
        qobject_cast<const QPlainTextEdit*>(control) || qobject_cast<const QAbstractSpinBox*>(control))
        return CTLCOLOR_EDIT;
    if (qobject_cast<const QListView*>(control))
        return CTLCOLOR_LISTBOX;
    if (qobject_cast<const QScrollBar*>(control))
        return CTLCOLOR_SCROLLBAR;
    return CTLCOLOR_NONE;
}

bool CTxDialog::OnCtlColor(QWidget* /*control*/, int kind)
{
    switch (kind) {
    case CTLCOLOR_STATIC:
        return m_bStaticTransparent;
    case CTLCOLOR_BTN:
        return m_bButtonTransparent;
    case CTLCOLOR_EDIT:
        return m_bEditTransparent;
    case CTLCOLOR_LISTBOX:
    case CTLCOLOR_SCROLLBAR:
        return m_bListBoxTransparent;
    default:
        return false;
    }
}

void CTxDialog::ApplyControlColors()
{
    for (QObject* child : children())
        if (child->isWidgetType())
            ApplyControlColor(static_cast<QWidget*>(child));
}

void CTxDialog::ApplyControlColor(QWidget* control)
{
    // Only the dialog's own controls ask; their inner parts belong to them.
    if (!control || control->parentWidget() != this || control->isWindow())
        return;
    const int kind = CtlColorKindOf(control);
    const bool transparent = kind != CTLCOLOR_NONE && OnCtlColor(control, kind);
    const bool saved = control->property(SAVED_AUTOFILL_PROPERTY).isValid();
    if (transparent && !saved) {
        control->setProperty(SAVED_AUTOFILL_PROPERTY, control->autoFillBackground());
        control->setProperty(HAD_OWN_PALETTE_PROPERTY, control->testAttribute(Qt::WA_SetPalette));
        control->setProperty(SAVED_PALETTE_PROPERTY, QVariant::fromValue(control->palette()));
        QPalette pal = control->palette();
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            pal.setBrush(role, Qt::transparent);
        control->setAutoFillBackground(false);
        control->setPalette(pal);
    } else if (!transparent && saved) {
        const bool autoFill = control->property(SAVED_AUTOFILL_PROPERTY).toBool();
        const bool hadOwn = control->property(HAD_OWN_PALETTE_PROPERTY).toBool();
        const auto pal = control->property(SAVED_PALETTE_PROPERTY).value<QPalette>();
        control->setProperty(SAVED_AUTOFILL_PROPERTY, QVariant());
        control->setProperty(HAD_OWN_PALETTE_PROPERTY, QVariant());
        control->setProperty(SAVED_PALETTE_PROPERTY, QVariant());
        control->setPalette(hadOwn ? pal : QPalette());
        control->setAutoFillBackground(autoFill);
    }
}

bool CTxDialog::event(QEvent* event)
{
    if (event->type() == QEvent::ChildPolished) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType())
            ApplyControlColor(static_cast<QWidget*>(child));
    }
    return QDialog::event(event);
}

QWidget* CTxDialog::WindowFromPoint(const QPoint& globalPoint) const
{
    return QApplication::widgetAt(globalPoint);
}

void CTxDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(event->position().toPoint(), event->globalPosition());
    QDialog::mousePressEvent(event);
}

void CTxDialog::OnLButtonDown(const QPoint& point, const QPointF& globalPoint)
{
    if (!m_bDragMove || childAt(point) != nullptr)
        return;
    QWindow* handle = windowHandle();
    if (handle && handle->startSystemMove())
        return;
    // No window manager to do it (or it refused): follow the mouse ourselves.
    m_bManualMove = true;
    m_ptMoveOffset = globalPoint.toPoint() - pos();
}

void CTxDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_bManualMove) {
        if (event->buttons() & Qt::LeftButton)
            move(event->globalPosition().toPoint() - m_ptMoveOffset);
        else
            m_bManualMove = false;
    }
    QDialog::mouseMoveEvent(event);
    OnMouseMove(event->buttons(), event->position().toPoint());
}

void CTxDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_bManualMove = false;
    QDialog::mouseReleaseEvent(event);
}

void CTxDialog::OnMouseMove(Qt::MouseButtons buttons, const QPoint& point)
{
    QWidget* under = WindowFromPoint(mapToGlobal(point));
    if ((buttons & Qt::LeftButton) && !m_bHover)
        return;
    if (under == this && QApplication::activeWindow() != nullptr && m_bHoverTracking) {
        if (!m_bHover) {
            m_bHover = true;
            Invalidate();
        }
        return;
    }
    m_bHover = false;
}

void CTxDialog::leaveEvent(QEvent* event)
{
    QDialog::leaveEvent(event);
    OnMouseLeave();
}

void CTxDialog::OnMouseLeave()
{
    m_bHover = false;
}

void CTxDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        OnActivate(isActiveWindow());
}

void CTxDialog::OnActivate(bool active)
{
    if (!active)
        m_bHover = false;
}

void CTxDialog::focusOutEvent(QFocusEvent* event)
{
    QDialog::focusOutEvent(event);
    OnKillFocus();
}

void CTxDialog::OnKillFocus()
{
    update();
}

void CTxDialog::closeEvent(QCloseEvent* event)
{
    OnClose(event);
}

void CTxDialog::OnClose(QCloseEvent* event)
{
    QDialog::closeEvent(event);
}

void CTxDialog::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    // A translucent window (Wayland, see RoundWindowRegion) shows what it does not paint.
    if (testAttribute(Qt::WA_TranslucentBackground) && !mask().isEmpty())
        p.setClipRegion(mask());
    OnEraseBkgnd(p);
    OnPaint(p);
}

bool CTxDialog::OnEraseBkgnd(QPainter& target)
{
    const int w = width();
    const int h = height();
    const qreal dpr = PaintDeviceRatio(target);
    QImage buffer(static_cast<int>(std::ceil(w * dpr)), static_cast<int>(std::ceil(h * dpr)),
                  QImage::Format_RGB32);
    buffer.setDevicePixelRatio(dpr);
    buffer.fill(Qt::black);
    {
        QPainter mem(&buffer);
        mem.setRenderHint(QPainter::Antialiasing, false);
        if (m_bFillBackground)
            FillSolidRect(mem, CRect(0, 0, w, h), m_crBackground);
        if (m_bTopBand)
            PaintTopBand(mem, m_rcTopBand, m_crTopBand, m_bTopRounded);
        if (m_bBottomBand)
            PaintBottomBand(mem, m_rcBottomBand, m_crBottomBand, m_bBottomRounded);
        if (!m_hIcon.isNull() && m_nIconWidth > 0 && m_nIconHeight > 0) {
            const QRect at(m_nIconX, m_nIconY, m_nIconWidth, m_nIconHeight);
            mem.drawPixmap(at, m_hIcon.pixmap(at.size(), dpr));
        }
        if (!m_strTitle.isEmpty())
            PaintTitle(mem);
    }
    target.save();
    target.setCompositionMode(QPainter::CompositionMode_Source);
    target.drawImage(QPoint(0, 0), buffer);
    target.restore();
    return true;
}

void CTxDialog::PaintTopBand(QPainter& p, const CRect& rc, COLORREF color, bool rounded)
{
    p.setBackgroundMode(Qt::TransparentMode);
    if (rounded) {
        p.save();
        p.setClipRegion(RoundRectRegion(rc.ToQRect(), 2, 2));
        FillSolidRect(p, rc, color);
        p.restore();
        return;
    }
    int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int divisor = 1;
    if (m_nGradientMode == 2) {
        divisor = 2;
    } else if (m_nGradientMode != 1) {
        m_nGradientStep = 0;
    }
    if (rc.top >= rc.bottom)
        return;
    const int turn = rc.bottom / divisor;
    for (int y = rc.top; y < rc.bottom; ++y) {
        FillSolidRect(p, CRect(rc.left, y, rc.right, y + 1), RGB(r, g, b));
        const int step = y > turn ? m_nGradientStep : -m_nGradientStep;
        for (int* c : {&r, &g, &b}) {
            *c += step;
            if (*c < 0 || *c > 255)
                *c = 0;
        }
    }
}

void CTxDialog::PaintBottomBand(QPainter& p, const CRect& rc, COLORREF color, bool rounded)
{
    if (rounded) {
        p.save();
        p.setClipRegion(RoundRectRegion(rc.ToQRect(), 2, 2));
        FillSolidRect(p, rc, color);
        p.restore();
        return;
    }
    FillSolidRect(p, rc, color);
}

void CTxDialog::PaintTitle(QPainter& p)
{
    p.save();
    p.setBackgroundMode(Qt::TransparentMode);
    // Made when first painted and again only when its description changed:
    // measuring a font loads it, which is work the start-up need not do.
    const TitleFontKey key{m_strTitleFontFace, m_nTitleFontHeight, m_nTitleFontWidth, m_nTitleFontWeight,
                           m_bTitleFontUnderline};
    if (!m_titleFontKey || *m_titleFontKey != key) {
        m_fontTitle = CreateFontA(m_nTitleFontHeight, m_nTitleFontWidth, m_nTitleFontWeight,
                                  m_bTitleFontUnderline, m_strTitleFontFace);
        m_titleFontKey = key;
    }
    p.setFont(m_fontTitle);
    const int ascent = QFontMetrics(m_fontTitle, p.device()).ascent();
    if (m_bTitleShadow) {
        p.setPen(ToQColor(m_crTitleShadow));
        p.drawText(QPoint(m_nTitleX + 2, m_nTitleY + 2 + ascent), m_strTitle);
    }
    p.setPen(ToQColor(m_crTitle));
    p.drawText(QPoint(m_nTitleX, m_nTitleY + ascent), m_strTitle);
    p.restore();
}

QRegion RoundRectRegion(const QRect& rect, int ellipseWidth, int ellipseHeight)
{
    QRegion region;
    if (rect.isEmpty())
        return region;
    const double a = std::max(ellipseWidth, 0) / 2.0;
    const double b = std::max(ellipseHeight, 0) / 2.0;
    const int w = rect.width();
    const int h = rect.height();
    // Horizontal inset of a row from the nearer of the top and bottom edges.
    auto insetForRow = [&](int row) {
        const int fromEdge = std::min(row, h - 1 - row);
        const double dy = b - (fromEdge + 0.5);
        if (b <= 0 || a <= 0 || dy <= 0)
            return 0;
        if (dy >= b)
            return w;
        const double half = a * std::sqrt(1.0 - (dy / b) * (dy / b));
        return std::max(0, static_cast<int>(std::ceil(a - half - 0.5)));
    };
    int row = 0;
    while (row < h) {
        const int inset = insetForRow(row);
        int end = row + 1;
        while (end < h && insetForRow(end) == inset)
            ++end;
        if (2 * inset < w)
            region += QRect(rect.left() + inset, rect.top() + row, w - 2 * inset, end - row);
        row = end;
    }
    return region;
}

void RoundWindowRegion(QWidget* window)
{
    if (!window)
        return;
    // Wayland has no shape extension: a mask only limits input there, so the
    // corners are cut by leaving them transparent. Only before the window exists.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && window->isWindow() &&
        !window->testAttribute(Qt::WA_WState_Created))
        window->setAttribute(Qt::WA_TranslucentBackground);
    window->setMask(RoundRectRegion(window->rect(), 4, 4));
}
