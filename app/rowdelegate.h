#pragma once

// Paints the list's cells. The number column holds its icon and the row
// number in 48 pixels: a number too wide for the room beside the icon is
// drawn condensed, never cut, so the row a message names can be found. A
// number with a colour of its own (the playing row's) keeps it when selected.

#include <QProxyStyle>
#include <QStyledItemDelegate>

class VoiceRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    // Rows look the same while long work holds the window disabled.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The list's style with the drop indicator in the window's colours: a line
// between rows in the list frame's blue, and below the last row when a drop
// lands on the empty area (where it is appended).
class VoiceListDropStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // The application's style underneath; owned by parent.
    explicit VoiceListDropStyle(QObject* parent);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
