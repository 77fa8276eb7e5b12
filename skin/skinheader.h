#pragma once

#include "skin/gdi.h"

#include <QHeaderView>
#include <QImage>
#include <QStringList>
#include <map>

class QAbstractItemView;
class QPainter;

enum : unsigned
{
    HDI_WIDTH = 0x0001,
    HDI_TEXT = 0x0002,
    HDI_FORMAT = 0x0004,
    HDI_BITMAP = 0x0010,
    HDI_ORDER = 0x0080,
};

enum : unsigned
{
    HDF_LEFT = 0x0000,
    HDF_BITMAP = 0x2000,
    HDF_STRING = 0x4000,
    HDF_OWNERDRAW = 0x8000,
};

// What the drawing steps know of one header item.
struct HDITEM
{
    unsigned mask = 0;
    int cxy = 0;
    unsigned fmt = HDF_LEFT | HDF_STRING;
    QImage hbm;
    int iOrder = 0;
};

// A horizontal list header that paints everything itself: background (flat or a
// row gradient), headings, column bitmaps, separators, outline; composed
// off-screen. Column resizing and the divider cursor stay the platform's.
class CSkinHeaderCtrl : public QHeaderView
{
    Q_OBJECT

public:
    static constexpr int MAX_BITMAP_COLUMNS = 20;

    struct ColumnBitmapSlot
    {
        bool bUsed = false;
        int nColumn = 0;
        unsigned nBitmapId = 0;
    };

    explicit CSkinHeaderCtrl(QWidget* parent = nullptr);
    ~CSkinHeaderCtrl() override;

    void SetFontFace(const QString& face);
    void SetFontSize(int height, int width);
    void SetFontBold(BOOL bold);
    void SetBackground(COLORREF color, int step);
    void SetHeightFactor(float factor);
    void SetTextColor(COLORREF color);
    void SetGradientMode(int mode);
    void SetOutline(COLORREF color, int flag);
    void SetSeparators(COLORREF color, int flag);
    void SetBitmapAlign(short align, int redraw);
    // The bitmap comes from the program's bitmap lookup; the list is the header's owner.
    void SetColumnBitmap(QAbstractItemView* list, int column, unsigned bitmapId, int flag);
    void SetColumnBitmap(QAbstractItemView* list, int column, const QImage& bitmap, int flag);

    QSize sizeHint() const override;

    // Public, filled by the owner: one heading and one alignment character per column.
    QStringList m_astrHeadings;
    QString m_strAlign;

protected:
    void paintEvent(QPaintEvent* event) override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

    virtual void DrawHeaderItem(QPainter& dc, int left, int top, int right, int bottom, const HDITEM& item);
    void DrawBackground(QPainter& dc, const CRect& clipBox);
    void DrawColumnBitmapItem(QPainter& dc, int slot);
    void DrawHeadings(QPainter& dc);
    void DrawTail(QPainter& dc);
    void DrawSeparators(QPainter& dc);
    void DrawOutline(QPainter& dc);
    int DrawItemBitmap(QPainter& dc, int left, int top, int right, int bottom, const HDITEM& item);
    void DrawItemText(QPainter& dc, int left, int top, int right, int bottom, const HDITEM& item);

    CRect GetItemRect(int column) const;
    HDITEM GetItem(int column, unsigned mask) const;
    QString HeadingAt(int index) const;
    QFont CreateHeadingFont() const;
    void FillWithBackgroundRule(QPainter& dc, const CRect& area, bool includeBottom);

    int m_nGradientMode = 0;
    QString m_strFontFace;
    int m_nBitmapAlign = 1;
    COLORREF m_crOutline = 0;
    COLORREF m_crSeparator = 0;
    COLORREF m_crText = RGB(128, 128, 128);
    int m_nGradientStep = 8;
    float m_fHeightFactor = 1.5f;
    int m_nFontHeight = 12;
    int m_nFontWidth = 0;
    int m_nBaseRed = 255;
    int m_nBaseGreen = 255;
    int m_nBaseBlue = 255;
    bool m_bDrawTail = true;
    bool m_bOutline = false;
    bool m_bSeparators = true;
    BOOL m_bBold = 0;
    ColumnBitmapSlot m_ColumnBitmaps[MAX_BITMAP_COLUMNS];
    // The per-column format and bitmap the platform's header items would hold.
    std::map<int, HDITEM> m_items;
};

// Maps the greys of a bitmap resource to the 3-D system colours, as bitmaps are
// loaded for headers: 128 to the shadow, 192 to the face, 223 to the light colour.
QImage MapSystemColors(const QImage& bitmap);
