#include "app/maindlg.h"

#include "app/conversion.h"
#include "app/longwork.h"
#include "app/mainapp.h"
#include "app/rowdelegate.h"
#include "app/voicelistmodel.h"
#include "app/wmpplayer.h"
#include "core/list_edit.h"
#include "core/list_file.h"
#include "core/messages.h"
#include "core/wave.h"
#include "media/convert.h"
#include "media/loader.h"
#include "res/resource_ids.h"
#include "res/resources.h"
#include "skin/resource_lookup.h"
#include "skin/skinheader.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTableView>
#include <QTimerEvent>
#include <QUndoCommand>
#include <QUndoStack>
#include <algorithm>
#include <climits>
#include <filesystem>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace {

const QString WAVE_EXT = QStringLiteral("*.wav");
const QString LIST_FILTER = QStringLiteral("Voice Library Configuration Files(*.ini)|*.ini||");
const QString LIST_EXT = QStringLiteral("*.ini");
const QString LIBRARY_FILTER = QStringLiteral("Voice Library Files(*.bin)|*.bin||");
const QString LIBRARY_EXT = QStringLiteral("*.bin");

// A text of the message table, as Qt shows it.
template <typename... Args> QString Text(voicelib::Msg id, const Args&... args)
{
    return QString::fromStdString(voicelib::Message(id, args...));
}

// Sources: the WAVE files the list takes, then any audio the window converts.
QString WaveFilter()
{
    return QStringLiteral("Source Voice Files(*.wav)|*.wav|") + Text(voicelib::Msg::AllAudioFiles) +
           QStringLiteral(
               "|*.wav;*.mp3;*.flac;*.ogg;*.oga;*.opus;*.m4a;*.aac;*.wma;*.aif;*.aiff;*.au;*.amr||");
}

// What the dynamic loader said when it refused the player module, after the path.
std::string PlayerLoaderWords(const voicelib::Error& why)
{
    return why.code() == voicelib::ModuleError::NotLoadable ? " (" + why.reason() + ")" : std::string();
}

constexpr int DIALOG_WIDTH = 337;
constexpr int DIALOG_HEIGHT = 259;

// How the window shows each column of the model; the headings are the model's.
struct ColumnLook
{
    int width;       // pixels
    unsigned bitmap; // the header's picture; 0: none
};
constexpr ColumnLook COLUMNS[VoiceListModel::COLUMN_COUNT] = {
    {48, IDB_HEADER_MARK},    // number
    {430, 0},                 // path
    {22, IDB_HEADER_REPLACE}, // replace
    {22, IDB_HEADER_PLAY},    // play
    {22, IDB_HEADER_DELETE},  // delete
};

// A chosen file as the list keeps it: absolute, so that it never depends on
// the folder it is later resolved against.
QString DialogPath(const QString& file)
{
    return file.isEmpty() || !QDir::isRelativePath(file) ? file : QDir::current().absoluteFilePath(file);
}

std::vector<std::string> ToPaths(const QStringList& files)
{
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(files.size()));
    for (const QString& f : files)
        paths.push_back(VoiceListModel::FromDisplay(DialogPath(f)));
    return paths;
}

constexpr int UNDO_STEPS = 1000;

// Sorted rows as runs of first and last row: a selection of a whole block costs two numbers.
std::vector<std::pair<int, int>> Runs(const std::vector<int>& rows)
{
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.empty() && runs.back().second == r - 1)
            runs.back().second = r;
        else
            runs.emplace_back(r, r);
    }
    return runs;
}

// The name after the last slash.
std::string_view FileNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
}

// New sources are read a few at a time, so a first look at a long list never holds the window.
constexpr int CAPACITY_PROBES_PER_STEP = 64;
// Conversion failures named in full in the message; the rest are counted.
constexpr qsizetype LISTED_CONVERSION_FAILURES = 10;

} // namespace

// One undoable edit of the list: what the core recorded, and the selection
// before and after it. Made after the edit is done, so its first redo is a no-op.
class CListEditCommand : public QUndoCommand
{
public:
    CListEditCommand(CMainDlg& dlg, const QString& text, voicelib::VoiceListEdit edit,
                     CMainDlg::RowSelection before, CMainDlg::RowSelection after)
        : QUndoCommand(text), m_dlg(dlg), m_edit(std::move(edit)), m_before(std::move(before)),
          m_after(std::move(after))
    {
    }
    void undo() override { Apply(false); }
    void redo() override
    {
        if (!std::exchange(m_bFirst, false))
            Apply(true);
    }

private:
    void Apply(bool forward)
    {
        const bool recording = std::exchange(m_dlg.m_bRecording, true);
        // The selection is set again afterwards; until then the view need not
        // carry it through every row the edit moves.
        m_dlg.ClearViewSelection();
        if (forward)
            m_edit.Redo(m_dlg.m_voices);
        else
            m_edit.Undo(m_dlg.m_voices);
        m_dlg.RestoreSelection(forward ? m_after : m_before);
        m_dlg.m_bRecording = recording;
    }

    CMainDlg& m_dlg;
    voicelib::VoiceListEdit m_edit;
    CMainDlg::RowSelection m_before, m_after;
    bool m_bFirst = true;
};

const CMainDlg::Control CMainDlg::CONTROLS[] = {
    {IDC_EXIT, voicelib::Msg::CaptionExit, 289, 243, 42, 14, &CMainDlg::m_btnExit, IDI_EXIT, Command::Exit},
    {IDC_LOAD_LIST, voicelib::Msg::CaptionLoadList, 177, 243, 56, 14, &CMainDlg::m_btnLoadList, IDI_LOAD,
     Command::LoadList},
    {IDC_EXPORT_LIST, voicelib::Msg::CaptionExportList, 233, 243, 56, 14, &CMainDlg::m_btnExportList,
     IDI_EXPORT, Command::ExportList},
    {IDC_BUILD, voicelib::Msg::CaptionBuild, 202, 25, 56, 14, &CMainDlg::m_btnBuild, IDI_BUILD,
     Command::Build},
    {IDC_APPEND, voicelib::Msg::CaptionAppend, 6, 25, 38, 14, &CMainDlg::m_btnAppend, IDI_APPEND,
     Command::Append},
    {IDC_INSERT, voicelib::Msg::CaptionInsert, 45, 25, 38, 14, &CMainDlg::m_btnInsert, IDI_INSERT,
     Command::Insert},
    {IDC_DELETE, voicelib::Msg::CaptionDelete, 84, 25, 38, 14, &CMainDlg::m_btnDelete, IDI_DELETE,
     Command::Delete},
    {IDC_MOVE_UP, voicelib::Msg::CaptionMoveUp, 123, 25, 38, 14, &CMainDlg::m_btnUp, IDI_UP, Command::MoveUp},
    {IDC_MOVE_DOWN, voicelib::Msg::CaptionMoveDown, 161, 25, 38, 14, &CMainDlg::m_btnDown, IDI_DOWN,
     Command::MoveDown},
    {IDC_VOICE_LIST, std::nullopt, 6, 43, 325, 190, nullptr, 0, Command::Count},
};

const CMainDlg::CommandInfo CMainDlg::COMMANDS[] = {
    {Command::Exit, "", false, &CMainDlg::OnCancel, nullptr},
    {Command::LoadList, "Ctrl+O", false, &CMainDlg::OnLoadList, nullptr},
    {Command::ExportList, "Ctrl+S", false, &CMainDlg::OnExportList, &CMainDlg::HasRows},
    {Command::Build, "", false, &CMainDlg::OnBuildLibrary, &CMainDlg::HasRows},
    {Command::Append, "", false, &CMainDlg::OnAppend, nullptr},
    {Command::Insert, "Ins", true, &CMainDlg::OnInsert, &CMainDlg::HasSelectedRow},
    {Command::Delete, "Del", true, &CMainDlg::OnDelete, &CMainDlg::HasSelection},
    // Enabled with rows alone: a disabled shortcut hands its key to the view,
    // which would move or select by it where these keys have always done nothing.
    {Command::MoveUp, "Ctrl+Up", true, &CMainDlg::OnMoveUp, &CMainDlg::HasRows},
    {Command::MoveDown, "Ctrl+Down", true, &CMainDlg::OnMoveDown, &CMainDlg::HasRows},
    {Command::ReplaceRow, "", true, &CMainDlg::OnReplaceRow, &CMainDlg::HasSelectedRow},
    {Command::PlayRow, "Space; Return; Enter", true, &CMainDlg::OnPlayRow, &CMainDlg::HasRows},
    {Command::DeleteRow, "", true, &CMainDlg::OnDeleteRow, &CMainDlg::HasSelectedRow},
    {Command::Undo, "Ctrl+Z", false, &CMainDlg::OnUndo, &CMainDlg::CanUndo},
    {Command::Redo, "Ctrl+Shift+Z; Ctrl+Y", false, &CMainDlg::OnRedo, &CMainDlg::CanRedo},
    // The view's Home and End stay in the row; in a list of rows they go to its ends.
    {Command::FirstRow, "Home", true, &CMainDlg::OnFirstRow, &CMainDlg::HasRows},
    {Command::LastRow, "End", true, &CMainDlg::OnLastRow, &CMainDlg::HasRows},
};

QString ToQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break;
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns = QLatin1Char('(') + patterns.trimmed() + QLatin1Char(')');
        // A description that already ends in its patterns is shown as it is.
        filters << (parts[i].endsWith(patterns) ? parts[i] : parts[i] + QLatin1Char(' ') + patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

CMainDlg::CMainDlg(std::unique_ptr<PlayerBackend> playerBackend, QWidget* parent)
    : CMainDlg(std::make_unique<CWMPPlayer4>(std::move(playerBackend)), parent)
{
}

CMainDlg::CMainDlg(CWMPPlayer4::BackendFactory playerFactory, QWidget* parent)
    : CMainDlg(std::make_unique<CWMPPlayer4>(std::move(playerFactory)), parent)
{
}

CMainDlg::CMainDlg(std::unique_ptr<CWMPPlayer4> player, QWidget* parent)
    : CTxDialog(parent), m_player(std::move(player))
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(DluX(DIALOG_WIDTH), DluY(DIALOG_HEIGHT));
    // The dialog's font, which every control is made with: the list's own
    // headers then measure themselves in the font the window draws with
    // rather than loading the platform's default for nothing.
    setFont(g_font);
    m_hIcon = voicelib::res::LoadIconResource(IDR_MAINFRAME);
    m_pUndo = new QUndoStack(this);
    m_pUndo->setUndoLimit(UNDO_STEPS);
    // Registered before the model so the preview row is adjusted before views repaint.
    m_voices.AddObserver(this);
}

CMainDlg::~CMainDlg()
{
    m_previewTimer.stop();
    // Children die after this body, and their last signals must not reach a
    // window that is no longer one.
    m_pUndo->disconnect(this);
    if (m_list && m_list->selectionModel())
        m_list->selectionModel()->disconnect(this);
    // The view and model go with the window; detach the model from the list first.
    if (m_list)
        m_list->setModel(nullptr);
    delete m_pModel;
    m_pModel = nullptr;
    m_voices.RemoveObserver(this);
}

void CMainDlg::DoDataExchange()
{
    CTxDialog::DoDataExchange();
    // The controls are bound once; a later exchange (UpdateData) finds them bound.
    if (m_list)
        return;
    for (const Control& c : CONTROLS) {
        QWidget* w = nullptr;
        if (c.button) {
            auto* b = new CSkinButton(Text(*c.caption), this);
            this->*c.button = b;
            connect(b, &QPushButton::clicked, this,
                    [this, command = c.command] { action(command)->trigger(); });
            w = b;
        } else {
            w = m_list = new QTableView(this);
        }
        w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
        w->setGeometry(DluX(c.x), DluY(c.y), DluX(c.w), DluY(c.h));
    }

    m_pModel = new VoiceListModel(m_voices, g_imageList);
    // InitList puts the skinned header in place of the view's own; hidden,
    // the stand-in does not lay out the headings meanwhile.
    m_list->horizontalHeader()->hide();
    m_list->setModel(m_pModel);
    m_pModel->onDrop = [this](const QMimeData* data, int row) { return OnDrop(data, row); };
    connect(m_pModel, &VoiceListModel::selectedRowChanged, this, [this](int row) { ShowSelection(row); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnViewSelectionChanged(); });
    connect(m_list, &QAbstractItemView::clicked, this, [this](const QModelIndex& i) { OnListClicked(i); });
    CreateCommands();
}

void CMainDlg::CreateCommands()
{
    for (const CommandInfo& c : COMMANDS) {
        auto* action = new QAction(this);
        action->setShortcuts(QKeySequence::listFromString(QString::fromLatin1(c.keys)));
        action->setShortcutContext(c.onList ? Qt::WidgetShortcut : Qt::WindowShortcut);
        (c.onList ? static_cast<QWidget*>(m_list) : this)->addAction(action);
        connect(action, &QAction::triggered, this, [this, handler = c.handler] { (this->*handler)(); });
        m_actions[static_cast<std::size_t>(c.command)] = action;
    }
    const auto update = [this] { UpdateCommands(); };
    connect(m_pUndo, &QUndoStack::canUndoChanged, this, update);
    connect(m_pUndo, &QUndoStack::canRedoChanged, this, update);
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this, update);
    connect(m_pModel, &QAbstractItemModel::rowsRemoved, this, update);
    connect(m_pModel, &QAbstractItemModel::modelReset, this, update);
    connect(m_pModel, &VoiceListModel::selectedRowChanged, this, update);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, update);
    UpdateCommands();
}

void CMainDlg::UpdateCommands()
{
    for (const CommandInfo& c : COMMANDS)
        if (QAction* a = action(c.command))
            a->setEnabled(!IsBusy() && (!c.enabled || (this->*c.enabled)()));
}

void CMainDlg::changeEvent(QEvent* event)
{
    CTxDialog::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        UpdateCommands();
}

bool CMainDlg::HasRows() const
{
    return m_voices.GetItemCount() > 0;
}

bool CMainDlg::HasSelectedRow() const
{
    return m_voices.GetSelected() >= 0;
}

bool CMainDlg::HasSelection() const
{
    return HasSelectedRow() || !SelectedRows().empty();
}

bool CMainDlg::CanUndo() const
{
    return m_pUndo->canUndo();
}

bool CMainDlg::CanRedo() const
{
    return m_pUndo->canRedo();
}

bool CMainDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);

    EnableDragMove(true);
    SetBackgroundColor(RGB(244, 249, 250), true);
    SetTopBand(0, 0, 32, RGB(192, 192, 192), false);
    SetBottomBand(0, 28, 28, RGB(128, 128, 128), false);
    SetTitleIcon(1, 1, static_cast<unsigned>(IDI_CAPTION));
    AllowEscapeKey(false);
    AllowEnterKey(false);
    EnableHoverTracking(false);
    SetEditTransparent(false);
    SetStaticTransparent(false);
    SetListBoxTransparent(false);
    SetExtraCtlTransparent(false);
    SetTitleShadow(RGB(69, 69, 69), false);
    SetBandGradient(2, 2, true);
    SetTitleFont(QStringLiteral("微软雅黑"), 22, 8, 550, false);
    SetTitleColor(RGB(0, 0, 128));
    SetTitleText(Text(voicelib::Msg::WindowTitle), 36, 8);

    InitButtons();
    InitList();

    RoundWindowRegion(this);

    m_player->SetEnableContextMenu(false);
    m_player->SetEnabled(true);
    m_player->SetUiMode(QStringLiteral("Invisible"));

    setWindowTitle(Text(voicelib::Msg::WindowTitle));
    // The list, not the first button in tab order ("退出"): a stray Space must not end the program.
    m_list->setFocus();
    return true;
}

CSkinButton* CMainDlg::button(int id) const
{
    for (const Control& c : CONTROLS)
        if (c.id == id && c.button)
            return this->*c.button;
    return nullptr;
}

void CMainDlg::InitButtons()
{
    for (const Control& c : CONTROLS) {
        if (!c.button)
            continue;
        CSkinButton* b = this->*c.button;
        b->setFont(g_font);
        b->LoadIcons(c.icon, 0);
        b->SetColor(BTNCLR_FG_HOT, RGB(255, 165, 0), true);
        b->SetColor(BTNCLR_FG_NORMAL, RGB(0, 0, 128), true);
        b->SetColor(BTNCLR_LINE, RGB(255, 165, 0), true);
        b->SetBorderStyle(true, true);
        b->SetTransparent(true);
    }
}

void CMainDlg::InitList()
{
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A plain click or arrow key selects one row as ever; Shift and Ctrl add rows.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Rows are dragged to a new place and files dropped between rows.
    m_list->setDragEnabled(true);
    m_list->setAcceptDrops(true);
    m_list->setDragDropMode(QAbstractItemView::DragDrop);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setDragDropOverwriteMode(false);
    m_list->setDropIndicatorShown(true);
    m_list->setStyle(new VoiceListDropStyle(m_list));
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFrameShape(QFrame::NoFrame); // the window draws the list's frame
    m_list->setWordWrap(false);
    // A long path keeps its file name in sight; the tooltip has all of it.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setItemDelegate(new VoiceRowDelegate(m_list));
    m_list->setIconSize(QSize(20, 20));
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(22);
    QPalette pal = m_list->palette();
    pal.setColor(QPalette::Text, ToQColor(RGB(69, 69, 69)));
    // Long work disables the window for a moment; the list keeps its look meanwhile.
    for (int role = 0; role < QPalette::NColorRoles; ++role)
        pal.setBrush(QPalette::Disabled, QPalette::ColorRole(role),
                     pal.brush(QPalette::Active, QPalette::ColorRole(role)));
    m_list->setPalette(pal);
    m_list->setFont(g_font);

    m_header = new CSkinHeaderCtrl(m_list);
    m_header->m_astrHeadings.clear();
    m_header->m_strAlign = QString();
    for (int i = 0; i < VoiceListModel::COLUMN_COUNT; ++i) {
        m_header->m_astrHeadings << m_pModel->headerData(i, Qt::Horizontal).toString();
        m_header->m_strAlign += QLatin1Char('1');
    }
    m_header->SetFontFace(QStringLiteral("微软雅黑"));
    m_header->SetFontSize(18, 0);
    m_header->SetFontBold(0);
    m_header->SetBackground(RGB(245, 245, 245), 3);
    m_header->SetHeightFactor(1.2f);
    m_header->SetTextColor(RGB(0, 0, 128));
    m_header->SetGradientMode(0);

    m_list->setHorizontalHeader(m_header);
    m_header->setHighlightSections(false);
    for (int i = 0; i < VoiceListModel::COLUMN_COUNT; ++i)
        m_header->resizeSection(i, COLUMNS[i].width);

    m_header->SetOutline(RGB(245, 245, 245), 1);
    m_header->SetSeparators(RGB(211, 211, 211), 1);
    for (int i = 0; i < VoiceListModel::COLUMN_COUNT; ++i) {
        if (COLUMNS[i].bitmap != 0)
            m_header->SetColumnBitmap(m_list, i, COLUMNS[i].bitmap, 0);
    }
    m_header->SetBitmapAlign(1, 1);

    // While a row plays, its play icon turns into a stop icon and its number
    // takes the buttons' hover colour.
    m_pModel->SetPlayingLook(LoadRowIcon(IDI_STOP), ToQColor(m_btnAppend->GetColor(BTNCLR_FG_HOT)));
    m_pModel->SetPlayingRowSource([this] { return m_nPlayingRow; });
    // Rows the capacity line counts as invalid or beyond the limit, and why.
    m_pModel->SetUnusableLook(
        m_list->palette().color(QPalette::Disabled, QPalette::Text),
        [this](int row) {
            return row >= voicelib::MAX_LIBRARY_ENTRIES ||
                   m_capacityCache.IsKnownInvalid(m_voices.GetResolvedPath(row));
        },
        [this](int row) {
            if (row >= voicelib::MAX_LIBRARY_ENTRIES)
                return Text(voicelib::Msg::RowOverLimit, voicelib::MAX_LIBRARY_ENTRIES);
            return QString::fromStdString(
                voicelib::SourceProblemText(voicelib::ProbeSource(m_voices.GetResolvedPath(row))));
        });
}

void CMainDlg::OnPaint(QPainter& p)
{
    const QRect g = m_list->geometry();
    const CRect frame(g.left() - 1, g.top() - 1, g.left() + g.width() + 1, g.top() + g.height() + 1);
    Draw3dRect(p, frame, RGB(65, 105, 225), RGB(65, 105, 225));

    // The capacity line, in the bottom band left of its buttons, in line with the list.
    if (!m_strCapacity.isEmpty()) {
        const QRect band = m_rcBottomBand.ToQRect();
        const QRect at(g.left(), band.top(), m_btnLoadList->x() - g.left() - 6, band.height());
        p.save();
        p.setFont(g_font);
        p.setPen(ToQColor(RGB(244, 249, 250)));
        p.drawText(at, Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(m_strCapacity, Qt::ElideRight, at.width()));
        p.restore();
    }
}

// --- selection: the list's selected row and the view's selection are kept equal

// The view's selection, set here, comes back to OnViewSelectionChanged, which
// finds the list agreeing and leaves it.
void CMainDlg::ShowSelection(int row)
{
    QItemSelectionModel* sel = m_list->selectionModel();
    // Several rows shown selected, led by this one, stay as they are.
    const std::vector<int> shown = SelectedRows();
    if (row >= 0 && shown.size() > 1 && shown.front() == row)
        return;
    if (row < 0 || row >= m_pModel->rowCount()) {
        sel->clearSelection();
    } else {
        const QModelIndex index = m_pModel->index(row, 0);
        sel->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

void CMainDlg::OnViewSelectionChanged()
{
    const std::vector<int> rows = SelectedRows();
    const int row = rows.empty() ? -1 : rows.front();
    if (row == m_voices.GetSelected() || m_pModel->rowCount() != m_voices.GetItemCount())
        return;
    // The view shows it already: ShowSelection need not hear of it.
    const QSignalBlocker blocker(m_pModel);
    m_voices.SetSelected(row);
}

void CMainDlg::OnListClicked(const QModelIndex& index)
{
    // Only a click that began as a plain press on this cell acts (see eventFilter).
    if (!index.isValid() || index != std::exchange(m_pressedCell, QPersistentModelIndex()))
        return;
    if (m_voices.GetSelected() != index.row())
        m_voices.SetSelected(index.row());
    OnClickList(index.row(), index.column());
}

// --- commands

namespace {

// The dialog behind SelectFile: it takes a typed name of a file that is not
// there yet and, where several may be chosen, several names ("a.wav" "b.wav"),
// existing or not, as well as several rows picked in its views.
class FileDialog : public QFileDialog
{
public:
    FileDialog(QWidget* parent, const QString& start, const QString& filter, bool multi)
        : QFileDialog(parent, Text(voicelib::Msg::ChooseTargetFile), start, filter), m_bMulti(multi)
    {
        // Qt's several-file mode refuses names of missing files; this mode takes
        // them, and its views are let pick several rows through their property.
        setFileMode(QFileDialog::AnyFile);
        if (multi) {
            setOption(QFileDialog::DontUseNativeDialog);
            setStyleSheet(
                QStringLiteral("QAbstractItemView { qproperty-selectionMode: ExtendedSelection; }"));
        }
    }

    void accept() override
    {
        // As names are typed the views mark those of existing files, and the
        // dialog would then report only the marked ones. A new proxy gives the
        // views a new selection without the marks, so every typed name counts.
        if (m_bMulti) {
            QAbstractProxyModel* marked = proxyModel();
            setProxyModel(new QIdentityProxyModel(this));
            delete marked;
        }
        QFileDialog::accept();
    }

private:
    bool m_bMulti;
};

} // namespace

QStringList CMainDlg::SelectFile(bool open, bool multi, const QString& filter, const QString& defExt)
{
    // The dialog starts where the user last was; the process's current folder
    // is left alone, so nothing else depends on where a dialog went.
    const QString start = m_strLastFolder.isEmpty() ? QDir::currentPath() : m_strLastFolder;
    FileDialog dlg(this, start, ToQtFilter(filter), multi);
    dlg.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    QString suffix = defExt;
    if (suffix.startsWith(QStringLiteral("*.")))
        suffix = suffix.mid(2);
    dlg.setDefaultSuffix(suffix);
    // The filter last chosen for this kind of file, such as all audio files for the sources.
    if (const auto it = m_lastFilters.find(filter); it != m_lastFilters.end())
        dlg.selectNameFilter(it->second);
    if (dlg.exec() != QDialog::Accepted)
        return {};
    m_lastFilters[filter] = dlg.selectedNameFilter();
    QStringList files = dlg.selectedFiles();
    if (!multi && files.size() > 1)
        files = files.mid(0, 1);
    if (!files.isEmpty())
        m_strLastFolder = QFileInfo(files.first()).absolutePath();
    return files;
}

int CMainDlg::ShowMessageBox(MessageKind kind, const QString& text)
{
    if (kind == MessageKind::Information) {
        QMessageBox box(QMessageBox::Information, Text(voicelib::Msg::Prompt), text, QMessageBox::Ok, this);
        return box.exec();
    }
    const bool cancel = kind == MessageKind::YesNoCancel;
    QMessageBox box(
        QMessageBox::Question, Text(voicelib::Msg::Prompt), text,
        QMessageBox::Yes | QMessageBox::No | (cancel ? QMessageBox::Cancel : QMessageBox::NoButton), this);
    box.button(QMessageBox::Yes)->setText(Text(voicelib::Msg::CaptionYes));
    box.button(QMessageBox::No)->setText(Text(voicelib::Msg::CaptionNo));
    if (cancel)
        box.button(QMessageBox::Cancel)->setText(Text(voicelib::Msg::CaptionCancel));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(cancel ? QMessageBox::Cancel : QMessageBox::No);
    return box.exec();
}

void CMainDlg::ShowMessage(const QString& text)
{
    ShowMessageBox(MessageKind::Information, text);
}

bool CMainDlg::AskYesNo(const QString& text)
{
    return ShowMessageBox(MessageKind::YesNo, text) == QMessageBox::Yes;
}

int CMainDlg::AskYesNoCancel(const QString& text)
{
    return ShowMessageBox(MessageKind::YesNoCancel, text);
}

QString CMainDlg::SelectFolder(const QString& start)
{
    // Qt's dialog opens and returns only folders that exist: the suggested one
    // is made for it, and removed again (when still empty) unless it is chosen.
    const bool made = !QFileInfo::exists(start) && QDir().mkpath(start);
    QFileDialog dlg(this, Text(voicelib::Msg::ChooseConvertFolder),
                    made || QFileInfo::exists(start) ? start : QFileInfo(start).absolutePath());
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setOption(QFileDialog::ShowDirsOnly);
    QString chosen;
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
        chosen = dlg.selectedFiles().first();
    if (made && QFileInfo(chosen) != QFileInfo(start))
        QDir().rmdir(start);
    return chosen;
}

bool CMainDlg::IsModified() const
{
    return !m_pUndo->isClean();
}

bool CMainDlg::ConfirmDiscard()
{
    // An empty list holds nothing to lose (and its export writes nothing).
    if (!IsModified() || m_voices.GetItemCount() == 0)
        return true;
    switch (AskYesNoCancel(Text(voicelib::Msg::AskSaveChanges))) {
    case QMessageBox::Yes:
        return ExportList();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void CMainDlg::OnAppend()
{
    AddFiles(SelectFile(true, true, WaveFilter(), WAVE_EXT));
}

void CMainDlg::AddFiles(const QStringList& chosen, int row)
{
    const QStringList files = OfferConversion(chosen);
    if (files.isEmpty())
        return;
    const bool atEnd = row < 0 || row >= m_voices.GetItemCount();
    EditList(Text(voicelib::Msg::CaptionAppend), [&] {
        if (atEnd)
            m_voices.Append(ToPaths(files));
        else
            m_voices.InsertAt(row, ToPaths(files));
    });
    const int last = atEnd ? m_voices.GetItemCount() - 1 : row + static_cast<int>(files.size()) - 1;
    m_list->doItemsLayout(); // the scroll range must know the new rows before scrolling
    m_list->scrollTo(m_pModel->index(last, 0));
}

void CMainDlg::OnInsert()
{
    if (m_voices.GetSelected() < 0)
        return;
    const QStringList files = OfferConversion(SelectFile(true, false, WaveFilter(), WAVE_EXT));
    if (files.isEmpty())
        return;
    EditList(Text(voicelib::Msg::CaptionInsert), [&] {
        m_voices.Insert(VoiceListModel::FromDisplay(DialogPath(files.first())));
        ShowSelection(m_voices.GetSelected());
    });
}

void CMainDlg::OnDelete()
{
    const std::vector<int> rows = SelectedRows();
    EditList(Text(voicelib::Msg::CaptionDelete), [&] {
        if (rows.size() > 1) {
            m_voices.RemoveRows(rows);
            m_voices.SetSelected(-1);
        } else {
            m_voices.DeleteSelected();
        }
        ShowSelection(m_voices.GetSelected());
    });
}

void CMainDlg::OnMoveUp()
{
    MoveSelection(-1);
}

void CMainDlg::OnMoveDown()
{
    MoveSelection(1);
}

void CMainDlg::MoveSelection(int delta)
{
    const std::vector<int> rows = SelectedRows();
    EditList(Text(delta < 0 ? voicelib::Msg::CaptionMoveUp : voicelib::Msg::CaptionMoveDown), [&] {
        if (rows.size() > 1) {
            // The selection moves as one block; at either end nothing moves.
            const std::vector<int> moved = m_voices.MoveRows(rows, delta);
            if (moved.empty())
                return;
            m_list->setFocus();
            SelectRows(moved);
            return;
        }
        if (!(delta < 0 ? m_voices.MoveUp() : m_voices.MoveDown()))
            return;
        m_list->setFocus();
        ShowSelection(m_voices.GetSelected());
    });
}

void CMainDlg::OnReplace(int row)
{
    const QStringList files = OfferConversion(SelectFile(true, false, WaveFilter(), WAVE_EXT));
    if (files.isEmpty())
        return;
    EditList(Text(voicelib::Msg::StepReplace),
             [&] { m_voices.Replace(row, VoiceListModel::FromDisplay(DialogPath(files.first()))); });
}

void CMainDlg::OnLoadList()
{
    if (!ConfirmDiscard())
        return;
    const QStringList files = SelectFile(true, false, LIST_FILTER, LIST_EXT);
    if (!files.isEmpty())
        LoadList(files.first());
}

void CMainDlg::LoadList(const QString& file)
{
    // A loaded list replaces the rows, which stops a preview; a failed load keeps both.
    voicelib::IoStatus status;
    EditList(Text(voicelib::Msg::CaptionLoadList), [&] {
        status = voicelib::LoadListFile(VoiceListModel::FromDisplay(DialogPath(file)), m_voices);
        ShowSelection(m_voices.GetSelected());
    });
    if (status.ok())
        MarkSaved();
    else
        ShowMessage(Text(voicelib::Msg::LoadListFailed, status.message()));
}

bool CMainDlg::OnDrop(const QMimeData* data, int row)
{
    if (IsBusy())
        return false;
    const std::vector<int> rows = m_pModel->DraggedRows(data);
    if (!rows.empty()) {
        // Rows dragged within the list move there in one step, still selected.
        return EditList(Text(voicelib::Msg::StepMove), [&] {
            const std::vector<int> moved = m_voices.MoveRowsTo(rows, row);
            if (!moved.empty())
                SelectRows(moved);
        });
    }
    const QStringList files = VoiceListModel::DroppedFiles(data);
    if (files.isEmpty())
        return false;
    // Deferred: the file manager waits for the drop to return, and adding
    // files may ask questions.
    QMetaObject::invokeMethod(
        this,
        [this, files, row] {
            if (!IsBusy())
                AddFiles(files, row);
        },
        Qt::QueuedConnection);
    return true;
}

// --- undo and redo

bool CMainDlg::EditList(const QString& text, const std::function<void()>& edit)
{
    if (m_bRecording) { // part of an edit under way
        edit();
        return true;
    }
    const RowSelection before = CurrentSelection();
    voicelib::VoiceListEdit change;
    {
        voicelib::VoiceListRecorder recorder(m_voices);
        m_bRecording = true;
        edit();
        m_bRecording = false;
        change = recorder.Take();
    }
    if (change.IsEmpty())
        return false;
    m_pUndo->push(new CListEditCommand(*this, text, std::move(change), before, CurrentSelection()));
    return true;
}

void CMainDlg::OnUndo()
{
    m_pUndo->undo();
}

void CMainDlg::OnRedo()
{
    m_pUndo->redo();
}

void CMainDlg::MarkSaved()
{
    m_pUndo->setClean();
}

void CMainDlg::CountChange()
{
    if (m_bRecording)
        return;
    // A change the undo stack did not see: its steps no longer fit the rows,
    // and no step is the saved list any more.
    m_pUndo->clear();
    m_pUndo->resetClean();
}

void CMainDlg::ClearViewSelection()
{
    m_list->selectionModel()->clear();
}

std::vector<int> CMainDlg::SelectedRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& r : m_list->selectionModel()->selection())
        for (int i = r.top(); i <= r.bottom(); ++i)
            rows.push_back(i);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CMainDlg::SelectRows(const std::vector<int>& rows)
{
    RowSelection selection;
    selection.runs = Runs(rows);
    selection.selected = rows.empty() ? -1 : rows.front();
    selection.current = selection.selected;
    RestoreSelection(selection);
}

CMainDlg::RowSelection CMainDlg::CurrentSelection() const
{
    RowSelection selection;
    selection.runs = Runs(SelectedRows());
    selection.selected = m_voices.GetSelected();
    selection.current = m_list->currentIndex().isValid() ? m_list->currentIndex().row() : -1;
    return selection;
}

void CMainDlg::RestoreSelection(const RowSelection& selection)
{
    const int count = m_pModel->rowCount();
    const int lastColumn = m_pModel->columnCount() - 1;
    QItemSelection shown;
    for (const auto& [first, last] : selection.runs)
        if (first >= 0 && last < count)
            shown.select(m_pModel->index(first, 0), m_pModel->index(last, lastColumn));
    QItemSelectionModel* sel = m_list->selectionModel();
    if (selection.current >= 0 && selection.current < count)
        sel->setCurrentIndex(m_pModel->index(selection.current, 0), QItemSelectionModel::NoUpdate);
    sel->select(shown, QItemSelectionModel::ClearAndSelect);
    // Last, as the view's selection has set it to the first row shown.
    if (m_voices.GetSelected() != selection.selected) {
        const QSignalBlocker blocker(m_pModel);
        m_voices.SetSelected(selection.selected);
        UpdateCommands();
    }
    if (selection.current >= 0 && selection.current < count)
        m_list->scrollTo(m_pModel->index(selection.current, 0));
}

void CMainDlg::OnExportList()
{
    ExportList();
}

bool CMainDlg::ExportList()
{
    if (m_voices.GetItemCount() == 0)
        return false;
    const QStringList files = SelectFile(false, false, LIST_FILTER, LIST_EXT);
    if (files.isEmpty())
        return false;
    const voicelib::IoStatus status =
        voicelib::ExportListFile(VoiceListModel::FromDisplay(files.first()), m_voices);
    if (status.ok()) {
        MarkSaved();
        ShowMessage(QString::fromStdString(voicelib::SaveDoneMessage()));
    } else {
        ShowMessage(Text(voicelib::Msg::SaveFailed, status.message()));
    }
    return status.ok();
}

void CMainDlg::OnBuildLibrary()
{
    if (m_voices.GetItemCount() == 0)
        return;
    // Exactly these rows are checked and written, relative ones resolved once.
    const std::vector<std::string> paths = m_voices.GetResolvedPaths();
    const std::optional<voicelib::RejectedSource> bad = voicelib::FindFirstInvalidSource(paths);
    if (bad) {
        // The message names the row as the list shows it.
        ShowMessage(QString::fromStdString(
            voicelib::RejectedSourceMessage({bad->index, m_voices.GetPath(bad->index), bad->verdict})));
        return;
    }
    const QStringList files = SelectFile(false, false, LIBRARY_FILTER, LIBRARY_EXT);
    if (files.isEmpty())
        return;
    const std::string target = VoiceListModel::FromDisplay(files.first());
    const int total = std::min(static_cast<int>(paths.size()), voicelib::MAX_LIBRARY_ENTRIES);
    voicelib::WriteResult result;
    std::vector<voicelib::RowWarnings> warnings;
    LongWork work(this, Text(voicelib::Msg::Building), total);
    const LongWork::Outcome outcome = work.Run([&](const LongWork::Progress& progress) {
        // Each source opened once: what the device would play wrongly is read
        // from the file that is copied.
        const voicelib::BuildSources sources(paths);
        warnings = sources.Warnings();
        bool stopped = false;
        result = voicelib::WriteLibrary(target, sources,
                                        [&](int done, int) { return !(stopped = !progress(done)); });
        // A cancel that came after the last entry changes nothing.
        if (result.status.ok())
            return LongWork::Outcome::Completed;
        return stopped ? LongWork::Outcome::Cancelled : LongWork::Outcome::Failed;
    });

    switch (outcome) {
    case LongWork::Outcome::Cancelled:
        ShowMessage(Text(voicelib::Msg::BuildCancelled, result.status.path()));
        return;
    case LongWork::Outcome::Failed:
        ShowMessage(Text(voicelib::Msg::BuildFailed, result.status.message()));
        return;
    case LongWork::Outcome::Completed:
        break;
    }
    m_SizeTable = result.summary.sizes;
    std::string report = voicelib::BuildReportMessage(result.summary);
    if (!warnings.empty())
        report += "\n" + voicelib::SourceWarningCountMessage(warnings);
    ShowMessage(QString::fromStdString(report));
}

void CMainDlg::OnClickList(int item, int subItem)
{
    if (item < 0 || item >= m_voices.GetItemCount())
        return;
    Command command = Command::Count;
    switch (subItem) {
    case VoiceListModel::COL_REPLACE:
        command = Command::ReplaceRow;
        break;
    case VoiceListModel::COL_PLAY:
        command = Command::PlayRow;
        break;
    case VoiceListModel::COL_DELETE:
        command = Command::DeleteRow;
        break;
    default:
        return;
    }
    // The icons act on their own row, from now the list's selected one.
    if (m_voices.GetSelected() != item)
        m_voices.SetSelected(item);
    action(command)->trigger();
}

void CMainDlg::OnReplaceRow()
{
    if (HasSelectedRow())
        OnReplace(m_voices.GetSelected());
}

void CMainDlg::OnPlayRow()
{
    const int row = m_voices.GetSelected();
    if (row < 0)
        return;
    // The playing row shows a stop icon there.
    if (row == m_nPlayingRow)
        StopPreview();
    else
        StartPreview(row);
}

void CMainDlg::OnDeleteRow()
{
    const int row = m_voices.GetSelected();
    if (row < 0)
        return;
    if (row == m_nPlayingRow)
        StopPreview();
    // The icon deletes its own row, whatever else Ctrl or Shift selected.
    if (SelectedRows() != std::vector<int>{row})
        SelectRows({row});
    OnDelete();
}

void CMainDlg::OnFirstRow()
{
    SelectRowFromView(0);
}

void CMainDlg::OnLastRow()
{
    SelectRowFromView(m_pModel->rowCount() - 1);
}

void CMainDlg::OnCancel()
{
    if (IsBusy() || !ConfirmDiscard())
        return;
    if (m_nPlayingRow >= 0)
        StopPreview();
    CTxDialog::OnCancel();
}

// --- chosen files the device cannot play are converted when the user agrees

QStringList CMainDlg::OfferConversion(const QStringList& files)
{
    std::vector<qsizetype> offered;
    for (qsizetype i = 0; i < files.size(); ++i)
        if (NeedsConversion(voicelib::ReadSourceInfo(VoiceListModel::FromDisplay(DialogPath(files[i])))))
            offered.push_back(i);
    if (offered.empty())
        return files;
    const auto module = voicelib::LoadConversionModule();
    if (!module) {
        ShowMessage(Text(voicelib::Msg::ConvertUnavailable, offered.size(), module.message()));
        return files;
    }
    if (!AskYesNo(Text(voicelib::Msg::AskConvert, offered.size())))
        return files;
    const QString suggested =
        QFileInfo(DialogPath(files[offered.front()])).absoluteDir().filePath(QStringLiteral("alaw"));
    const bool hadSuggested = QFileInfo::exists(suggested);
    const QString folder = SelectFolder(suggested);
    if (folder.isEmpty())
        return {};
    const std::string dir = VoiceListModel::FromDisplay(DialogPath(folder));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir)) {
        ShowMessage(Text(voicelib::Msg::ConvertFolderFailed, folder.toStdString(),
                         ec ? voicelib::ErrorCodeText(ec)
                            : voicelib::MessageText(voicelib::Msg::ConvertFolderNotFolder)));
        return {};
    }

    std::vector<voicelib::ConvertJob> jobs;
    voicelib::ConvertOptions options;
    for (qsizetype i : offered)
        options.write.sources.push_back(VoiceListModel::FromDisplay(DialogPath(files[i])));
    // A converted file never lands on one the list already plays: it takes a free name.
    const std::vector<std::string> listFiles = m_voices.GetResolvedPaths();
    const std::vector<std::string> targets = ConversionTargets(dir, options.write.sources, listFiles);
    QStringList renamed;
    std::unordered_set<std::string_view> targetNames;
    for (std::size_t k = 0; k < targets.size(); ++k) {
        const std::string& input = options.write.sources[k];
        jobs.push_back({input, targets[k]});
        targetNames.insert(FileNameOf(targets[k]));
        const std::string usual = voicelib::ConvertedName(dir, input);
        if (targets[k] != usual)
            renamed << Text(voicelib::Msg::ConvertRenamed, input, targets[k], usual);
    }
    // Should a file change meanwhile, the writer still refuses to replace one the list plays.
    for (const std::string& f : listFiles)
        if (targetNames.count(FileNameOf(f)))
            options.write.sources.push_back(f);

    const ConversionRun run = RunConversion(this, **module, jobs, options);
    // Files written meanwhile are seen afresh by the capacity line.
    if (m_capacityCache.Refresh())
        ScheduleCapacity(0);
    // A folder made for this conversion goes again when nothing went into it.
    if (!hadSuggested && QFileInfo(folder) == QFileInfo(suggested))
        QDir().rmdir(folder);
    if (run.cancelled) {
        ShowMessage(Text(voicelib::Msg::ListConvertCancelled));
        return {};
    }
    QStringList chosen = files;
    QStringList failed;
    for (std::size_t k = 0; k < run.results.size(); ++k) {
        const voicelib::ConvertResult& r = run.results[k];
        if (r.ok)
            chosen[offered[k]] = VoiceListModel::ToDisplay(r.output);
        else
            failed << VoiceListModel::ToDisplay(r.input) + QStringLiteral(": ") +
                          QString::fromStdString(r.error);
    }
    // What happened to the names, then what did not convert: one message.
    QStringList notes;
    const auto note = [&notes](QString head, const QStringList& lines) {
        if (lines.isEmpty())
            return;
        for (qsizetype i = 0; i < lines.size() && i < LISTED_CONVERSION_FAILURES; ++i)
            head += QLatin1Char('\n') + lines[i];
        if (lines.size() > LISTED_CONVERSION_FAILURES)
            head += QLatin1Char('\n') + Text(voicelib::Msg::MoreFailures, lines.size());
        notes << head;
    };
    note(Text(voicelib::Msg::ConvertRenamedHead, renamed.size()), renamed);
    note(Text(voicelib::Msg::ConvertFailedKept, failed.size()), failed);
    if (!notes.isEmpty())
        ShowMessage(notes.join(QLatin1Char('\n')));
    return chosen;
}

// --- preview

void CMainDlg::StartPreview(int row)
{
    const QString path = VoiceListModel::ToDisplay(m_voices.GetResolvedPath(row));
    if (!m_bToldNoOutput && !m_player->HasOutput()) {
        m_bToldNoOutput = true; // once: later clicks stay as quiet as the design
        const voicelib::Error* why = m_player->WhyUnavailable();
        ShowMessage(why ? Text(voicelib::Msg::PlayerUnavailable, why->path() + PlayerLoaderWords(*why))
                        : Text(voicelib::Msg::NoAudioOutput));
    }
    if (m_nPlayingRow >= 0)
        StopPreview();
    m_nPlayingRow = row;
    m_player->SetURL(path);
    m_previewTimer.start(PREVIEW_POLL_MS, this);
    m_pModel->PlayingRowChanged(row);
}

void CMainDlg::StopPreview()
{
    m_player->Close();
    const int row = std::exchange(m_nPlayingRow, -1);
    m_previewTimer.stop();
    if (m_pModel)
        m_pModel->PlayingRowChanged(row);
}

void CMainDlg::OnTimer(int timerId)
{
    if (timerId != PREVIEW_TIMER_ID)
        return;
    const int state = m_player->GetPlayState();
    if (m_nPlayingRow >= 0 && state == CWMPPlayer4::psStopped) {
        const int row = std::exchange(m_nPlayingRow, -1);
        m_player->Close();
        m_previewTimer.stop();
        m_pModel->PlayingRowChanged(row);
    }
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (m_list && watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            // With Shift or Ctrl a click only adds to or takes from the selection.
            const auto* press = static_cast<QMouseEvent*>(event);
            const bool plain = !(press->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
            m_pressedCell = plain ? m_list->indexAt(press->position().toPoint()) : QModelIndex();
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            // Its release is a click to the view too; the first click has acted already.
            m_pressedCell = QModelIndex();
        }
    }
    return CTxDialog::eventFilter(watched, event);
}

void CMainDlg::SelectRowFromView(int row)
{
    if (row < 0 || row >= m_pModel->rowCount())
        return;
    // Through the view's selection, as a click or an arrow key goes.
    const QModelIndex index =
        m_pModel->index(row, m_list->currentIndex().isValid() ? m_list->currentIndex().column() : 0);
    m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    m_list->scrollTo(index);
}

void CMainDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_previewTimer.timerId())
        OnTimer(PREVIEW_TIMER_ID);
    else if (event->timerId() == m_capacityTimer.timerId())
        UpdateCapacity();
    else
        CTxDialog::timerEvent(event);
}

// --- the capacity line follows the list's changes

void CMainDlg::ScheduleCapacity(int first)
{
    m_nCapacityDirtyFrom = std::min(m_nCapacityDirtyFrom, first);
    if (!m_capacityTimer.isActive())
        m_capacityTimer.start(0, this); // one update for all the changes of one edit
}

void CMainDlg::UpdateCapacity()
{
    m_capacityTimer.stop();
    const int count = m_voices.GetItemCount();
    const int head = std::min(count, voicelib::MAX_LIBRARY_ENTRIES);
    if (head == 0) {
        m_capacity = {};
    } else if (m_nCapacityDirtyFrom < head || head != m_capacity.rows) {
        // A removal at the end changes no row before it, but the count all the same.
        // Only the rows a library takes are looked at, each one hash look-up once known.
        std::vector<std::string> paths;
        paths.reserve(static_cast<std::size_t>(head));
        for (int i = 0; i < head; ++i)
            paths.push_back(m_voices.GetResolvedPath(i));
        m_capacity = m_capacityCache.Update(paths, CAPACITY_PROBES_PER_STEP);
    }
    // Rows beyond the library's change only this count.
    m_capacity.overLimit = count - m_capacity.rows;
    m_nCapacityDirtyFrom = INT_MAX;
    if (m_capacity.pending > 0)
        ScheduleCapacity(0);
    m_pModel->UsabilityChanged();
    const QString text = count == 0 ? QString() : QString::fromStdString(voicelib::CapacityText(m_capacity));
    if (text != m_strCapacity) {
        m_strCapacity = text;
        update(m_rcBottomBand.ToQRect());
    }
}

void CMainDlg::OnActivate(bool active)
{
    CTxDialog::OnActivate(active);
    // Sources may have been changed elsewhere while the window was in the background.
    if (active && m_capacityCache.Refresh())
        ScheduleCapacity(0);
}

// --- the previewed row follows its file through the list's changes

void CMainDlg::RowsInserted(int first, int last)
{
    CountChange();
    ScheduleCapacity(first);
    if (m_nPlayingRow >= first)
        m_nPlayingRow += last - first + 1;
}

void CMainDlg::RowsAboutToBeRemoved(int first, int last)
{
    // Its file leaves the list: the preview ends with it.
    if (m_nPlayingRow >= first && m_nPlayingRow <= last)
        StopPreview();
}

void CMainDlg::RowsRemoved(int first, int last)
{
    CountChange();
    ScheduleCapacity(first);
    if (m_nPlayingRow > last)
        m_nPlayingRow -= last - first + 1;
}

void CMainDlg::RowsMoved(int first, int last, int to)
{
    CountChange();
    ScheduleCapacity(std::min(first, to));
    m_nPlayingRow = voicelib::RowAfterMove(m_nPlayingRow, first, last, to);
}

void CMainDlg::RowMoved(int from, int to)
{
    CountChange();
    ScheduleCapacity(std::min(from, to));
    m_nPlayingRow = voicelib::RowAfterMove(m_nPlayingRow, from, from, to);
}

void CMainDlg::RowChanged(int row)
{
    CountChange();
    ScheduleCapacity(row);
}

void CMainDlg::AboutToReset()
{
    if (m_nPlayingRow >= 0)
        StopPreview();
}

void CMainDlg::Reset()
{
    CountChange();
    ScheduleCapacity(0);
}
