#pragma once

// Paints the list's cells. The number column holds its icon and the row
// number in 48 pixels: a number too wide for the room beside the icon is
// drawn condensed, never cut, so the row a message names can be found.

#include <QStyledItemDelegate>

class VoiceRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
