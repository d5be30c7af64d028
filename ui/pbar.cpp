#include "pbar.h"

#include <QPainter>

pBar::pBar(QWidget *parent)
    : QProgressBar(parent)
{
    QPalette pal = palette();
    pal.setBrush(QPalette::All, backgroundRole(), QBrush(Qt::white));
    setPalette(pal);
}

void pBar::setPercent(int percent)
{
    valuePercent = percent;
    repaint();
}

QColor pBar::colorFor(int code)
{
    switch (code) {
    case 1:
        return QColor(0, 191, 255);
    case 2:
        return QColor(255, 102, 0);
    case 4:
        return QColor(255, 0, 0);
    default:
        return QColor(0, 255, 0);
    }
}

int pBar::filledWidth(int width, int percent)
{
    const int w = static_cast<int>(static_cast<double>(width) * percent / 100.0);
    // Values outside 0..100 from the key must not paint outside the bar.
    return qBound(0, w, width);
}

void pBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(QBrush(colorFor(colorCode), Qt::SolidPattern));
    painter.drawRect(0, 0, filledWidth(width(), valuePercent), height());
}
