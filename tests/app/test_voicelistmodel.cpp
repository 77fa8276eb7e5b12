// The table model over the voice list: what each cell shows, and that views
// are told about every change correctly.

#include "app/voicelistmodel.h"
#include "stable_first_column.h"

#include <QAbstractItemModelTester>
#include <QPixmap>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <random>

using apptest::StableFirstColumn;

namespace {

QIcon Solid(QColor c)
{
    QPixmap p(20, 20);
    p.fill(c);
    return QIcon(p);
}

class ModelTest : public ::testing::Test
{
protected:
    ModelTest() { proxy.setSourceModel(&model); }

    voicelib::VoiceList list;
    QList<QIcon> icons{Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue), Solid(Qt::yellow)};
    VoiceListModel model{list, icons};
    StableFirstColumn proxy;
    QAbstractItemModelTester tester{&proxy, QAbstractItemModelTester::FailureReportingMode::Fatal};

    QString Text(int row, int col) const { return model.index(row, col).data().toString(); }
    QColor IconColour(int row, int col) const
    {
        QIcon icon = model.index(row, col).data(Qt::DecorationRole).value<QIcon>();
        if (icon.isNull())
            return {};
        return icon.pixmap(20, 20).toImage().pixelColor(10, 10);
    }
};

TEST_F(ModelTest, CellsShowNumberPathAndActionIcons)
{
    list.Append({"/a.wav", "/b.wav"});
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 5);
    EXPECT_EQ(Text(1, 0), "1");
    EXPECT_EQ(Text(1, 1), "/b.wav");
    EXPECT_EQ(model.index(1, 0).data(Qt::UserRole).toInt(), 1);
    EXPECT_EQ(IconColour(0, 0), QColor(Qt::yellow)); // image 3 beside the number
    EXPECT_FALSE(IconColour(0, 1).isValid());
    EXPECT_EQ(IconColour(0, 2), QColor(Qt::red));
    EXPECT_EQ(IconColour(0, 3), QColor(Qt::green));
    EXPECT_EQ(IconColour(0, 4), QColor(Qt::blue));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("WAV文件名称"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "");
}

TEST_F(ModelTest, PathsConvertLikeFileNames)
{
    list.Append({"/tmp/声音.wav"});
    EXPECT_EQ(Text(0, 1), QString::fromUtf8("/tmp/声音.wav"));
    EXPECT_EQ(VoiceListModel::FromDisplay(Text(0, 1)), "/tmp/声音.wav");
    // A name that is not UTF-8 cannot be shown exactly, but the list keeps its bytes.
    const std::string raw = "/tmp/\xc9\xf9.wav";
    list.Replace(0, raw);
    EXPECT_TRUE(Text(0, 1).startsWith("/tmp/"));
    EXPECT_EQ(list.GetPath(0), raw);
}

TEST_F(ModelTest, NumbersFollowEveryEdit)
{
    list.Append({"a", "b", "c", "d", "e"});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    list.SetSelected(2);
    list.DeleteSelected();
    ASSERT_FALSE(changed.isEmpty());
    for (int r = 0; r < model.rowCount(); ++r)
        EXPECT_EQ(Text(r, 0), QString::number(r));
    EXPECT_EQ(Text(2, 1), "d");
}

TEST_F(ModelTest, SelectionIsAnnounced)
{
    list.Append({"a", "b", "c"});
    QSignalSpy spy(&model, &VoiceListModel::selectedRowChanged);
    list.SetSelected(1);
    list.MoveDown();
    ASSERT_GE(spy.size(), 2);
    EXPECT_EQ(spy.last().at(0).toInt(), 2);
    EXPECT_EQ(Text(2, 1), "b");
}

TEST_F(ModelTest, PersistentIndexesFollowMovedRows)
{
    list.Append({"a", "b", "c", "d"});
    QPersistentModelIndex b = model.index(1, 1);
    QPersistentModelIndex d = model.index(3, 1);
    list.SetSelected(1);
    list.MoveDown(); // b goes to 2
    EXPECT_EQ(b.row(), 2);
    list.SetSelected(3);
    list.MoveUp(); // d goes to 2, b back to 3
    EXPECT_EQ(d.row(), 2);
    EXPECT_EQ(b.row(), 3);
    EXPECT_EQ(b.data().toString(), "b");
    list.SetSelected(0);
    list.Insert("new");
    EXPECT_EQ(b.row(), 4);
    list.Assign({"x"});
    EXPECT_FALSE(b.isValid());
}

// Random edits under the model tester, which fails on any inconsistent signal.
TEST_F(ModelTest, RandomEditsKeepTheModelConsistent)
{
    std::mt19937 rng(7);
    for (int step = 0; step < 2000; ++step) {
        int n = list.GetItemCount();
        switch (rng() % 8) {
        case 0:
            list.Append({"p" + std::to_string(step), "q"});
            break;
        case 1:
            list.Insert("i" + std::to_string(step));
            break;
        case 2:
            list.DeleteSelected();
            break;
        case 3:
            list.MoveUp();
            break;
        case 4:
            list.MoveDown();
            break;
        case 5:
            list.Replace(n ? int(rng() % n) : 0, "r");
            break;
        case 6:
            list.SetSelected(n ? int(rng() % (n + 1)) - 1 : -1);
            break;
        case 7:
            if (rng() % 10 == 0)
                list.Assign({"x", "y"});
            break;
        }
        ASSERT_EQ(model.rowCount(), list.GetItemCount());
    }
    for (int r = 0; r < model.rowCount(); ++r) {
        ASSERT_EQ(Text(r, 0), QString::number(r));
        ASSERT_EQ(Text(r, 1).toStdString(), list.GetPath(r));
    }
}

} // namespace
