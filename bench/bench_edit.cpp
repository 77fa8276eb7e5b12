// Delete, move and undo of one row and of a block of 1,000 rows in a list of
// 100,000, through the window (core, model, view, undo stack, repaint),
// against a plain std::vector erase / insert of the same rows measured in the
// same run. Target: each edit under 10 ms.

#include "app/mainapp.h"
#include "app/maindlg.h"
#include "bench/timing.h"

#include <QApplication>
#include <QMessageBox>
#include <QTableView>
#include <QUndoStack>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace {

using voicelib::bench::Clock;
using voicelib::bench::Median;
using voicelib::bench::MsSince;

constexpr int kRows = 100000;
constexpr int kRuns = 15;
constexpr int kBlock = 1000;
constexpr int kAt = 50000;

class BenchDlg : public CMainDlg
{
public:
    using CMainDlg::CMainDlg;
    QStringList SelectFile(bool, bool, const QString&, const QString&) override { return {}; }
    int ShowMessageBox(MessageKind, const QString&) override { return QMessageBox::No; }
};

struct Timing
{
    double edit = 0, undo = 0;
};

// select, then time the edit and its undo (each with the repaint that follows).
Timing Measure(BenchDlg& dlg, const std::function<void()>& select, const std::function<void()>& edit)
{
    std::vector<double> edits, undos;
    for (int i = 0; i < kRuns + 1; ++i) {
        select();
        QCoreApplication::processEvents();
        const int steps = dlg.undoStack()->index();
        auto t0 = Clock::now();
        edit();
        QCoreApplication::processEvents();
        const double e = MsSince(t0);
        if (dlg.undoStack()->index() != steps + 1) {
            std::fprintf(stderr, "bench_edit: an edit did nothing\n");
            std::exit(1);
        }
        t0 = Clock::now();
        dlg.OnUndo();
        QCoreApplication::processEvents();
        const double u = MsSince(t0);
        if (i > 0) { // the first run warms up
            edits.push_back(e);
            undos.push_back(u);
        }
    }
    return {Median(edits), Median(undos)};
}

Timing Baseline(std::vector<std::string>& rows, int first, int count)
{
    std::vector<double> erases, inserts;
    for (int i = 0; i < kRuns + 1; ++i) {
        auto t0 = Clock::now();
        std::vector<std::string> taken(std::make_move_iterator(rows.begin() + first),
                                       std::make_move_iterator(rows.begin() + first + count));
        rows.erase(rows.begin() + first, rows.begin() + first + count);
        const double e = MsSince(t0);
        t0 = Clock::now();
        rows.insert(rows.begin() + first, std::make_move_iterator(taken.begin()),
                    std::make_move_iterator(taken.end()));
        const double u = MsSince(t0);
        if (i > 0) {
            erases.push_back(e);
            inserts.push_back(u);
        }
    }
    return {Median(erases), Median(inserts)};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CMainApp::InitSharedResources();

    std::vector<std::string> paths(kRows);
    for (int i = 0; i < kRows; ++i)
        paths[static_cast<std::size_t>(i)] = "/home/user/prompts/set-a/prompt_" + std::to_string(i) + ".wav";

    BenchDlg dlg;
    dlg.Create();
    dlg.show();
    dlg.voiceList().Assign(paths);
    QCoreApplication::processEvents();
    dlg.listView()->scrollTo(dlg.listView()->model()->index(kAt, 0));

    std::vector<int> block(kBlock);
    std::iota(block.begin(), block.end(), kAt);
    const auto one = [&] { dlg.SelectRows({kAt}); };
    const auto many = [&] { dlg.SelectRows(block); };
    const auto dragTo = [&](std::vector<int> rows, int target) {
        return [&dlg, rows, target] {
            dlg.EditList(QStringLiteral("move"), [&] { dlg.voiceList().MoveRowsTo(rows, target); });
        };
    };

    struct Row
    {
        const char* name;
        Timing t;
        Timing base;
    };
    std::vector<std::string> plain = paths;
    const Timing base1 = Baseline(plain, kAt, 1);
    const Timing baseBlock = Baseline(plain, kAt, kBlock);
    const Row rows[] = {
        {"delete 1 row", Measure(dlg, one, [&] { dlg.OnDelete(); }), base1},
        {"move 1 row up", Measure(dlg, one, [&] { dlg.OnMoveUp(); }), base1},
        {"move 1 row to row 10", Measure(dlg, one, dragTo({kAt}, 10)), base1},
        {"delete 1,000 rows", Measure(dlg, many, [&] { dlg.OnDelete(); }), baseBlock},
        {"move 1,000 rows up", Measure(dlg, many, [&] { dlg.OnMoveUp(); }), baseBlock},
        {"move 1,000 rows to row 10", Measure(dlg, many, dragTo(block, 10)), baseBlock},
    };

    std::printf(
        "%d rows, median of %d runs; baseline: std::vector<std::string> erase / insert of the same rows\n",
        kRows, kRuns);
    std::printf("%-28s %10s %10s %10s %10s %9s %9s\n", "", "edit ms", "undo ms", "erase ms", "insert ms",
                "edit/x", "undo/x");
    for (const Row& r : rows)
        std::printf("%-28s %10.3f %10.3f %10.3f %10.3f %9.1f %9.1f\n", r.name, r.t.edit, r.t.undo,
                    r.base.edit, r.base.undo, r.t.edit / std::max(r.base.edit, 1e-6),
                    r.t.undo / std::max(r.base.undo, 1e-6));
    return 0;
}
