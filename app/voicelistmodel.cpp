#include "app/voicelistmodel.h"

#include "core/messages.h"

#include <QBrush>
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

namespace {

// The image each column shows.
constexpr VoiceListModel::RowImage COLUMN_IMAGES[VoiceListModel::COLUMN_COUNT] = {
    VoiceListModel::ROW_IMAGE_NOTE,    // number
    VoiceListModel::ROW_IMAGE_NONE,    // path
    VoiceListModel::ROW_IMAGE_REPLACE, // replace
    VoiceListModel::ROW_IMAGE_PLAY,    // play
    VoiceListModel::ROW_IMAGE_DELETE,  // delete
};

const QString ROWS_MIME = QStringLiteral("application/x-voicelib-rows");
const QString URI_MIME = QStringLiteral("text/uri-list");

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
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant VoiceListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (col == COL_NUMBER)
            return QString::number(row);
        if (col == COL_PATH)
            return ToDisplay(m_list.GetPath(row));
        return {};
    case Qt::ForegroundRole:
        if (col == COL_NUMBER && m_crPlayingNumber.isValid() && IsPlaying(row))
            return QBrush(m_crPlayingNumber);
        if (col == COL_NUMBER && m_isUnusable && m_isUnusable(row))
            return QBrush(m_crUnusableNumber);
        return {};
    case Qt::ToolTipRole:
        if (col == COL_NUMBER && m_isUnusable && m_isUnusable(row))
            return m_unusableWhy(row);
        return col == COL_PATH ? QVariant(ToDisplay(m_list.GetPath(row))) : QVariant();
    case Qt::DecorationRole: {
        if (col == COL_PLAY && !m_stopIcon.isNull() && IsPlaying(row))
            return m_stopIcon;
        const int image = COLUMN_IMAGES[col];
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

void VoiceListModel::SetUnusableLook(QColor numberColour, std::function<bool(int row)> isUnusable,
                                     std::function<QString(int row)> why)
{
    m_crUnusableNumber = numberColour;
    m_isUnusable = std::move(isUnusable);
    m_unusableWhy = std::move(why);
}

void VoiceListModel::UsabilityChanged()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, COL_NUMBER), index(rowCount() - 1, COL_NUMBER),
                         {Qt::ForegroundRole, Qt::ToolTipRole});
}

QVariant VoiceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= COLUMN_COUNT)
        return QAbstractTableModel::headerData(section, orientation, role);
    // Only the file name column has a heading.
    return section == COL_PATH ? QString::fromUtf8(voicelib::MessageText(voicelib::Msg::ColumnFileName))
                               : QString();
}

Qt::ItemFlags VoiceListModel::flags(const QModelIndex& index) const
{
    // Drops go between rows, never onto one.
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList VoiceListModel::mimeTypes() const
{
    return {ROWS_MIME, URI_MIME};
}

QMimeData* VoiceListModel::mimeData(const QModelIndexList& indexes) const
{
    std::vector<int> rows;
    for (const QModelIndex& i : indexes)
        if (i.isValid() && i.model() == this)
            rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty())
        return nullptr;
    // Rows mean something only to the model they came from: the drag names it.
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QCoreApplication::applicationPid() << quintptr(this) << qint32(rows.size());
    for (int r : rows)
        out << qint32(r);
    auto* data = new QMimeData;
    data->setData(ROWS_MIME, bytes);
    return data;
}

std::vector<int> VoiceListModel::DraggedRows(const QMimeData* data) const
{
    if (!data || !data->hasFormat(ROWS_MIME))
        return {};
    QDataStream in(data->data(ROWS_MIME));
    qint64 pid = 0;
    quintptr model = 0;
    qint32 count = 0;
    in >> pid >> model >> count;
    if (in.status() != QDataStream::Ok || pid != QCoreApplication::applicationPid() ||
        model != quintptr(this) || count <= 0 || count > m_list.GetItemCount())
        return {};
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (qint32 i = 0; i < count; ++i) {
        qint32 r = -1;
        in >> r;
        if (in.status() != QDataStream::Ok || !m_list.IsValidRow(r))
            return {};
        rows.push_back(r);
    }
    return rows;
}

QStringList VoiceListModel::DroppedFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files << url.toLocalFile();
    return files;
}

Qt::DropActions VoiceListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

Qt::DropActions VoiceListModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

bool VoiceListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                     const QModelIndex& parent) const
{
    return onDrop && !parent.isValid() && (!DraggedRows(data).empty() || !DroppedFiles(data).isEmpty());
}

bool VoiceListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                  const QModelIndex& parent)
{
    if (action == Qt::IgnoreAction || !canDropMimeData(data, action, row, column, parent))
        return false;
    const int count = m_list.GetItemCount();
    return onDrop(data, row < 0 || row > count ? count : row);
}

void VoiceListModel::SetPlayingLook(QIcon stopIcon, QColor numberColour)
{
    m_stopIcon = std::move(stopIcon);
    m_crPlayingNumber = numberColour;
    PlayingCellsChanged(0, rowCount() - 1);
}

void VoiceListModel::SetPlayingRowSource(std::function<int()> source)
{
    m_playingRow = std::move(source);
    PlayingCellsChanged(0, rowCount() - 1);
}

void VoiceListModel::PlayingRowChanged(int row)
{
    if (row >= 0 && row < rowCount())
        PlayingCellsChanged(row, row);
}

void VoiceListModel::PlayingCellsChanged(int first, int last)
{
    if (first <= last)
        emit dataChanged(index(first, COL_NUMBER), index(last, COL_PLAY),
                         {Qt::DecorationRole, Qt::ForegroundRole});
}

bool VoiceListModel::IsPlaying(int row) const
{
    return m_playingRow && m_playingRow() == row;
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

void VoiceListModel::RowsAboutToBeMoved(int first, int last, int to)
{
    beginMoveRows({}, first, last, {}, to > first ? to + last - first + 1 : to);
}

void VoiceListModel::RowsMoved(int first, int last, int to)
{
    endMoveRows();
    if (to > first)
        NumbersChangedFrom(first, to + last - first);
    else
        NumbersChangedFrom(to, last);
}

void VoiceListModel::RowChanged(int row)
{
    emit dataChanged(index(row, COL_PATH), index(row, COL_PATH));
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

void VoiceListModel::NumbersChangedFrom(int row, int last)
{
    if (last < 0 || last >= m_list.GetItemCount())
        last = m_list.GetItemCount() - 1;
    if (row <= last)
        emit dataChanged(index(row, COL_NUMBER), index(last, COL_NUMBER), {Qt::DisplayRole, Qt::UserRole});
}
