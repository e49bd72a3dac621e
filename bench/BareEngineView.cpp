// The bare engine the start-up benchmark measures Kestrel against: one web
// view, shown maximised as Kestrel's window is (its pixel buffers grow with
// the window), opening the address it is given, and nothing else.
//   bench_bare_engine_view URL

#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QWebEngineView view;
    view.showMaximized();
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    return app.exec();
}
