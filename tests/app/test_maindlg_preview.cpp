// Previews from the window: start, restart, the polling tick, and the playing
// row followed through edits, deletes, loads and the window's close.

#include "maindlg_fixture.h"

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

TEST_F(PreviewTest, PlayClickStartsAndASecondClickRestarts)
{
    ClickCell(1, 3);
    EXPECT_EQ(backend->plays, QStringList{files[1]});
    EXPECT_EQ(dlg->playingRow(), 1);
    EXPECT_TRUE(dlg->previewTimerActive());

    ClickCell(1, 3); // the same row again: closed, then played from the start
    ClickCell(3, 3);
    EXPECT_EQ(backend->plays, (QStringList{files[1], files[1], files[3]}));
    EXPECT_EQ(backend->releases, 2);
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

TEST_F(PreviewTest, ClosingStopsThePreview)
{
    ClickCell(1, 3);
    Click(IDC_EXIT);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(backend->releases, 1);
    EXPECT_EQ(dlg->playingRow(), -1);
    EXPECT_FALSE(dlg->previewTimerActive());
}

TEST_F(PreviewTest, CloseRequestStopsThePreview)
{
    ClickCell(0, 3);
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(backend->releases, 1);
}

} // namespace
