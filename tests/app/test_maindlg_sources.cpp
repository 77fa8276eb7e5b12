// The window's offer to convert sources the device cannot play, its capacity
// line and the warnings count of its build summary.

#include "core/messages.h"
#include "core/source_info.h"
#include "maindlg_fixture.h"

#include <QDir>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <functional>

using namespace apptest;

namespace {

class SourcesTest : public MainDlgTest
{
public:
    void SetUp() override
    {
        if (std::system("command -v sox >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "sox is needed to make the inputs (Debian package sox)";
    }
    // KIND.wav of each kind: good (8 kHz mono A-law), rate (A-law at 16 kHz),
    // pcm (44.1 kHz stereo PCM), text, missing.
    QStringList Make(const QStringList& kinds)
    {
        QStringList files;
        for (const QString& k : kinds) {
            files << File(k + ".wav");
            if (k == "good" || k == "text") {
                Spit(files.back(), k == "good" ? Wave(320, 'g') : "not audio\n");
            } else if (k != "missing") {
                const QString format =
                    k == "rate" ? "-r 16000 -c 1 -e a-law" : "-r 44100 -c 2 -e signed -b 16";
                const QString cmd = QString("sox -n %1 '%2' synth 0.5 sine 440").arg(format, files.back());
                EXPECT_EQ(std::system(cmd.toLocal8Bit().constData()), 0) << cmd.toStdString();
            }
        }
        return files;
    }
    QString Alaw(const QString& name) const { return QDir(File("alaw")).filePath(name); }
};

TEST_F(SourcesTest, OfferConvertsOnYesAndKeepsTheFilesOnNo)
{
    using Act = std::function<void(SourcesTest&)>;
    const Act append = [](SourcesTest& t) { t.Click(IDC_APPEND); };
    struct Row
    {
        const char* name;
        QStringList kinds;
        Act act;
        bool yes;
        int offered;
        QStringList expected; // "*NAME": converted into alaw/
    };
    const Row rows[] = {
        {"nothing to offer", {"good", "missing"}, append, true, 0, {"w0", "good", "missing"}},
        {"no",
         {"good", "rate", "pcm", "text", "missing"},
         append,
         false,
         3,
         {"w0", "good", "rate", "pcm", "text", "missing"}},
        {"yes, append", {"pcm", "good", "text"}, append, true, 2, {"w0", "*pcm", "good", "text"}},
        {"yes, insert",
         {"rate"},
         [](SourcesTest& t) { t.dlg->voiceList().SetSelected(0), t.Click(IDC_INSERT); },
         true,
         1,
         {"*rate", "w0"}},
        {"yes, replace", {"pcm"}, [](SourcesTest& t) { t.ClickCell(0, 2); }, true, 1, {"*pcm"}},
        {"yes, drop",
         {"rate"},
         [](SourcesTest& t) {
             QMimeData data;
             data.setUrls({QUrl::fromLocalFile(t.dlg->answers.front().first())});
             t.dlg->answers.clear();
             t.dlg->listView()->model()->dropMimeData(&data, Qt::CopyAction, 0, 0, {});
             QCoreApplication::processEvents(); // the drop's files are added after it returns
         },
         true,
         1,
         {"*rate", "w0"}},
    };
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        Fill(Waves(1));
        dlg->asked.clear();
        dlg->messages.clear();
        dlg->answers.push_back(Make(r.kinds));
        dlg->yesNo = {r.yes};
        dlg->folders = {"="};
        r.act(*this);
        EXPECT_EQ(dlg->asked,
                  r.offered
                      ? QStringList{QString("%1个文件不是8kHz单声道A-law WAV文件,是否转换?").arg(r.offered)}
                      : QStringList{})
            << r.name;
        QStringList expected;
        for (const QString& e : r.expected)
            expected << (e.startsWith('*') ? Alaw(e.mid(1) + ".wav") : File(e + ".wav"));
        EXPECT_EQ(Rows(), expected) << r.name;
        for (const QString& e : expected.filter(Alaw(""))) {
            const voicelib::SourceInfo info = voicelib::ReadSourceInfo(e.toStdString());
            EXPECT_TRUE(info.IsAccepted() && info.sampleRate == 8000 && info.channels == 1 &&
                        info.audio.length >= 4000 - 160 && info.audio.length <= 4000 + 160)
                << r.name << ": half a second at 8 kHz mono";
        }
        // The file that could not be converted is named with why, and kept.
        const QString notes = r.yes && r.kinds.contains("text") ? "1个文件未能转换" : "";
        EXPECT_EQ(dlg->messages.value(0).section(',', 0, 0), notes) << r.name;
        EXPECT_EQ(dlg->messages.value(0).contains(File("text.wav") + ": "), !notes.isEmpty()) << r.name;
    }
    EXPECT_EQ(dlg->folderStarts.value(0), File("alaw")) << "suggested beside the first file";
}

TEST_F(SourcesTest, ConvertedFileNeverLandsOnAFileTheListPlays)
{
    const QString pcm = Make({"pcm"}).first();
    QDir().mkpath(File("sub"));
    QFile::copy(pcm, File("sub/pcm.wav"));
    const auto replace = [](SourcesTest& t) { t.ClickCell(0, 2); };
    struct Row
    {
        const char* name;
        QStringList listed; // after w0; "*NAME": an A-law file in alaw/
        QStringList chosen;
        std::function<void(SourcesTest&)> act;
        QStringList expected;
    };
    const Row rows[] = {
        {"replace while another row has the name", {"*pcm"}, {pcm}, replace, {"*pcm-2", "*pcm"}},
        {"the next name is a row too", {"*pcm", "*pcm-2"}, {pcm}, replace, {"*pcm-3", "*pcm", "*pcm-2"}},
        {"two chosen files of one name",
         {},
         {pcm, File("sub/pcm.wav")},
         [](SourcesTest& t) { t.Click(IDC_APPEND); },
         {"w0", "*pcm", "*pcm-2"}},
    };
    const auto path = [&](const QString& e) {
        return e.startsWith('*') ? Alaw(e.mid(1) + ".wav") : File(e + ".wav");
    };
    for (const Row& r : rows) {
        QDir(File("alaw")).removeRecursively();
        QDir().mkpath(File("alaw"));
        dlg->voiceList().Assign({});
        Fill(Waves(1));
        for (const QString& e : r.listed) {
            Spit(path(e), Wave(160, 'x'));
            dlg->voiceList().Append({path(e).toStdString()});
        }
        dlg->messages.clear();
        dlg->answers.push_back(r.chosen);
        dlg->yesNo = {true};
        dlg->folders = {"="};
        r.act(*this);
        QStringList expected;
        for (const QString& e : r.expected)
            expected << path(e);
        EXPECT_EQ(Rows(), expected) << r.name;
        for (const QString& e : r.listed)
            EXPECT_EQ(Slurp(path(e)), Wave(160, 'x')) << r.name << ": a listed file is never replaced";
        const QString renamedTo = path(r.expected.filter("-").first());
        EXPECT_TRUE(dlg->messages.value(0).startsWith("1个文件转换后另取了名字")) << r.name;
        EXPECT_TRUE(dlg->messages.value(0).contains(" -> " + renamedTo))
            << dlg->messages.value(0).toStdString();
    }
}

TEST_F(SourcesTest, CancelLeavesTheListAsItWasAndNoFileHalfWritten)
{
    // Half an hour at 44.1 kHz, sparse: still converting when the cancel comes.
    const std::uint32_t audio = 1800u * 44100;
    std::string longWave = Wave(0, 0);
    longWave[24] = char(44100 & 0xff), longWave[25] = char(44100 >> 8);
    longWave.replace(54, 4, std::string{char(audio), char(audio >> 8), char(audio >> 16), char(audio >> 24)});
    Spit(File("long.wav"), longWave);
    ASSERT_TRUE(QFile(File("long.wav")).resize(qint64(longWave.size()) + audio));

    for (const bool chooseFolder : {false, true}) {
        dlg->voiceList().Assign({});
        Fill(Waves(1));
        dlg->messages.clear();
        dlg->answers.push_back({File("long.wav"), Make({"pcm"}).first()});
        dlg->yesNo = {true};
        dlg->folders = chooseFolder ? std::deque<QString>{"="} : std::deque<QString>{};
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            if (auto* progress = dlg->findChild<QProgressDialog*>())
                progress->findChild<QPushButton*>()->click();
        });
        cancel.start(1);
        Click(IDC_APPEND);
        EXPECT_EQ(Rows(), QStringList{File("w0.wav")}) << chooseFolder;
        EXPECT_EQ(dlg->messages, chooseFolder ? QStringList{"转换已取消,语音列表未改动."} : QStringList{});
        EXPECT_FALSE(QFile::exists(Alaw("long.wav")));
        for (const QFileInfo& f : QDir(File("alaw")).entryInfoList(QDir::Files | QDir::Hidden))
            EXPECT_TRUE(voicelib::ReadSourceInfo(f.filePath().toStdString()).IsAccepted())
                << f.fileName().toStdString();
    }
}

TEST_F(SourcesTest, CapacityLineFollowsEveryEdit)
{
    const QStringList waves = Waves(5);
    struct Row
    {
        const char* name;
        std::function<void(CMainDlg&)> edit;
        QString shows;
    };
    const Row rows[] = {
        {"append",
         [&](CMainDlg& d) {
             d.voiceList().Append({waves[0].toStdString(), waves[1].toStdString()});
         },
         "2个文件 0.1秒 492B"},
        {"insert at the top",
         [&](CMainDlg& d) { d.voiceList().SetSelected(0), d.voiceList().Insert("gone.wav"); },
         "3个文件 0.1秒 496B 其中1个无效"},
        {"beyond the limit",
         [&](CMainDlg& d) { d.voiceList().Assign(std::vector<std::string>(1030, waves[1].toStdString())); },
         "1024个文件 41.0秒 331.8KB 另有6个超出上限"},
        {"delete beyond it",
         [](CMainDlg& d) { d.voiceList().SetSelected(1029), d.voiceList().DeleteSelected(); },
         "另有5个超出上限"},
        {"a row moves into the library",
         [&](CMainDlg& d) {
             d.voiceList().Replace(1024, waves[2].toStdString());
             d.voiceList().SetSelected(0), d.voiceList().DeleteSelected();
         },
         "另有4个超出上限"},
        {"five appended", [&](CMainDlg& d) { d.voiceList().Assign({}), Fill(waves); }, "5个文件"},
        {"the last deleted with the button", [&](CMainDlg& d) { d.SelectRows({4}), Click(IDC_DELETE); },
         "4个文件"},
        {"the last deleted with its icon", [](CMainDlg& d) { d.OnClickList(3, VoiceListModel::COL_DELETE); },
         "3个文件"},
        {"undone", [](CMainDlg& d) { d.OnUndo(); }, "4个文件"},
        {"redone", [](CMainDlg& d) { d.OnRedo(); }, "3个文件"},
        {"emptied", [](CMainDlg& d) { d.voiceList().Assign({}); }, ""},
    };
    for (const Row& r : rows) {
        r.edit(*dlg);
        // Kept equal to a full look at the rows, whatever the edit.
        const voicelib::Capacity full = voicelib::ComputeCapacity(dlg->voiceList().GetResolvedPaths());
        const QString expected =
            full.rows + full.overLimit ? QString::fromStdString(voicelib::CapacityText(full)) : QString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->capacityLine() == expected; }, 5000))
            << r.name << ": " << dlg->capacityLine().toStdString() << " instead of "
            << expected.toStdString();
        EXPECT_TRUE(expected.contains(r.shows)) << r.name << ": " << expected.toStdString();
    }
    // The rows it counts out show a disabled number that says why.
    dlg->voiceList().Assign(std::vector<std::string>(1025, waves[0].toStdString()));
    dlg->voiceList().Replace(1, File("gone.wav").toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->capacityLine().contains("其中1个无效"); }, 5000));
    const QAbstractItemModel* model = dlg->listView()->model();
    const std::pair<int, QString> marks[] = {
        {0, ""}, {1, "文件不存在"}, {1024, "超出1024个的上限,不写入语音库"}};
    for (const auto& [row, why] : marks) {
        EXPECT_EQ(model->index(row, 0).data(Qt::ToolTipRole).toString(), why) << row;
        EXPECT_EQ(model->index(row, 0).data(Qt::ForegroundRole).isValid(), !why.isEmpty()) << row;
    }
    dlg->voiceList().Assign({});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->capacityLine().isEmpty(); }, 5000));
    // Painted light on the grey of the bottom band, left of its buttons.
    auto lightPixels = [&] {
        const QImage img = dlg->grab().toImage();
        int n = 0;
        for (int y = 428; y < 450; ++y)
            for (int x = 10; x < 300; ++x)
                n += img.pixelColor(x, y).lightness() > 200 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(lightPixels(), 0) << "nothing for an empty list";
    Fill(waves);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->capacityLine().isEmpty(); }, 5000));
    EXPECT_GT(lightPixels(), 30);
}

TEST_F(SourcesTest, BuildSummaryCountsFilesWithFormatWarnings)
{
    std::string fast = Wave(320, 'f'); // says 16000 Hz
    fast[24] = char(16000 & 0xff), fast[25] = char(16000 >> 8);
    Spit(File("fast.wav"), fast);
    Spit(File("short.wav"), Wave(100, 's')); // cut inside a block
    for (const int warned : {0, 2}) {
        dlg->voiceList().Assign({});
        Fill(warned ? QStringList{Waves(1).first(), File("fast.wav"), File("short.wav")} : Waves(2));
        dlg->messages.clear();
        dlg->answers.push_back({File("out.bin")});
        Click(IDC_BUILD);
        const QStringList lines = dlg->messages.value(0).split('\n');
        EXPECT_TRUE(lines.first().startsWith("语音库合成结束"));
        // The rate changes how it sounds; the cut only drops the last few milliseconds.
        const QStringList notes = {"注意:有1个文件在设备上不能原样播放(不是8kHz单声道8位).",
                                   "有1个文件末尾不足20毫秒的音频将被截去."};
        EXPECT_EQ(lines.mid(1), warned ? notes : QStringList());
    }
}

} // namespace
