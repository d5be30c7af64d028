#pragma once

#include <QElapsedTimer>
#include <QObject>

// Logs once how long the program took from start to its first painted window.
class FirstPaintNotice : public QObject
{
    Q_OBJECT
public:
    // `sinceStart` was started when the program began.
    FirstPaintNotice(QObject *window, const QElapsedTimer &sinceStart);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void report();

    QObject *window;
    QElapsedTimer clock;
};
