// What the window tells about its sources: the offer to convert files the
// device cannot play, the capacity line in the bottom band and the warnings
// line of the build summary.

#include "core/messages.h"
#include "core/source_info.h"
#include "maindlg_fixture.h"

#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>

using namespace apptest;

namespace {

bool Sh(const QString& cmd)
{
    return std::system(("(" + cmd + ") >/dev/null 2>&1 </dev/null").toLocal8Bit().constData()) == 0;
}

class SourcesTest : public MainDlgTest
{
public:
    // Half a second of tone made by sox; the empty string when sox could not.
    QString Sox(const QString& name, const QString& format)
    {
        const QString path = File(name);
        return Sh(QStringLiteral("sox -n %1 '%2' synth 0.5 sine 440").arg(format, path)) ? path : QString();
    }
    // Files of every kind the offer tells apart.
    QString Make(const QString& kind)
    {
        if (kind == "good")
            return Waves(1, "good").first();
        if (kind == "missing")
            return File("missing.wav");
        if (kind == "text") {
            Spit(File("notes.wav"), "not audio at all\n");
            return File("notes.wav");
        }
        if (kind == "rate")
            return Sox("rate.wav", "-r 16000 -c 1 -e a-law -b 8");
        if (kind == "pcm")
            return Sox("pcm.wav", "-r 44100 -c 2 -e signed -b 16");
        return {};
    }
    QStringList Make(const QStringList& kinds)
    {
        QStringList files;
        for (const QString& k : kinds)
            files << Make(k);
        return files;
    }
    // What a full look at the listed sources gives, as the line shows it.
    QString ExpectedCapacity() const
    {
        if (dlg->voiceList().GetItemCount() == 0)
            return {};
        return QString::fromStdString(
            voicelib::CapacityText(voicelib::ComputeCapacity(dlg->voiceList().ResolvedPaths())));
    }
    void SetUp() override
    {
        if (!Sh("command -v sox"))
            GTEST_SKIP() << "sox is needed to make the inputs (Debian package sox)";
    }
};

TEST_F(SourcesTest, ConversionIsOfferedOnlyForFilesTheDeviceCannotPlay)
{
    struct Row
    {
        const char* name;
        QStringList kinds;
        int offered; // 0: no question
    };
    const Row rows[] = {
        {"accepted 8 kHz mono", {"good"}, 0},
        {"missing", {"missing"}, 0},
        {"mixed", {"good", "rate", "pcm", "text", "missing"}, 3},
    };
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        dlg->asked.clear();
        const QStringList files = Make(r.kinds);
        Fill(files); // answered 否
        const QStringList asked =
            r.offered
                ? QStringList{QStringLiteral("%1个文件不是8kHz单声道A-law WAV文件,是否转换?").arg(r.offered)}
                : QStringList{};
        EXPECT_EQ(dlg->asked, asked) << r.name;
        EXPECT_EQ(Rows(), files) << r.name << ": kept as chosen";
        EXPECT_TRUE(dlg->folderStarts.isEmpty()) << r.name;
    }
}

TEST_F(SourcesTest, YesConvertsIntoTheChosenFolderAndTheListTakesTheConvertedFiles)
{
    struct Row
    {
        const char* name;
        QStringList kinds;
        std::function<void(SourcesTest&)> act;
        QStringList expected; // "*name" is the converted file of that name
    };
    const Row rows[] = {
        {"append",
         {"pcm", "good", "text"},
         [](SourcesTest& t) { t.Click(IDC_APPEND); },
         {"w0.wav", "w1.wav", "*pcm.wav", "good0.wav", "notes.wav"}},
        {"insert",
         {"rate"},
         [](SourcesTest& t) {
             t.dlg->voiceList().SetSelected(1);
             t.Click(IDC_INSERT);
         },
         {"w0.wav", "*rate.wav", "w1.wav"}},
        {"replace", {"pcm"}, [](SourcesTest& t) { t.ClickCell(0, 2); }, {"*pcm.wav", "w1.wav"}},
    };
    const QString alaw = File("alaw");
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        Fill(Waves(2));
        dlg->messages.clear();
        dlg->answers.push_back(Make(r.kinds));
        dlg->yesNo = {true};
        dlg->folders = {"="};
        r.act(*this);
        EXPECT_EQ(dlg->folderStarts.value(dlg->folderStarts.size() - 1), alaw) << r.name;

        QStringList expected;
        for (const QString& e : r.expected)
            expected << (e.startsWith('*') ? QDir(alaw).filePath(e.mid(1)) : File(e));
        EXPECT_EQ(Rows(), expected) << r.name;
        for (const QString& e : expected) {
            if (!e.startsWith(alaw))
                continue;
            const voicelib::SourceInfo info = voicelib::ReadSourceInfo(e.toStdString());
            EXPECT_TRUE(info.accepted()) << e.toStdString();
            EXPECT_EQ(info.sampleRate, 8000u) << e.toStdString();
            EXPECT_EQ(info.channels, 1u) << e.toStdString();
            EXPECT_NEAR(static_cast<double>(info.audio.length), 4000.0, 160.0) << "half a second";
        }
        // The file that did not convert is named with why, and kept.
        const bool failed = r.kinds.contains("text");
        EXPECT_EQ(dlg->messages.size(), failed ? 1 : 0) << r.name;
        if (failed) {
            EXPECT_TRUE(dlg->messages.value(0).startsWith("1个文件未能转换") &&
                        dlg->messages.value(0).contains(File("notes.wav") + ": "))
                << dlg->messages.value(0).toStdString();
        }
    }
}

TEST_F(SourcesTest, CancellingTheConversionLeavesTheListAndTheFolderAsTheyWere)
{
    // Ten minutes of 44.1 kHz stereo silence, a sparse file: long enough that
    // the conversion is still running when the cancel comes.
    const QString longFile = File("long.wav");
    {
        const std::uint32_t data = 600u * 44100 * 4;
        std::string h;
        auto le = [&h](std::uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                h += char((v >> (8 * i)) & 0xff);
        };
        h += "RIFF";
        le(36 + data, 4);
        h += "WAVEfmt ";
        le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
        h += "data";
        le(data, 4);
        Spit(longFile, h);
        QFile f(longFile);
        ASSERT_TRUE(f.resize(static_cast<qint64>(h.size()) + data));
    }
    struct Row
    {
        const char* name;
        bool chooseFolder;
        QString message;
    };
    const Row rows[] = {
        {"folder dialog", false, {}},
        {"progress dialog", true, QStringLiteral("转换已取消,语音列表未改动.")},
    };
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        Fill(Waves(1));
        dlg->messages.clear();
        dlg->answers.push_back({longFile, Make("pcm")});
        dlg->yesNo = {true};
        dlg->folders.clear();
        if (r.chooseFolder)
            dlg->folders = {"="};
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            if (auto* progress = dlg->findChild<QProgressDialog*>())
                if (auto* button = progress->findChild<QPushButton*>())
                    button->click();
        });
        cancel.start(1);
        Click(IDC_APPEND);
        EXPECT_EQ(Rows(), QStringList{File("w0.wav")}) << r.name;
        EXPECT_EQ(dlg->messages, r.message.isEmpty() ? QStringList{} : QStringList{r.message}) << r.name;
        EXPECT_FALSE(dlg->IsConverting());
        // Nothing half written: the folder holds at most whole converted files.
        for (const QFileInfo& f : QDir(File("alaw")).entryInfoList(QDir::Files | QDir::Hidden)) {
            EXPECT_NE(f.fileName(), "long.wav") << r.name;
            EXPECT_TRUE(voicelib::ReadSourceInfo(f.filePath().toStdString()).accepted())
                << f.fileName().toStdString();
        }
    }
}

TEST_F(SourcesTest, CapacityLineFollowsEveryEdit)
{
    const QStringList waves = Waves(3);
    struct Row
    {
        const char* name;
        std::function<void(SourcesTest&)> edit;
        const char* shows; // a part of the line, where it is worth pinning
    };
    const Row rows[] = {
        {"append", [&](SourcesTest& t) { t.Fill(waves.mid(0, 2)); }, "2个文件 0.1秒 492B"},
        {"insert",
         [&](SourcesTest& t) {
             t.dlg->voiceList().SetSelected(0);
             t.dlg->answers.push_back({waves[2]});
             t.Click(IDC_INSERT);
         },
         "3个文件"},
        {"replace",
         [&](SourcesTest& t) {
             t.dlg->answers.push_back({waves[2]});
             t.ClickCell(1, 2);
         },
         nullptr},
        {"move down", [](SourcesTest& t) { t.Click(IDC_MOVE_DOWN); }, nullptr},
        {"missing file", [&](SourcesTest& t) { t.Fill({t.File("gone.wav")}); }, "其中1个无效"},
        {"beyond the limit",
         [&](SourcesTest& t) {
             std::vector<std::string> paths(1030, waves[1].toStdString());
             t.dlg->voiceList().Assign(paths);
         },
         "1024个文件 41.0秒 331.8KB 另有6个超出上限"},
        {"delete beyond the limit",
         [](SourcesTest& t) {
             t.dlg->voiceList().SetSelected(1029);
             t.Click(IDC_DELETE);
         },
         "另有5个超出上限"},
        {"delete in the library's rows",
         [&](SourcesTest& t) {
             t.dlg->voiceList().Replace(1024, waves[2].toStdString());
             t.dlg->voiceList().SetSelected(0);
             t.Click(IDC_DELETE);
         },
         "另有4个超出上限"},
        {"emptied", [](SourcesTest& t) { t.dlg->voiceList().Assign({}); }, nullptr},
    };
    for (const Row& r : rows) {
        r.edit(*this);
        const QString expected = ExpectedCapacity();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->CapacityLine() == expected; }, 5000))
            << r.name << ": " << dlg->CapacityLine().toStdString() << " instead of "
            << expected.toStdString();
        if (r.shows) {
            EXPECT_TRUE(dlg->CapacityLine().contains(QString::fromUtf8(r.shows)))
                << r.name << ": " << dlg->CapacityLine().toStdString();
        }
    }

    // Painted in the band's free left part, light on its grey.
    const QRect band(10, 428, 290, 22);
    auto lightPixels = [&] {
        const QImage img = dlg->grab().toImage();
        int n = 0;
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x)
                n += img.pixelColor(x, y).lightness() > 200 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(lightPixels(), 0) << "an empty list shows no line";
    Fill(waves);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->CapacityLine().isEmpty(); }, 5000));
    EXPECT_GT(lightPixels(), 30);
}

TEST_F(SourcesTest, BuildSummaryCountsFilesWithFormatWarnings)
{
    // An accepted header that says 16000 Hz, and audio cut inside a block.
    std::string fast = Wave(320, 'f');
    fast[24] = char(16000 & 0xff);
    fast[25] = char(16000 >> 8);
    Spit(File("fast.wav"), fast);
    Spit(File("short.wav"), Wave(100, 's'));
    struct Row
    {
        const char* name;
        QStringList files;
        int warned;
    };
    const Row rows[] = {
        {"none", Waves(2), 0},
        {"two", {Waves(1).first(), File("fast.wav"), File("short.wav")}, 2},
    };
    for (const Row& r : rows) {
        dlg->voiceList().Assign({});
        Fill(r.files);
        dlg->messages.clear();
        dlg->answers.push_back({File("out.bin")});
        Click(IDC_BUILD);
        ASSERT_EQ(dlg->messages.size(), 1) << r.name;
        const QStringList lines = dlg->messages.first().split('\n');
        EXPECT_TRUE(lines.first().startsWith("语音库合成结束")) << r.name;
        if (r.warned)
            EXPECT_EQ(lines.last(), QString::fromStdString(voicelib::SourceWarningCountMessage(r.warned)));
        else
            EXPECT_EQ(lines.size(), 1) << r.name;
    }
}

} // namespace
