#include "app/voicelistmodel.h"

#include <QFile>

namespace {

// Image index shown in each column (-1: none).
constexpr int kColumnImage[VoiceListModel::ColumnCount] = {3, -1, 0, 1, 2};

const char* const kHeadings[VoiceListModel::ColumnCount] = {"", "WAV文件名称", "", "", ""};

} // namespace

VoiceListModel::VoiceListModel(voicelib::VoiceList& list, QList<QIcon> rowIcons, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_rowIcons(std::move(rowIcons))
{
    m_list.AddObserver(this);
}

VoiceListModel::~VoiceListModel()
{
    m_list.RemoveObserver(this);
}

int VoiceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_list.GetItemCount();
}

int VoiceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant VoiceListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (col == ColNumber)
            return QString::number(row);
        if (col == ColPath)
            return ToDisplay(m_list.GetPath(row));
        return {};
    case Qt::ToolTipRole:
        return col == ColPath ? QVariant(ToDisplay(m_list.GetPath(row))) : QVariant();
    case Qt::DecorationRole: {
        int image = kColumnImage[col];
        if (image >= 0 && image < m_rowIcons.size())
            return m_rowIcons[image];
        return {};
    }
    case Qt::UserRole: // the row's item data: its index
        return row;
    default:
        return {};
    }
}

QVariant VoiceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kHeadings[section]);
}

Qt::ItemFlags VoiceListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QString VoiceListModel::ToDisplay(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string VoiceListModel::FromDisplay(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

void VoiceListModel::RowsAboutToBeInserted(int first, int last)
{
    beginInsertRows({}, first, last);
}

void VoiceListModel::RowsInserted(int /*first*/, int last)
{
    endInsertRows();
    NumbersChangedFrom(last + 1);
}

void VoiceListModel::RowsAboutToBeRemoved(int first, int last)
{
    beginRemoveRows({}, first, last);
}

void VoiceListModel::RowsRemoved(int first, int /*last*/)
{
    endRemoveRows();
    NumbersChangedFrom(first);
}

void VoiceListModel::RowAboutToBeMoved(int from, int to)
{
    // Qt counts the destination before the move.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
}

void VoiceListModel::RowMoved(int from, int to)
{
    endMoveRows();
    NumbersChangedFrom(std::min(from, to));
}

void VoiceListModel::RowChanged(int row)
{
    emit dataChanged(index(row, ColPath), index(row, ColPath));
}

void VoiceListModel::AboutToReset()
{
    beginResetModel();
}

void VoiceListModel::Reset()
{
    endResetModel();
}

void VoiceListModel::SelectionChanged(int row)
{
    emit selectedRowChanged(row);
}

void VoiceListModel::NumbersChangedFrom(int row)
{
    const int last = m_list.GetItemCount() - 1;
    if (row <= last)
        emit dataChanged(index(row, ColNumber), index(last, ColNumber), {Qt::DisplayRole, Qt::UserRole});
}
