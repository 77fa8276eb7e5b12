// Takes the README's picture of the window: the example voices listed, one row
// selected, grabbed from the X server it runs on (tools/screenshot.sh starts
// a virtual one) with the corners outside the rounded outline left transparent.

#include "app/mainapp.h"
#include "app/maindlg.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: voicelib-screenshot EXAMPLES_DIR OUT.png\n", stderr);
        return 2;
    }
    const QDir examples(QString::fromLocal8Bit(argv[1]));
    const QString out = QString::fromLocal8Bit(argv[2]);

    CMainApp::InitSharedResources();
    CMainDlg dlg;
    dlg.Create();
    std::vector<std::string> paths;
    for (const QString& name : examples.entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name))
        paths.push_back(examples.absoluteFilePath(name).toStdString());
    dlg.voiceList().Append(paths);
    dlg.voiceList().SetSelected(2);
    dlg.show();

    int status = 1;
    QTimer::singleShot(1500, &dlg, [&] {
        QImage shot = dlg.screen()->grabWindow(dlg.winId()).toImage().convertToFormat(QImage::Format_ARGB32);
        if (!dlg.mask().isEmpty()) {
            QImage alpha(shot.size(), QImage::Format_ARGB32);
            alpha.fill(Qt::transparent);
            QPainter p(&alpha);
            p.setClipRegion(dlg.mask());
            p.drawImage(0, 0, shot);
            p.end();
            shot = alpha;
        }
        status = shot.save(out) ? 0 : 1;
        dlg.done(0);
    });
    dlg.exec();
    if (status != 0)
        std::fprintf(stderr, "voicelib-screenshot: could not write %s\n", argv[2]);
    return status;
}
