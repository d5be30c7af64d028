// boxwright-demo-shot: saves a PNG of one X window (by id), of a part of the
// screen (X,Y,W,H) or of the whole screen, for the demo's screenshots. Runs as a separate process,
// so the program itself has nothing to do with it.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: boxwright-demo-shot OUT.png [WINDOW_ID | X,Y,W,H]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "boxwright-demo-shot: no screen\n");
        return 1;
    }
    WId window = 0;
    int area[4] = {0, 0, -1, -1};
    if (argc == 3) {
        const QList<QByteArray> parts = QByteArray(argv[2]).split(',');
        bool ok = parts.size() == 1 || parts.size() == 4;
        if (parts.size() == 1)
            window = static_cast<WId>(parts[0].toULongLong(&ok, 0));
        for (int i = 0; ok && parts.size() == 4 && i < 4; ++i)
            area[i] = parts[i].toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "boxwright-demo-shot: bad window id or area %s\n", argv[2]);
            return 2;
        }
    }
    QPixmap shot = screen->grabWindow(window);
    if (area[2] >= 0)
        shot = shot.copy(area[0], area[1], area[2], area[3]);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "boxwright-demo-shot: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
