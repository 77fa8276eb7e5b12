#pragma once

// The real main window with only the file dialog, the message box and the
// player backend replaced.

#include "app/mainapp.h"
#include "app/maindlg.h"
#include "app/voicelistmodel.h"
#include "core/wave.h"
#include "tempfolder.h"

#include <QApplication>
#include <QMessageBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace apptest {

class ScriptedBackend : public PlayerBackend
{
public:
    void PlayFile(const QString& path) override
    {
        plays << path;
        sources.push_back(CurrentSource());
        state = State::Playing;
    }
    void Release() override
    {
        ++releases;
        state = State::NoMedia;
    }
    State CurrentState() const override { return state; }
    void SetVolume(float) override {}
    bool HasOutput() const override { return hasOutput; }
    // A failure the media framework tells for the given source, whenever it comes.
    void Fail(unsigned source) const { Failed(source); }

    QStringList plays;
    std::vector<unsigned> sources; // of each play
    bool hasOutput = true;
    int releases = 0;
    State state = State::NoMedia;
};

struct FileDialogCall
{
    bool open = false;
    bool multi = false;
    QString filter;
    QString defExt;
};

class TestDlg : public CMainDlg
{
public:
    explicit TestDlg(std::unique_ptr<PlayerBackend> backend) : CMainDlg(std::move(backend)) {}
    explicit TestDlg(CWMPPlayer4::BackendFactory factory) : CMainDlg(std::move(factory)) {}

    QStringList SelectFile(bool open, bool multi, const QString& filter, const QString& defExt) override
    {
        dialogs.push_back({open, multi, filter, defExt});
        if (answers.empty())
            return {};
        QStringList a = answers.front();
        answers.pop_front();
        return a;
    }
    int ShowMessageBox(MessageKind kind, const QString& text) override
    {
        switch (kind) {
        case MessageKind::Information:
            messages << text;
            return QMessageBox::Ok;
        case MessageKind::YesNo: {
            asked << text;
            const bool yes = !yesNo.empty() && yesNo.front();
            if (!yesNo.empty())
                yesNo.pop_front();
            return yes ? QMessageBox::Yes : QMessageBox::No;
        }
        case MessageKind::YesNoCancel:
            break;
        }
        ++questions;
        if (saveAnswers.empty())
            return QMessageBox::No;
        const int a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }
    QString SelectFolder(const QString& start) override
    {
        folderStarts << start;
        if (folders.empty())
            return {};
        QString f = folders.front();
        folders.pop_front();
        return f == QLatin1String("=") ? start : f;
    }

    using CMainDlg::OnPaint;

    std::deque<QStringList> answers; // one per dialog; none left means cancel
    std::vector<FileDialogCall> dialogs;
    QStringList messages;
    std::deque<int> saveAnswers; // none left means 否
    int questions = 0;
    QStringList asked;
    std::deque<bool> yesNo; // none left means 否
    QStringList folderStarts;
    std::deque<QString> folders; // "=" takes the suggested folder; none left means cancel
};

// A canonical 8 kHz A-law file with its audio at byte 58.
inline std::string Wave(std::uint32_t audioBytes, char fill)
{
    const std::vector<unsigned char> h = voicelib::MakeCanonicalWaveHeader(audioBytes);
    return std::string(h.begin(), h.end()) + std::string(audioBytes, fill);
}

inline void Spit(const QString& path, const std::string& bytes)
{
    voicelib::test::Spit(path.toStdString(), bytes);
}

inline std::string Slurp(const QString& path)
{
    return voicelib::test::Slurp(path.toStdString());
}

class MainDlgTest : public ::testing::Test
{
public:
    MainDlgTest()
    {
        CMainApp::InitSharedResources();
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        dlg = std::make_unique<TestDlg>(std::move(owned));
        dlg->Create();
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }

    QString File(const QString& name) const { return dir.filePath(name); }
    // Creates n WAVE files w0.wav.. and returns their paths.
    QStringList Waves(int n, const QString& prefix = QStringLiteral("w"))
    {
        QStringList paths;
        for (int i = 0; i < n; ++i) {
            paths << File(QStringLiteral("%1%2.wav").arg(prefix).arg(i));
            Spit(paths.back(), Wave(160 * static_cast<std::uint32_t>(i + 1), char('a' + i)));
        }
        return paths;
    }
    // Fills the list through the append button.
    void Fill(const QStringList& paths)
    {
        dlg->answers.push_back(paths);
        Click(IDC_APPEND);
    }

    void Click(int buttonId) { QTest::mouseClick(dlg->button(buttonId), Qt::LeftButton); }
    void ClickCell(int row, int column)
    {
        QTableView* view = dlg->listView();
        const QRect r = view->visualRect(view->model()->index(row, column));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    }
    void ClickAt(QPoint viewportPos)
    {
        QTest::mouseClick(dlg->listView()->viewport(), Qt::LeftButton, {}, viewportPos);
    }

    QStringList Rows() const
    {
        QStringList rows;
        for (const std::string& p : dlg->voiceList().GetPaths())
            rows << VoiceListModel::ToDisplay(p);
        return rows;
    }
    int Selected() const { return dlg->voiceList().GetSelected(); }
    // The row the view shows selected, -1 for none.
    int ViewSelected() const
    {
        const QModelIndexList rows = dlg->listView()->selectionModel()->selectedRows();
        if (rows.size() > 1)
            return -2;
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    QTemporaryDir dir;
    ScriptedBackend* backend = nullptr;
    std::unique_ptr<TestDlg> dlg;
};

} // namespace apptest
