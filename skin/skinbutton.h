#pragma once

#include "skin/gdi.h"

#include <QIcon>
#include <QPixmap>
#include <QPushButton>

class QPainter;

enum : int
{
    SKIN_OK = 0,
    SKIN_ERR_ICON = 1,
    SKIN_ERR_INDEX = 3,
};

enum : unsigned char
{
    BTNCLR_BK_HOT = 0,
    BTNCLR_FG_HOT = 1,
    BTNCLR_BK_NORMAL = 2,
    BTNCLR_FG_NORMAL = 3,
    BTNCLR_BK_FOCUS = 4,
    BTNCLR_FG_FOCUS = 5,
    BTNCLR_LINE = 6,
    BTNCLR_LINE_HOT = 7,
    BTNCLR_MAX = 8,
};

// Button types in the low five style bits.
enum : unsigned
{
    BS_PUSHBUTTON = 0x00,
    BS_DEFPUSHBUTTON = 0x01,
    BS_OWNERDRAW = 0x0B,
    BS_TYPEMASK = 0x1F,
};

enum : int
{
    DLGC_BUTTON = 0x2000,
    DLGC_DEFPUSHBUTTON = 0x0010,
    DLGC_UNDEFPUSHBUTTON = 0x0020,
};

// Item states handed to DrawItem.
enum : unsigned
{
    ODS_SELECTED = 0x0001,
    ODS_FOCUS = 0x0010,
    ODS_NOFOCUSRECT = 0x0200, // focused, but the keyboard cues are hidden
};

struct DRAWITEMSTRUCT
{
    unsigned itemState = 0;
    QPainter* pDC = nullptr;
    CRect rcItem;
};

// A flat owner-drawn push button: no border until hovered, an icon beside the
// caption, a colour table, and optionally the parent's pixels as its background.
class CSkinButton : public QPushButton
{
    Q_OBJECT

public:
    struct IconSlot
    {
        QIcon hIcon;
        int nWidth = 0;
        int nHeight = 0;
    };

    explicit CSkinButton(QWidget* parent = nullptr);
    explicit CSkinButton(const QString& text, QWidget* parent = nullptr);
    ~CSkinButton() override;

    // Icons by the program's resource ids (0 for no out-icon).
    int LoadIcons(int inIconId, int outIconId);
    int SetIcons(const QIcon& in, const QIcon& out = QIcon());
    int SetIcons(const QPixmap& in, const QPixmap& out = QPixmap());
    int SetColor(unsigned char index, COLORREF color, bool repaint = true);
    int ResetColors(bool repaint = true);
    void SetTransparent(bool repaint = true);
    void SetBorderStyle(bool lineColorBorder, bool underlineBorder);

    COLORREF GetColor(unsigned char index) const { return index < BTNCLR_MAX ? m_crColors[index] : 0; }

    // The dialog manager's side of the default-button mechanism.
    int OnGetDlgCode() const;
    int OnSetStyle(unsigned style, bool redraw);
    unsigned GetButtonStyle() const { return m_nStyle; }
    // The button never takes a check state.
    int SetCheck(int /*state*/) { return 0; }
    int GetCheck() const { return 0; }

    void PlaceImage(bool hasCaption, const CRect& item, CRect& caption, bool pressed, int imageWidth,
                    int imageHeight, CRect& image) const;

protected:
    virtual void DrawItem(DRAWITEMSTRUCT* dis);
    virtual int DrawBackground(QPainter* pDC, CRect* rect);
    virtual int DrawBorder(QPainter* pDC, CRect* rect);
    void PaintParentBackground(QPainter* pDC);
    void DrawIconImage(QPainter* pDC, bool hasCaption, const CRect& item, CRect& caption, bool pressed);
    // A dotted rectangle just inside the caption area, in the caption's colour.
    void DrawFocusMark(QPainter* pDC, const CRect& captionArea, COLORREF color);

    void CancelHover();
    void FreeImages(bool destroy);
    void ReleaseBackground();
    virtual void OnMouseMove(Qt::MouseButtons buttons, const QPoint& point);
    virtual void OnCancelMode();
    virtual QWidget* WindowFromPoint(const QPoint& globalPoint) const;

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void nextCheckState() override {}

    bool m_bHover = false;
    bool m_bTransparent = false;
    bool m_bPressed = false;
    bool m_bFocused = false;
    bool m_bDefault = false;
    COLORREF m_crColors[BTNCLR_MAX] = {};
    bool m_bUnderlineBorder = false;
    bool m_bLineColorBorder = false;
    QPixmap m_bmpBack; // snapshot of the parent's pixels; null when released
    IconSlot m_Icons[2];
    unsigned m_nStyle = BS_OWNERDRAW;

private:
    void Repaint();
    int TakeIconSlot(int slot, const QIcon& icon);
    void OnClicked();

    bool m_bSnapshotting = false;
    bool m_bFocusCue = false; // the focus came from the keyboard: show the focus mark
};
