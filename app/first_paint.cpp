#include "first_paint.h"

#include <QEvent>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcMainWindow, "mainwindow")

FirstPaintNotice::FirstPaintNotice(QObject *window, const QElapsedTimer &sinceStart)
    : QObject(window)
    , window(window)
    , clock(sinceStart)
{
    window->installEventFilter(this);
}

bool FirstPaintNotice::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::Paint) {
        window->removeEventFilter(this);
        // Logged after the paint has run, so the time covers the whole first frame.
        QTimer::singleShot(0, this, &FirstPaintNotice::report);
    }
    return false;
}

void FirstPaintNotice::report()
{
    qCDebug(lcMainWindow).noquote()
            << QStringLiteral("first window painted after %1 ms").arg(clock.elapsed());
}
