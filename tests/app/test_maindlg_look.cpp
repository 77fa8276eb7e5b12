// The window's layout and look, read back from its controls and its pixels.

#include "maindlg_fixture.h"
#include "skin/skinheader.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QToolTip>

using namespace apptest;

namespace {

COLORREF At(const QImage& img, QPoint p)
{
    return FromQColor(img.pixelColor(p));
}

int Count(const QImage& img, const QRect& area, COLORREF color)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += At(img, {x, y}) == color ? 1 : 0;
    return n;
}

class LookTest : public MainDlgTest
{
public:
    QImage Grab() const { return dlg->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST_F(LookTest, ControlsSitWhereTheTemplatePutsThem)
{
    struct Row
    {
        const char* name;
        QWidget* control;
        QRect pixels;
        const char* text;
    };
    const Row rows[] = {
        {"exit", dlg->button(IDC_EXIT), {506, 425, 74, 25}, "退出"},
        {"load", dlg->button(IDC_LOAD_LIST), {310, 425, 98, 25}, "加载语音列表"},
        {"export", dlg->button(IDC_EXPORT_LIST), {408, 425, 98, 25}, "导出语音列表"},
        {"build", dlg->button(IDC_BUILD), {354, 44, 98, 25}, "合成为语音库"},
        {"append", dlg->button(IDC_APPEND), {11, 44, 67, 25}, "追加"},
        {"insert", dlg->button(IDC_INSERT), {79, 44, 67, 25}, "插入"},
        {"delete", dlg->button(IDC_DELETE), {147, 44, 67, 25}, "删除"},
        {"up", dlg->button(IDC_MOVE_UP), {215, 44, 67, 25}, "上移"},
        {"down", dlg->button(IDC_MOVE_DOWN), {282, 44, 67, 25}, "下移"},
        {"list", dlg->listView(), {11, 75, 569, 333}, nullptr},
    };
    EXPECT_EQ(dlg->size(), QSize(590, 453));
    for (const Row& r : rows) {
        ASSERT_NE(r.control, nullptr) << r.name;
        EXPECT_EQ(r.control->geometry(), r.pixels) << r.name;
        if (r.text) {
            auto* b = static_cast<QPushButton*>(r.control);
            EXPECT_EQ(b->text(), QString::fromUtf8(r.text)) << r.name;
            EXPECT_EQ(b->font().pointSize(), 9) << r.name;
        }
    }
    EXPECT_EQ(dlg->windowTitle(), "语音库合成工具:");
    EXPECT_TRUE(dlg->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_FALSE(dlg->mask().contains(QPoint(0, 0))) << "rounded corners";
    EXPECT_TRUE(dlg->mask().contains(QPoint(295, 0)));
    EXPECT_TRUE(dlg->mask().contains(QPoint(589, 226)));
}

TEST_F(LookTest, ListIsAGridOfWholeRowsWithFixedColumns)
{
    QTableView* v = dlg->listView();
    EXPECT_TRUE(v->showGrid());
    EXPECT_EQ(v->selectionBehavior(), QAbstractItemView::SelectRows);
    // Shift and Ctrl add rows; a plain click still selects one.
    EXPECT_EQ(v->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(v->verticalHeader()->isVisible());
    ASSERT_NE(qobject_cast<CSkinHeaderCtrl*>(v->horizontalHeader()), nullptr);
    const int widths[] = {48, 430, 22, 22, 22};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(v->columnWidth(i), widths[i]) << "column " << i;
    EXPECT_EQ(v->palette().color(QPalette::Text), QColor(69, 69, 69));
    EXPECT_EQ(dlg->header()->m_strAlign, "11111");
    EXPECT_EQ(dlg->header()->m_astrHeadings, (QStringList{"", "WAV文件名称", "", "", ""}));
}

TEST_F(LookTest, FrameBandsListFrameAndHeaderPaintAsSetUp)
{
    Fill(Waves(2));
    const QImage img = Grab();
    EXPECT_EQ(At(img, {5, 200}), RGB(244, 249, 250));
    EXPECT_EQ(At(img, {300, 416}), RGB(244, 249, 250));
    // Top band: greys falling by 2 a row to the middle, then rising again.
    for (int row : {0, 8, 16})
        EXPECT_EQ(At(img, {500, row}), RGB(192 - 2 * row, 192 - 2 * row, 192 - 2 * row)) << row;
    EXPECT_EQ(At(img, {500, 17}), RGB(158, 158, 158));
    EXPECT_EQ(At(img, {500, 31}), RGB(186, 186, 186));
    EXPECT_EQ(At(img, {5, 440}), RGB(128, 128, 128)) << "bottom band";

    // The frame one pixel outside the list, on all four sides.
    const COLORREF blue = RGB(65, 105, 225);
    for (QPoint p : {QPoint(10, 200), QPoint(580, 200), QPoint(300, 74), QPoint(300, 408), QPoint(10, 74),
                     QPoint(580, 408)})
        EXPECT_EQ(At(img, p), blue) << p.x() << "," << p.y();
    EXPECT_EQ(At(img, {9, 200}), RGB(244, 249, 250));

    // Header: flat 245 with 211 separators after each column.
    CSkinHeaderCtrl* h = dlg->header();
    const QPoint origin = h->mapTo(dlg.get(), QPoint(0, 0));
    const int mid = origin.y() + h->height() / 2;
    EXPECT_EQ(At(img, {origin.x() + 60, mid}), RGB(245, 245, 245));
    for (int x : {48, 478, 500, 522})
        EXPECT_EQ(At(img, {origin.x() + x, mid}), RGB(211, 211, 211)) << "separator at " << x;
    EXPECT_GT(Count(img, QRect(origin.x() + 49, origin.y(), 430, h->height()), RGB(0, 0, 128)), 10)
        << "the heading of column 1 in navy";

    // Row cells carry their icons: something other than the white cell in each icon column.
    QTableView* v = dlg->listView();
    for (int col : {0, 2, 3, 4}) {
        QRect cell = v->visualRect(v->model()->index(0, col));
        cell.translate(v->viewport()->mapTo(dlg.get(), QPoint(0, 0)));
        EXPECT_GT(cell.width() * cell.height() - Count(img, cell.adjusted(1, 1, -1, -1), RGB(255, 255, 255)),
                  40)
            << "column " << col;
    }
}

// An image that keeps the text drawn on it and where it went, in pixels.
class TextRecorder final : public QImage
{
public:
    struct Run
    {
        QString text;
        QRectF rect;
    };

    explicit TextRecorder(QSize size) : QImage(size, QImage::Format_RGB32), m_engine(this) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    // The run whose middle lies in the rectangle, or none.
    const Run* At(const QRect& cell) const
    {
        for (const Run& r : runs)
            if (cell.contains(r.rect.center().toPoint()))
                return &r;
        return nullptr;
    }

    std::vector<Run> runs;

private:
    class Engine final : public QPaintEngine
    {
    public:
        explicit Engine(TextRecorder* device) : m_device(device) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState& state) override
        {
            if (state.state() & DirtyTransform)
                m_transform = state.transform();
        }
        void drawTextItem(const QPointF& p, const QTextItem& item) override
        {
            const QRectF box(p.x(), p.y() - item.ascent(), item.width(), item.ascent() + item.descent());
            m_device->runs.push_back({item.text(), m_transform.mapRect(box)});
        }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        Type type() const override { return User; }

    private:
        TextRecorder* m_device;
        QTransform m_transform;
    };

    mutable Engine m_engine;
};

TEST_F(LookTest, RowNumbersShowWholeAndLongPathsKeepTheirFileName)
{
    const QString folder = QStringLiteral("/prompts/%1/%2/").arg(QString(60, 'a'), QString(60, 'b'));
    std::vector<std::string> paths;
    for (int i = 0; i <= 100000; ++i)
        paths.push_back(VoiceListModel::FromDisplay(folder + QStringLiteral("prompt%1.wav").arg(i)));
    dlg->voiceList().Assign(paths);
    QApplication::processEvents(); // the view lays out its new rows
    QTableView* view = dlg->listView();
    for (int row : {99, 100, 1000, 100000}) {
        view->scrollTo(view->model()->index(row, 0), QAbstractItemView::PositionAtTop);
        TextRecorder rec(view->viewport()->size());
        view->viewport()->render(&rec);

        const QRect number = view->visualRect(view->model()->index(row, VoiceListModel::COL_NUMBER));
        const TextRecorder::Run* n = rec.At(number);
        ASSERT_NE(n, nullptr) << "row " << row;
        EXPECT_EQ(n->text, QString::number(row));
        EXPECT_GE(n->rect.left(), number.left() + 20) << "right of the 20-px icon, row " << row;
        EXPECT_LE(n->rect.right(), number.right() + 1.0) << "inside its cell, row " << row;

        const QRect path = view->visualRect(view->model()->index(row, VoiceListModel::COL_PATH));
        const TextRecorder::Run* p = rec.At(path);
        ASSERT_NE(p, nullptr) << "row " << row;
        const QString name = QStringLiteral("prompt%1.wav").arg(row);
        EXPECT_TRUE(p->text.startsWith("/prompts/") && p->text.contains(QChar(0x2026)) &&
                    p->text.endsWith(name))
            << p->text.toStdString();
        EXPECT_LE(p->rect.right(), path.right() + 1.0);

        QToolTip::hideText();
        QHelpEvent tip(QEvent::ToolTip, path.center(), view->viewport()->mapToGlobal(path.center()));
        QApplication::sendEvent(view->viewport(), &tip);
        EXPECT_EQ(QToolTip::text(), folder + name) << "the whole path, row " << row;
    }
    QToolTip::hideText();
}

// Anti-aliased caption pixels: mostly navy or mostly orange over the light background.
int CountLike(const QImage& img, const QRect& area, COLORREF ink)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const COLORREF c = At(img, {x, y});
            n += std::abs(GetRValue(c) - GetRValue(ink)) < 40 &&
                         std::abs(GetGValue(c) - GetGValue(ink)) < 40 &&
                         std::abs(GetBValue(c) - GetBValue(ink)) < 40
                     ? 1
                     : 0;
        }
    return n;
}

TEST_F(LookTest, ButtonCaptionsAreNavyAndTurnOrangeOnHover)
{
    CSkinButton* b = dlg->button(IDC_BUILD);
    // The caption, right of the icon.
    const QRect area = b->geometry().adjusted(30, 0, 0, 0);
    QImage img = Grab();
    EXPECT_GT(CountLike(img, area, RGB(0, 0, 128)), 20);
    EXPECT_EQ(CountLike(img, area, RGB(255, 165, 0)), 0);

    const QPoint inside(area.width() / 2, area.height() / 2);
    QMouseEvent move(QEvent::MouseMove, inside, b->mapToGlobal(inside), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(b, &move);
    QApplication::processEvents();
    img = Grab();
    EXPECT_GT(CountLike(img, area, RGB(255, 165, 0)), 20);
    EXPECT_EQ(CountLike(img, area, RGB(0, 0, 128)), 0);
}

} // namespace
