#include "app/rowdelegate.h"

#include "app/voicelistmodel.h"
#include "skin/gdi.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QStyleFactory>

namespace {

constexpr int ICON_GAP = 2;                             // between the icon and the number
constexpr COLORREF DROP_LINE_COLOR = RGB(65, 105, 225); // the list frame's colour
constexpr int DROP_LINE_WIDTH = 2;

} // namespace

void VoiceRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    if (index.column() != VoiceListModel::COL_NUMBER) {
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
                     ICON_GAP);
    if (room.width() <= 0)
        return;

    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                            : QPalette::Inactive;
    const bool selected = opt.state & QStyle::State_Selected;
    // A colour of the row's own (the playing row's) shows on the selection too.
    const QVariant own = index.data(Qt::ForegroundRole);
    painter->save();
    painter->setFont(opt.font);
    if (own.canConvert<QBrush>())
        painter->setPen(qvariant_cast<QBrush>(own).color());
    else
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

void VoiceRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->state |= QStyle::State_Enabled;
}

VoiceListDropStyle::VoiceListDropStyle(QObject* parent)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
{
    setParent(parent);
}

void VoiceListDropStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                       QPainter* painter, const QWidget* widget) const
{
    if (element != PE_IndicatorItemViewItemDrop) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    QRect r = option->rect;
    const auto* view = qobject_cast<const QAbstractItemView*>(widget);
    if (view && r.height() == 0) // a line between rows spans the whole row
        r = QRect(0, r.top(), view->viewport()->width(), 0);
    if (r.isNull()) {
        // Over the empty area: the rows go to the end.
        const QAbstractItemModel* model = view ? view->model() : nullptr;
        if (!model || model->rowCount() == 0)
            return;
        const QRect last = view->visualRect(model->index(model->rowCount() - 1, 0));
        r = QRect(0, last.bottom() + 1, view->viewport()->width(), 0);
    }
    painter->save();
    if (r.height() == 0) {
        painter->fillRect(QRect(r.left(), r.top() - DROP_LINE_WIDTH / 2, r.width(), DROP_LINE_WIDTH),
                          ToQColor(DROP_LINE_COLOR));
    } else {
        painter->setPen(ToQColor(DROP_LINE_COLOR));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}
