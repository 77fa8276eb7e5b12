#pragma once

// Shows a VoiceList in a table view: the row number with the note icon, the
// path, and the replace / play / delete icons. The list stays the one store;
// the model only follows its changes.

#include "core/voice_list.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>

class VoiceListModel : public QAbstractTableModel, private voicelib::VoiceListObserver
{
    Q_OBJECT

public:
    enum Column
    {
        ColNumber = 0,
        ColPath = 1,
        ColReplace = 2,
        ColPlay = 3,
        ColDelete = 4,
        ColumnCount = 5
    };

    // rowIcons: the four row images, in image-list order (replace, play,
    // delete, note); missing ones draw nothing.
    explicit VoiceListModel(voicelib::VoiceList& list, QList<QIcon> rowIcons = {}, QObject* parent = nullptr);
    ~VoiceListModel() override;

    voicelib::VoiceList& list() const { return m_list; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

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
    void RowChanged(int row) override;
    void AboutToReset() override;
    void Reset() override;
    void SelectionChanged(int row) override;

    void NumbersChangedFrom(int row);

    voicelib::VoiceList& m_list;
    QList<QIcon> m_rowIcons;
};
