#pragma once

// The one window of the program: the voice list, the nine command buttons and
// the invisible preview player, every command routed to the core.

#include "app/wmpplayer.h"
#include "core/library.h"
#include "core/messages.h"
#include "core/source_info.h"
#include "core/voice_list.h"
#include "skin/skinbutton.h"
#include "skin/txdialog.h"

#include <QBasicTimer>
#include <QIcon>
#include <QPersistentModelIndex>
#include <QStringList>
#include <array>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class CSkinHeaderCtrl;
class QAction;
class QMimeData;
class QUndoStack;
class QTableView;
class QKeyEvent;
class QModelIndex;
class VoiceListModel;

// Control ids of the window's template.
enum : int
{
    IDD_MAIN = 102,
    IDC_EXIT = 2, // IDCANCEL
    IDC_LOAD_LIST = 3,
    IDC_EXPORT_LIST = 4,
    IDC_BUILD = 5,
    IDC_APPEND = 6,
    IDC_INSERT = 7,
    IDC_DELETE = 8,
    IDC_MOVE_UP = 9,
    IDC_MOVE_DOWN = 10,
    IDC_VOICE_LIST = 1000,
    IDC_PLAYER = 1007,
};

inline constexpr int PREVIEW_TIMER_ID = 1000;
// A tenth of a second: the stop icon goes within that of the sound's end.
inline constexpr int PREVIEW_POLL_MS = 100;

// Dialog units of the template's font to pixels.
inline int DluX(int x)
{
    return MulDiv(x, 7, 4);
}
inline int DluY(int y)
{
    return MulDiv(y, 14, 8);
}

// "Desc(*.a)|*.a;*.b||" as a Qt name filter list "Desc(*.a) (*.a *.b)".
QString ToQtFilter(const QString& filter);

class CMainDlg : public CTxDialog, private voicelib::VoiceListObserver
{
    Q_OBJECT

public:
    // Without a backend the preview plays through the player module, loaded
    // when the window first plays. The controls
    // come with Create(), or when the window is first shown.
    explicit CMainDlg(std::unique_ptr<PlayerBackend> playerBackend = nullptr, QWidget* parent = nullptr);
    // The preview's backend made by playerFactory when the window first plays.
    explicit CMainDlg(CWMPPlayer4::BackendFactory playerFactory, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // The chosen paths; empty when the dialog was cancelled.
    virtual QStringList SelectFile(bool open, bool multi, const QString& filter, const QString& defExt);
    // The window's kinds of message box, each with the caption "提示:".
    enum class MessageKind
    {
        Information, // an OK button
        YesNo,       // 是 and 否
        YesNoCancel, // 是, 否 and 取消
    };
    // Every message box of the window comes through here; the answer is
    // QMessageBox::Ok, Yes, No or Cancel.
    virtual int ShowMessageBox(MessageKind kind, const QString& text);
    void ShowMessage(const QString& text);
    // True for 是.
    bool AskYesNo(const QString& text);
    // QMessageBox::Yes, No or Cancel.
    int AskYesNoCancel(const QString& text);
    // A folder, shown first at start (made for the dialog if it is not there
    // yet); empty when the dialog was cancelled.
    virtual QString SelectFolder(const QString& start);

    // Every command of the window is one QAction: its handler, its keys and
    // the state in which it is enabled are one row of a table. The buttons and
    // the row icons trigger them.
    enum class Command
    {
        Exit,
        LoadList,
        ExportList,
        Build,
        Append,
        Insert,
        Delete,
        MoveUp,
        MoveDown,
        ReplaceRow, // the selected row's icons
        PlayRow,
        DeleteRow,
        Undo,
        Redo,
        FirstRow,
        LastRow,
        Count
    };
    QAction* action(Command command) const { return m_actions[static_cast<std::size_t>(command)]; }
    // Brings every command's enabled state up to date: the list, its
    // selection, the undo stack and long work decide it.
    void UpdateCommands();

    void OnAppend();
    // Adds files as rows before row (-1: at the end) as one undoable step:
    // the append dialog's and a drop's files.
    void AddFiles(const QStringList& files, int row = -1);
    void OnInsert();
    void OnDelete();
    void OnMoveUp();
    void OnMoveDown();
    void OnReplace(int row);
    void OnLoadList();
    // Loads a voice list file in place of the rows; a failure keeps them and says why.
    void LoadList(const QString& file);
    void OnExportList();
    void OnBuildLibrary();
    // A click on a cell of the list; the row is already selected.
    void OnClickList(int item, int subItem);
    void OnCancel() override;

    void StartPreview(int row);
    void StopPreview();
    void OnTimer(int timerId);

    voicelib::VoiceList& voiceList() { return m_voices; }
    QTableView* listView() const { return m_list; }
    CSkinHeaderCtrl* header() const { return m_header; }
    CWMPPlayer4* player() const { return m_player.get(); }
    CSkinButton* button(int id) const;
    int playingRow() const { return m_nPlayingRow; }
    bool previewTimerActive() const { return m_previewTimer.isActive(); }
    const voicelib::SizeTable& sizeTable() const { return m_SizeTable; }
    // Whether the list differs from the last file loaded or exported (or from the empty start).
    bool IsModified() const;
    // Long work (a build, a conversion) holds the window disabled until it ends.
    bool IsBusy() const { return !isEnabled(); }
    // The capacity line the bottom band shows; empty for an empty list.
    const QString& capacityLine() const { return m_strCapacity; }

    // Runs an edit of the list, made through the core's operations, and keeps
    // what it changed as one step of the undo stack named text. Every change
    // of the list goes through here. Returns whether the list changed.
    bool EditList(const QString& text, const std::function<void()>& edit);
    void OnUndo();
    void OnRedo();
    QUndoStack* undoStack() const { return m_pUndo; }
    // The rows the view shows selected, sorted.
    std::vector<int> SelectedRows() const;
    // Selects these rows in the view; the first is the list's selected row.
    void SelectRows(const std::vector<int>& rows);

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    void InitButtons();
    void InitList();
    void OnPaint(QPainter& p) override;
    void timerEvent(QTimerEvent* event) override;
    void OnActivate(bool active) override;
    // Which press begins a click of the list's cells.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    CMainDlg(std::unique_ptr<CWMPPlayer4> player, QWidget* parent);
    // One control of the window's template: where it sits, what it says and
    // what it runs. Buttons only: the member, the icon and the handler.
    struct Control
    {
        int id;
        std::optional<voicelib::Msg> caption; // the buttons'
        int x, y, w, h;                       // dialog units
        CSkinButton* CMainDlg::*button;       // null: the voice list
        int icon;
        Command command;
    };
    // In template order, which is the tab order.
    static const Control CONTROLS[];

    struct CommandInfo
    {
        Command command;
        const char* keys; // "Ctrl+Shift+Z; Ctrl+Y"
        bool onList;      // the keys act while the list has the focus, not anywhere in the window
        void (CMainDlg::*handler)();
        bool (CMainDlg::*enabled)() const; // null: whenever the window takes input
    };
    static const CommandInfo COMMANDS[];
    void CreateCommands();
    bool HasRows() const;
    bool HasSelectedRow() const;
    bool HasSelection() const;
    bool CanUndo() const;
    bool CanRedo() const;
    void OnReplaceRow();
    void OnPlayRow();
    void OnDeleteRow();
    void OnFirstRow();
    void OnLastRow();

    void RowsInserted(int first, int last) override;
    void RowsAboutToBeRemoved(int first, int last) override;
    void RowsRemoved(int first, int last) override;
    void RowMoved(int from, int to) override;
    void RowsMoved(int first, int last, int to) override;
    void RowChanged(int row) override;
    void AboutToReset() override;
    void Reset() override;
    void ShowSelection(int row);
    void OnViewSelectionChanged();
    void OnListClicked(const QModelIndex& index);
    // True when the list may be dropped: nothing to lose, saved, or the user says so.
    bool ConfirmDiscard();
    // Whether the list was written.
    bool ExportList();
    // The list now matches a file on disk.
    void MarkSaved();
    void SelectRowFromView(int row);
    void MoveSelection(int delta);
    bool OnDrop(const QMimeData* data, int row);
    void CountChange();

    // What the view showed selected, to show it again after an undo or a redo.
    struct RowSelection
    {
        std::vector<std::pair<int, int>> runs; // first and last row of each run
        int selected = -1;                     // the list's selected row
        int current = -1;                      // the view's current row
    };
    RowSelection CurrentSelection() const;
    void RestoreSelection(const RowSelection& selection);
    void ClearViewSelection();
    friend class CListEditCommand;
    // The chosen files as the list is to take them: those the device cannot
    // play as they are converted when the user agrees. Empty when none were
    // chosen, or when the user cancelled the conversion, and with it the edit.
    QStringList OfferConversion(const QStringList& files);
    // The rows from first on changed: the capacity line is brought up to date soon.
    void ScheduleCapacity(int first);
    void UpdateCapacity();

    // Members in the order the window binds them.
    CSkinButton* m_btnExit = nullptr;
    QTableView* m_list = nullptr;
    CSkinButton* m_btnUp = nullptr;
    CSkinButton* m_btnDown = nullptr;
    CSkinButton* m_btnLoadList = nullptr;
    CSkinButton* m_btnInsert = nullptr;
    CSkinButton* m_btnExportList = nullptr;
    CSkinButton* m_btnDelete = nullptr;
    CSkinButton* m_btnBuild = nullptr;
    CSkinButton* m_btnAppend = nullptr;
    CSkinHeaderCtrl* m_header = nullptr;
    std::unique_ptr<CWMPPlayer4> m_player;
    QIcon m_hIcon; // the application icon; the base's m_hIcon is the caption's
    int m_nPlayingRow = -1;
    voicelib::SizeTable m_SizeTable{};
    voicelib::VoiceList m_voices;
    VoiceListModel* m_pModel = nullptr;
    QBasicTimer m_previewTimer;
    QUndoStack* m_pUndo = nullptr;
    std::array<QAction*, static_cast<std::size_t>(Command::Count)> m_actions{};
    bool m_bRecording = false;           // an edit or an undo step is under way
    QPersistentModelIndex m_pressedCell; // where a plain press began the click under way, if it did
    bool m_bToldNoOutput = false;
    QString m_strLastFolder;                  // where the last file dialog ended
    std::map<QString, QString> m_lastFilters; // the name filter last chosen, by the dialog's filter
    voicelib::CapacityCache m_capacityCache;
    voicelib::Capacity m_capacity;
    QString m_strCapacity;
    QBasicTimer m_capacityTimer;
    // The first row whose source may have changed since the last update; INT_MAX for none.
    int m_nCapacityDirtyFrom = INT_MAX;
};
