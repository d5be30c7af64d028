// The baseline for the start-up benchmark: a bare widget program that reports its
// first painted window the same way the program does.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <cstdio>

namespace {
class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget *w, QElapsedTimer clock)
        : window(w)
        , clock(clock)
    {
        w->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window && event->type() == QEvent::Paint) {
            window->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                std::fprintf(stderr, "first window painted after %lld ms\n",
                             static_cast<long long>(clock.elapsed()));
                std::fflush(stderr);
            });
        }
        return false;
    }

private:
    QWidget *window;
    QElapsedTimer clock;
};
} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    QLabel w(QStringLiteral("Waiting for USB connection"));
    w.resize(250, 150);
    FirstPaint notice(&w, clock);
    w.show();
    return app.exec();
}
