// Previews from the window: start, restart, the polling tick, and the playing
// row followed through edits, deletes, loads and the window's close.

#include "maindlg_fixture.h"
#include "media/loader.h"
#include "res/resource_ids.h"

#include <QPaintEvent>
#include <algorithm>
#include <functional>

using namespace apptest;

namespace {

class PreviewTest : public MainDlgTest
{
public:
    PreviewTest()
    {
        files = Waves(4);
        Fill(files);
    }
    QStringList files;
};

TEST_F(PreviewTest, StartupSwitchesThePlayersInterfaceOff)
{
    EXPECT_FALSE(dlg->player()->GetEnableContextMenu());
    EXPECT_TRUE(dlg->player()->GetEnabled());
    EXPECT_EQ(dlg->player()->GetUiMode(), "Invisible");
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
}

TEST_F(PreviewTest, PlayClickStartsAnotherRowRestartsAndTheStopIconStops)
{
    ClickCell(1, 3);
    EXPECT_EQ(backend->plays, QStringList{files[1]});
    EXPECT_EQ(dlg->playingRow(), 1);
    EXPECT_TRUE(dlg->previewTimerActive());

    ClickCell(3, 3); // another row: the first file is closed, the new one plays
    EXPECT_EQ(backend->releases, 1);
    EXPECT_EQ(dlg->playingRow(), 3);
    ClickCell(3, 3); // the playing row shows a stop icon there
    EXPECT_EQ(backend->releases, 2);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
    ClickCell(3, 3); // and plays again from the start
    EXPECT_EQ(backend->plays, (QStringList{files[1], files[3], files[3]}));
    EXPECT_EQ(dlg->playingRow(), 3);
    EXPECT_TRUE(dlg->previewTimerActive());
}

TEST_F(PreviewTest, TickEndsThePreviewOnlyWhenStopped)
{
    ClickCell(2, 3);
    struct Row
    {
        const char* name;
        PlayerBackend::State state;
        int timerId;
        bool ends;
    };
    const Row rows[] = {
        {"playing", PlayerBackend::State::Playing, PREVIEW_TIMER_ID, false},
        {"paused", PlayerBackend::State::Paused, PREVIEW_TIMER_ID, false},
        {"buffering", PlayerBackend::State::Buffering, PREVIEW_TIMER_ID, false},
        {"another timer", PlayerBackend::State::Stopped, PREVIEW_TIMER_ID + 1, false},
        {"stopped", PlayerBackend::State::Stopped, PREVIEW_TIMER_ID, true},
    };
    for (const Row& r : rows) {
        backend->state = r.state;
        const int releases = backend->releases;
        dlg->OnTimer(r.timerId);
        EXPECT_EQ(dlg->playingRow(), r.ends ? -1 : 2) << r.name;
        EXPECT_EQ(dlg->previewTimerActive(), !r.ends) << r.name;
        EXPECT_EQ(backend->releases, releases + (r.ends ? 1 : 0)) << r.name;
    }
}

TEST_F(PreviewTest, DeleteClickOnThePlayingRowStopsItFirst)
{
    ClickCell(1, 3);
    ClickCell(1, 4);
    EXPECT_EQ(backend->releases, 1);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
    EXPECT_EQ(Rows(), (QStringList{files[0], files[2], files[3]}));
}

TEST_F(PreviewTest, DeleteClickOnAnotherRowLetsItPlay)
{
    ClickCell(2, 3);
    ClickCell(0, 4);
    EXPECT_EQ(backend->releases, 0);
    EXPECT_EQ(dlg->playingRow(), 1) << "the playing file moved up one row";
    EXPECT_TRUE(dlg->previewTimerActive());
    ClickCell(1, 4); // its own row, at its new index
    EXPECT_EQ(backend->releases, 1);
    EXPECT_EQ(dlg->playingRow(), -1);
}

TEST_F(PreviewTest, PlayingRowFollowsItsFile)
{
    ClickCell(1, 3);
    ClickCell(1, 1);
    Click(IDC_MOVE_DOWN);
    EXPECT_EQ(dlg->playingRow(), 2);
    Click(IDC_MOVE_UP);
    Click(IDC_MOVE_UP);
    EXPECT_EQ(dlg->playingRow(), 0);

    ClickCell(0, 1);
    dlg->answers.push_back({File("new.wav")});
    Click(IDC_INSERT);
    EXPECT_EQ(dlg->playingRow(), 1) << "a row inserted above pushes it down";

    ClickCell(3, 1); // a neighbour moving past it
    Click(IDC_MOVE_UP);
    Click(IDC_MOVE_UP);
    EXPECT_EQ(dlg->playingRow(), 2);
    EXPECT_EQ(dlg->voiceList().GetPath(dlg->playingRow()), VoiceListModel::FromDisplay(files[1]));

    ClickCell(0, 1);
    Click(IDC_DELETE);
    EXPECT_EQ(dlg->playingRow(), 1);
    EXPECT_EQ(dlg->voiceList().GetPath(dlg->playingRow()), VoiceListModel::FromDisplay(files[1]));

    // Replacing the playing row's file through its icon does not stop it.
    dlg->answers.push_back({File("other.wav")});
    ClickCell(1, 2);
    EXPECT_EQ(dlg->playingRow(), 1);
    EXPECT_EQ(backend->releases, 0);

    // The delete button on the playing row takes its file away: the preview ends.
    ClickCell(1, 1);
    Click(IDC_DELETE);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_EQ(backend->releases, 1);
    EXPECT_FALSE(dlg->previewTimerActive());
}

TEST_F(PreviewTest, LoadingAListStopsThePreview)
{
    const QString ini = File("l.ini");
    dlg->answers.push_back({ini});
    Click(IDC_EXPORT_LIST);
    ClickCell(1, 3);
    dlg->answers.push_back({ini});
    Click(IDC_LOAD_LIST);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
    EXPECT_EQ(backend->releases, 1);
}

TEST_F(PreviewTest, LateFailureOfAnEarlierFileLetsTheNewOnePlay)
{
    ClickCell(0, 3);
    ClickCell(1, 3);
    ASSERT_EQ(backend->sources.size(), 2u);
    backend->Fail(backend->sources[0]); // told only now, after the second file started
    dlg->OnTimer(PREVIEW_TIMER_ID);
    EXPECT_EQ(dlg->playingRow(), 1);
    EXPECT_EQ(dlg->player()->GetPlayState(), CWMPPlayer4::psPlaying);

    backend->Fail(backend->sources[1]); // its own failure ends it at the next tick
    dlg->OnTimer(PREVIEW_TIMER_ID);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
}

TEST_F(PreviewTest, FailedLoadLetsThePreviewPlayOn)
{
    ClickCell(2, 3);
    dlg->answers.push_back({File("missing.ini")});
    Click(IDC_LOAD_LIST);
    EXPECT_EQ(dlg->messages.size(), 1);
    EXPECT_EQ(dlg->playingRow(), 2);
    EXPECT_TRUE(dlg->previewTimerActive());
    EXPECT_EQ(backend->releases, 0);
}

TEST_F(PreviewTest, NoAudioOutputIsToldAtTheFirstPlayClick)
{
    backend->hasOutput = false;
    ClickCell(0, 3);
    ClickCell(1, 3);
    EXPECT_EQ(dlg->messages, QStringList{"没有可用的音频输出设备"});
    EXPECT_EQ(backend->plays.size(), 2) << "the preview goes its designed way";
}

TEST_F(PreviewTest, PlayerModuleThatCannotLoadIsToldOnceAndPlaysEndAtOnce)
{
    using voicelib::Error;
    using voicelib::ModuleError;
    struct Row
    {
        const char* name;
        Error error;
        QString said;
    };
    const Row rows[] = {
        {"missing", Error(make_error_code(ModuleError::Missing), "/lib/voicelib-player.so"),
         "无法加载播放模块,不能试听: /lib/voicelib-player.so"},
        {"refused by the loader",
         Error(make_error_code(ModuleError::NotLoadable), "/lib/voicelib-player.so", "undefined symbol: f"),
         "无法加载播放模块,不能试听: /lib/voicelib-player.so (undefined symbol: f)"},
        {"of another build", Error(make_error_code(ModuleError::OtherVersion), "/lib/voicelib-player.so"),
         "无法加载播放模块,不能试听: /lib/voicelib-player.so"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        int made = 0;
        dlg = std::make_unique<TestDlg>(CWMPPlayer4::BackendFactory([&] {
            ++made;
            return voicelib::Result<std::unique_ptr<PlayerBackend>>(row.error);
        }));
        dlg->Create();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        Fill(files);
        EXPECT_EQ(made, 0) << "nothing is loaded before the first play";
        ClickCell(0, 3);
        dlg->OnTimer(PREVIEW_TIMER_ID);
        EXPECT_EQ(dlg->playingRow(), -1) << "the play ends at once";
        ClickCell(1, 3);
        EXPECT_EQ(made, 1);
        EXPECT_EQ(dlg->messages, QStringList{row.said});
    }
}

TEST_F(PreviewTest, ClosingStopsThePreview)
{
    ClickCell(1, 3);
    Click(IDC_EXIT);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(backend->releases, 1);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
}

// The style's margin puts the 20-pixel icon's right edge outside the 22-pixel
// column, so the icon's top left 16 x 16 is looked for.
bool ShowsIcon(const QImage& shot, const QRect& cell, int id)
{
    const QImage part = LoadRowIcon(id)
                            .pixmap(QSize(20, 20), 1.0)
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32)
                            .copy(0, 0, 16, 16);
    for (int y = cell.top(); y + 16 <= cell.bottom() + 1; ++y)
        for (int x = cell.left(); x + 16 <= cell.right() + 1; ++x)
            if (shot.copy(x, y, 16, 16) == part)
                return true;
    return false;
}

// Anti-aliased glyphs blend into the background: the hue tells.
bool HasHoverColour(const QImage& shot, const QRect& cell)
{
    const int hue = ToQColor(RGB(255, 165, 0)).hsvHue();
    int n = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            n += std::abs(c.hsvHue() - hue) <= 4 && c.hsvSaturation() > 150 && c.value() > 200;
        }
    return n >= 3;
}

// Per row: 'S' the stop icon with a hover-coloured number, 'P' the play icon
// with a plain one, '?' anything else. Read unselected: selected icons are tinted.
std::string Looks(QTableView* view)
{
    view->selectionModel()->clearSelection();
    const QImage shot = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::string looks;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const QRect icon = view->visualRect(view->model()->index(row, VoiceListModel::COL_PLAY));
        const bool hover = HasHoverColour(shot, view->visualRect(view->model()->index(row, 0)));
        looks += ShowsIcon(shot, icon, IDI_STOP) && hover    ? 'S'
                 : ShowsIcon(shot, icon, IDI_PLAY) && !hover ? 'P'
                                                             : '?';
    }
    return looks;
}

// The regions a widget is asked to repaint.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            region += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    QRegion region;
};

// Read from the pixels, so left out of the run under a compositor with the other look tests.
class PreviewLookTest : public PreviewTest
{
};

TEST_F(PreviewLookTest, PlayingRowShowsTheStopIconAndAHoverColouredNumber)
{
    const QString ini = File("l.ini");
    dlg->answers.push_back({ini});
    Click(IDC_EXPORT_LIST);
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(VoiceListModel::FromDisplay(f));
    QTableView* view = dlg->listView();
    PaintLog log(view->viewport());
    const auto tick = [this](PlayerBackend::State state) {
        backend->state = state;
        dlg->OnTimer(PREVIEW_TIMER_ID);
    };
    const auto space = [view] { QTest::keyClick(view, Qt::Key_Space); };
    const struct
    {
        const char* name;
        std::function<void()> act;
        std::string looks; // row 1 played before
    } cases[] = {
        {"still playing", [&] { tick(PlayerBackend::State::Playing); }, "PSPP"},
        {"its stop icon clicked", [&] { ClickCell(1, 3); }, "PPPP"},
        {"space on it", space, "PPPP"},
        {"another row clicked", [&] { ClickCell(3, 3); }, "PPPS"},
        {"space on another row",
         [&] {
             dlg->voiceList().SetSelected(3);
             QCoreApplication::processEvents();
             log.region = {}; // only what the key changes
             space();
         },
         "PPPS"},
        {"played to the end", [&] { tick(PlayerBackend::State::Stopped); }, "PPPP"},
        {"failed",
         [&] {
             backend->Fail(backend->sources.back());
             tick(PlayerBackend::State::Playing);
         },
         "PPPP"},
        {"moved down", [&] { Click(IDC_MOVE_DOWN); }, "PPSP"},
        {"a row above deleted", [&] { ClickCell(0, 4); }, "SPP"},
        {"its row deleted", [&] { ClickCell(1, 4); }, "PPP"},
        {"list loaded",
         [&] {
             dlg->answers.push_back({ini});
             Click(IDC_LOAD_LIST);
         },
         "PPPP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dlg->voiceList().Assign(paths);
        ClickCell(1, 3);
        view->setFocus();
        const std::string before = Looks(view);
        EXPECT_EQ(before, "PSPP");
        dlg->voiceList().SetSelected(1);
        QCoreApplication::processEvents();
        log.region = {};
        c.act();
        QCoreApplication::processEvents();
        const QRegion repainted = log.region; // the grab paints everything
        const std::string after = Looks(view);
        EXPECT_EQ(after, c.looks);
        // A row whose look changed was repainted: the view was told.
        for (std::size_t row = 0; row < std::min(before.size(), after.size()); ++row)
            for (int column : {0, 3})
                EXPECT_TRUE(before[row] == after[row] ||
                            repainted.contains(view->visualRect(view->model()->index(int(row), column))))
                    << row;
    }
    // The number keeps the hover colour on the selection too.
    ClickCell(2, 3);
    EXPECT_TRUE(
        HasHoverColour(view->viewport()->grab().toImage(), view->visualRect(view->model()->index(2, 0))));
}

TEST_F(PreviewTest, CloseRequestStopsThePreview)
{
    ClickCell(0, 3);
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(backend->releases, 1);
}

} // namespace
