// The second floor of the window start-up bench: the least a window that
// shows one line of Chinese text does before it is mapped. Its layout
// measures the line, so it loads the font configuration, Qt's font database
// and one font first, as any window with words must.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("语音库打包工具")));
    window.resize(640, 480);
    window.show();
    return app.exec();
}
