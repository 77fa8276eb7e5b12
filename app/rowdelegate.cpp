#include "app/rowdelegate.h"

#include "app/voicelistmodel.h"

#include <QApplication>
#include <QPainter>

namespace {

constexpr int kIconGap = 2; // between the icon and the number

} // namespace

void VoiceRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    if (index.column() != VoiceListModel::ColNumber) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString number = opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    // Background, selection and icon as the style draws them; the number is ours.
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (number.isEmpty())
        return;

    QRect room = opt.rect.adjusted(0, 0, -1, 0);
    if (opt.features.testFlag(QStyleOptionViewItem::HasDecoration))
        room.setLeft(style->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, widget).right() + 1 +
                     kIconGap);
    if (room.width() <= 0)
        return;

    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                            : QPalette::Inactive;
    const bool selected = opt.state & QStyle::State_Selected;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const int advance = QFontMetrics(opt.font).horizontalAdvance(number);
    if (advance <= room.width()) {
        painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, number);
    } else {
        // Condensed to the room: narrower digits read better than a smaller font.
        painter->translate(room.left(), 0);
        painter->scale(qreal(room.width()) / advance, 1.0);
        painter->drawText(QRect(0, room.top(), advance, room.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, number);
    }
    painter->restore();
}
