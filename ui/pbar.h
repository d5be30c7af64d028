#pragma once

#include <QProgressBar>

// Progress bar that paints only a filled rectangle, coloured by a code the key sends.
class pBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit pBar(QWidget *parent = nullptr);

    // Colour codes: 0 green, 1 deep sky blue, 2 orange, 4 red, anything else green.
    void setColorCode(int code) { colorCode = code; }
    int colorCodeValue() const { return colorCode; }
    void setPercent(int percent);
    int percent() const { return valuePercent; }

    static QColor colorFor(int code);
    // Width of the filled part for a bar `width` pixels wide at `percent`.
    static int filledWidth(int width, int percent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int valuePercent = 0;
    int colorCode = 0;
};
