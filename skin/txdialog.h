#pragma once

#include "skin/gdi.h"

#include <QDialog>
#include <QIcon>
#include <QPoint>
#include <QString>
#include <optional>
#include <tuple>

class QPainter;

// Kinds of control a dialog decides the colours of.
enum CtlColorKind : int
{
    CTLCOLOR_MSGBOX = 0,
    CTLCOLOR_EDIT = 1,
    CTLCOLOR_LISTBOX = 2,
    CTLCOLOR_BTN = 3,
    CTLCOLOR_DLG = 4,
    CTLCOLOR_SCROLLBAR = 5,
    CTLCOLOR_STATIC = 6,
    CTLCOLOR_NONE = -1, // a control that never asks (item views, containers)
};

// Base of the skinned dialogs: paints its whole client area itself, moves when
// dragged by its background, filters Enter and Escape, and lets chosen kinds of
// direct child controls show its painting through.
class CTxDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;

    explicit CTxDialog(QWidget* parent = nullptr);
    ~CTxDialog() override;

    // The second step of construction, once the object is whole: binds the
    // controls (DoDataExchange), then OnInitDialog, so a derived dialog's
    // overrides run. Runs once; showing the dialog (exec, show) runs it first
    // if nobody has.
    void Create();
    bool IsCreated() const { return m_bCreated; }
    void setVisible(bool visible) override;

    void SetBackgroundColor(COLORREF color, bool redraw);
    void SetTopBand(int inset, int top, int height, COLORREF color, bool rounded);
    void SetBottomBand(int inset, int distanceFromBottom, int height, COLORREF color, bool rounded);
    void EnableDragMove(bool enable);
    // The icon comes from the program's icon lookup.
    void SetTitleIcon(int x, int y, unsigned iconId);
    void SetTitleIcon(int x, int y, const QIcon& icon);
    void SetTitleText(const QString& text, int x, int y);
    void SetTitleColor(COLORREF color);
    void SetTitleShadow(COLORREF color, bool enable);
    void SetTitleFont(const QString& face, int height, int width, int weight, bool underline);
    void SetStaticTransparent(bool on);
    void SetEditTransparent(bool on);
    void SetExtraCtlTransparent(bool on);
    void SetListBoxTransparent(bool on);
    void AllowEnterKey(bool allow);
    void AllowEscapeKey(bool allow);
    void EnableHoverTracking(bool enable);
    void SetBandGradient(int mode, int step, bool redraw);

    // Which kind of control a widget is, for the colour decision.
    static int CtlColorKindOf(const QWidget* control);

    virtual void OnOK();
    virtual void OnCancel();

    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

protected:
    virtual void DoDataExchange() {}
    // The controls are bound; the dialog is set up before it is first shown.
    virtual bool OnInitDialog() { return true; }
    virtual bool UpdateData(bool saveAndValidate = true);
    void EndDialog(int result) { done(result); }

    // Sees every event for this dialog and its controls first; true stops it.
    virtual bool PreTranslateMessage(QObject* target, QEvent* event);
    // True when the control is to be drawn over the dialog's own painting.
    virtual bool OnCtlColor(QWidget* control, int kind);

    virtual void OnKillFocus();
    virtual void OnClose(QCloseEvent* event);
    virtual void OnLButtonDown(const QPoint& point, const QPointF& globalPoint);
    virtual void OnMouseMove(Qt::MouseButtons buttons, const QPoint& point);
    virtual void OnMouseLeave();
    virtual void OnActivate(bool active);
    // Composes every layer off-screen and copies the result to p.
    virtual bool OnEraseBkgnd(QPainter& p);
    // Drawn over the composed background by derived dialogs.
    virtual void OnPaint(QPainter&) {}

    virtual void PaintTopBand(QPainter& p, const CRect& rect, COLORREF color, bool rounded);
    virtual void PaintBottomBand(QPainter& p, const CRect& rect, COLORREF color, bool rounded);
    virtual void PaintTitle(QPainter& p);

    // The widget under a screen point; the platform's answer when it has one.
    virtual QWidget* WindowFromPoint(const QPoint& globalPoint) const;

    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

    void ApplyControlColors();
    void ApplyControlColor(QWidget* control);

    bool m_bHover = false;
    QIcon m_hIcon;
    int m_nIconWidth = 0;
    int m_nIconHeight = 0;
    int m_nIconX = 0;
    int m_nIconY = 0;
    bool m_bDragMove = false;
    bool m_bAllowEnter = false;
    bool m_bAllowEscape = false;
    bool m_bTopBand = false;
    bool m_bBottomBand = false;
    bool m_bTopRounded = false;
    bool m_bBottomRounded = false;
    bool m_bHoverTracking = true;
    COLORREF m_crTopBand = RGB(255, 255, 255);
    COLORREF m_crBottomBand = RGB(255, 255, 255);
    CRect m_rcTopBand;
    CRect m_rcBottomBand;
    bool m_bFillBackground = true;
    COLORREF m_crBackground = RGB(255, 255, 255);
    QString m_strTitle;
    int m_nTitleX = 0;
    int m_nTitleY = 0;
    QFont m_fontTitle;
    using TitleFontKey = std::tuple<QString, int, int, int, bool>;
    std::optional<TitleFontKey> m_titleFontKey; // what m_fontTitle was made from
    QString m_strTitleFontFace;
    int m_nTitleFontHeight = 40;
    int m_nTitleFontWidth = 15;
    int m_nTitleFontWeight = 600;
    bool m_bTitleFontUnderline = false;
    COLORREF m_crTitle = RGB(0, 0, 128);
    bool m_bTitleShadow = false;
    COLORREF m_crTitleShadow = RGB(69, 69, 69);
    bool m_bStaticTransparent = true;
    bool m_bEditTransparent = true;
    bool m_bButtonTransparent = true;
    bool m_bExtraTransparent = true;
    bool m_bListBoxTransparent = true;
    int m_nGradientMode = 0;
    int m_nGradientStep = 0;

private:
    void Invalidate(bool erase = true);

    bool m_bCreated = false;

    // Manual move, used when the window system cannot move the window for us.
    bool m_bManualMove = false;
    QPoint m_ptMoveOffset;
};

// Gives a window its rounded outline: the client rectangle with 4 x 4 corner
// ellipses, set once as the window mask.
void RoundWindowRegion(QWidget* window);
// The region CreateRoundRectRgn makes: pixels whose centres lie inside the
// rounded rectangle with an ellipseWidth x ellipseHeight corner ellipse.
QRegion RoundRectRegion(const QRect& rect, int ellipseWidth, int ellipseHeight);
