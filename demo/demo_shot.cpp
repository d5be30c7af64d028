// boxwright-demo-shot: saves a PNG of one X window (by id) or of the whole
// screen, for the demo's screenshots. Runs as a separate process, so the
// program itself has nothing to do with it.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: boxwright-demo-shot OUT.png [WINDOW_ID]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "boxwright-demo-shot: no screen\n");
        return 1;
    }
    WId window = 0;
    if (argc == 3) {
        bool ok = false;
        window = static_cast<WId>(QByteArray(argv[2]).toULongLong(&ok, 0));
        if (!ok) {
            std::fprintf(stderr, "boxwright-demo-shot: bad window id %s\n", argv[2]);
            return 2;
        }
    }
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "boxwright-demo-shot: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
