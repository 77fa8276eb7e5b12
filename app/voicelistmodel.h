#pragma once

// Shows a VoiceList in a table view: the row number with the note icon, the
// path, and the replace / play / delete icons. The list stays the one store;
// the model only follows its changes.

#include "core/voice_list.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QList>
#include <functional>
#include <vector>

class QMimeData;

class VoiceListModel : public QAbstractTableModel, private voicelib::VoiceListObserver
{
    Q_OBJECT

public:
    enum Column
    {
        COL_NUMBER = 0,
        COL_PATH = 1,
        COL_REPLACE = 2,
        COL_PLAY = 3,
        COL_DELETE = 4,
        COLUMN_COUNT = 5
    };

    // The row images, as the image list given to the model holds them.
    enum RowImage
    {
        ROW_IMAGE_NONE = -1,
        ROW_IMAGE_REPLACE = 0, // replace the row's file
        ROW_IMAGE_PLAY = 1,
        ROW_IMAGE_DELETE = 2,
        ROW_IMAGE_NOTE = 3, // beside the row's number
        ROW_IMAGE_COUNT = 4
    };

    // rowIcons: the row images, indexed by RowImage; missing ones draw nothing.
    explicit VoiceListModel(voicelib::VoiceList& list, QList<QIcon> rowIcons = {}, QObject* parent = nullptr);
    ~VoiceListModel() override;

    voicelib::VoiceList& list() const { return m_list; }

    // The row being previewed shows stopIcon in the play column and its number
    // in numberColour. The source tells which row that is (-1: none); it is
    // read whenever a cell is asked for, so it follows the rows by itself.
    void SetPlayingLook(QIcon stopIcon, QColor numberColour);
    void SetPlayingRowSource(std::function<int()> source);
    // The preview started or ended on this row: its number and icon change.
    void PlayingRowChanged(int row);
    // Rows a library would not take as they are (refused, missing, beyond its
    // entries) show their number in numberColour, the way a disabled item is
    // drawn, and why as its tooltip. Both are asked whenever a cell is.
    void SetUnusableLook(QColor numberColour, std::function<bool(int row)> isUnusable,
                         std::function<QString(int row)> why);
    // Which rows are usable may have changed: the numbers are drawn again.
    void UsabilityChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Drag and drop: rows dragged out of this model, and files (a uri list).
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    // The rows a drag from this model carries, sorted; empty for anything else.
    std::vector<int> DraggedRows(const QMimeData* data) const;
    // Local files of a drop, in the order given; empty when there are none.
    static QStringList DroppedFiles(const QMimeData* data);

    // Carries out a drop before row (the row count: at the end); the model
    // only reads the drop, the owner of the list edits it.
    std::function<bool(const QMimeData* data, int row)> onDrop;

    // Paths are bytes on Linux; these convert the way file names are converted.
    static QString ToDisplay(const std::string& path);
    static std::string FromDisplay(const QString& path);

signals:
    // The list's selected row changed (-1: none); the view follows it.
    void selectedRowChanged(int row);

private:
    void RowsAboutToBeInserted(int first, int last) override;
    void RowsInserted(int first, int last) override;
    void RowsAboutToBeRemoved(int first, int last) override;
    void RowsRemoved(int first, int last) override;
    void RowAboutToBeMoved(int from, int to) override;
    void RowMoved(int from, int to) override;
    void RowsAboutToBeMoved(int first, int last, int to) override;
    void RowsMoved(int first, int last, int to) override;
    void RowChanged(int row) override;
    void AboutToReset() override;
    void Reset() override;
    void SelectionChanged(int row) override;

    // The numbers of rows row..last (-1: to the end) are new.
    void NumbersChangedFrom(int row, int last = -1);
    bool IsPlaying(int row) const;
    void PlayingCellsChanged(int first, int last);

    voicelib::VoiceList& m_list;
    QList<QIcon> m_rowIcons;
    QIcon m_stopIcon;
    QColor m_crPlayingNumber;
    std::function<int()> m_playingRow;
    QColor m_crUnusableNumber;
    std::function<bool(int)> m_isUnusable;
    std::function<QString(int)> m_unusableWhy;
};
