// Draws the dashboard's thirteen pictures into a folder (default: BoxwrightImages),
// or with --icons the program's window icon at its sizes (app/icons).
//   bw_draw_images [output-folder [scale...]]
//   bw_draw_images --icons output-folder
// Each scale (default: 1 and 2) gives one set: "name.png" at 1, "name@<scale>x.png"
// otherwise, for high-density screens. The pictures are drawn, not resized, so every
// scale is sharp. The committed PNG files are this program's output; run it again
// after a change.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <functional>

namespace {

const QColor Green(0, 220, 0);
const QColor Yellow(255, 220, 0);
const QColor Red(230, 30, 30);
const QColor Orange(255, 120, 0);
const QColor Grey(110, 110, 110);
const QColor White(255, 255, 255);

// Pixels per drawing unit of the set being drawn.
int scale = 1;

// A transparent picture of w x h drawing units; painters on it draw in those units.
QImage canvas(int w, int h)
{
    QImage image(w * scale, h * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    return image;
}

// An arrow filling a 10 x 10 picture: triangular head and a stem.
QImage arrow(bool up, const QColor &color)
{
    QImage image = canvas(10, 10);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    QPolygonF head;
    if (up) {
        head << QPointF(5, 0) << QPointF(10, 5.5) << QPointF(0, 5.5);
        p.drawPolygon(head);
        p.drawRect(QRectF(3, 5, 4, 5));
    } else {
        head << QPointF(5, 10) << QPointF(10, 4.5) << QPointF(0, 4.5);
        p.drawPolygon(head);
        p.drawRect(QRectF(3, 0, 4, 5));
    }
    return image;
}

// The USB trident at 30 x 30.
QImage usbSymbol()
{
    QImage image = canvas(30, 30);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(White, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.drawLine(QPointF(15, 5), QPointF(15, 24));
    p.drawPolyline(QPolygonF({QPointF(15, 20), QPointF(7, 14), QPointF(7, 11)}));
    p.drawPolyline(QPolygonF({QPointF(15, 17), QPointF(23, 11), QPointF(23, 9)}));
    p.setPen(Qt::NoPen);
    p.setBrush(White);
    p.drawPolygon(QPolygonF({QPointF(15, 1), QPointF(19, 7), QPointF(11, 7)}));
    p.drawEllipse(QPointF(7, 10), 2.5, 2.5);
    p.drawRect(QRectF(21, 6, 4.5, 4.5));
    p.drawEllipse(QPointF(15, 25.5), 3.5, 3.5);
    return image;
}

// A globe for the network link at 30 x 30, green.
QImage networkSymbol()
{
    QImage image = canvas(30, 30);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Green, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3, 3, 24, 24));
    p.drawEllipse(QRectF(10, 3, 10, 24));
    p.drawLine(QPointF(15, 3), QPointF(15, 27));
    p.drawLine(QPointF(3, 15), QPointF(27, 15));
    p.setPen(QPen(Green, 1.5));
    p.drawLine(QPointF(5.5, 9), QPointF(24.5, 9));
    p.drawLine(QPointF(5.5, 21), QPointF(24.5, 21));
    return image;
}

// A padlock at 50 x 40 with a light body, so a black number stays legible on it.
QImage padlock()
{
    QImage image = canvas(50, 40);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 200, 200), 4));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(15, 2, 20, 22), 0, 180 * 16);
    p.drawLine(QPointF(15, 13), QPointF(15, 17));
    p.drawLine(QPointF(35, 13), QPointF(35, 17));
    p.setPen(QPen(QColor(160, 120, 20), 1.5));
    p.setBrush(QColor(255, 200, 60));
    p.drawRoundedRect(QRectF(7, 16, 36, 23), 4, 4);
    return image;
}

// A battery at 50 x 40 with `bars` of four segments filled.
QImage batteryPicture(int bars, const QColor &color)
{
    QImage image = canvas(50, 40);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(White, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2, 8, 40, 24), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(White);
    p.drawRect(QRectF(43, 15, 4, 10));
    p.setBrush(color);
    for (int i = 0; i < bars; ++i)
        p.drawRect(QRectF(5.5 + i * 9, 11.5, 7.5, 17));
    if (bars == 0) {
        p.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(22, 13), QPointF(22, 22));
        p.drawPoint(QPointF(22, 27));
    }
    return image;
}

// A raised white hand at 60 x 60 (shown as a 30 x 30 icon).
QImage whiteHand()
{
    QImage image = canvas(60, 60);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(White);
    const qreal tops[4] = {12, 6, 8, 14};
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(17 + i * 8, tops[i], 7, 32 - tops[i] + 8), 3.5, 3.5);
    p.drawRoundedRect(QRectF(16, 30, 32, 24), 9, 9);
    QPainterPath thumb;
    thumb.moveTo(17, 40);
    thumb.lineTo(7, 27);
    thumb.quadTo(5, 22, 10, 23);
    thumb.lineTo(22, 34);
    thumb.closeSubpath();
    p.drawPath(thumb);
    return image;
}

} // namespace

// The program icon, packaging/boxwright.svg drawn at size x size: a box with a
// key beside it.
QImage programIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    auto shape = [&p](const QColor &fill, const QColor &stroke, qreal width) {
        p.setBrush(fill);
        p.setPen(width > 0 ? QPen(stroke, width) : QPen(Qt::NoPen));
    };
    shape(QColor(0xb0, 0x7a, 0x3c), QColor(0x5a, 0x3a, 0x14), 2);
    p.drawRoundedRect(QRectF(4, 22, 40, 34), 3, 3);
    shape(QColor(0x8c, 0x5e, 0x2a), Qt::transparent, 0);
    p.drawRect(QRectF(4, 22, 40, 8));
    shape(QColor(0xd9, 0xa8, 0x5f), Qt::transparent, 0);
    p.drawRect(QRectF(20, 22, 8, 34));
    const QColor keyGreen(0x2e, 0x7d, 0x32), keyEdge(0x12, 0x3d, 0x16);
    shape(keyGreen, keyEdge, 2);
    p.drawEllipse(QPointF(46, 18), 12, 12);
    shape(White, Qt::transparent, 0);
    p.drawEllipse(QPointF(46, 18), 4, 4);
    shape(keyGreen, keyEdge, 1.5);
    p.drawRoundedRect(QRectF(44, 28, 4, 26), 1, 1);
    shape(keyGreen, Qt::transparent, 0);
    p.drawRect(QRectF(48, 40, 6, 4));
    p.drawRect(QRectF(48, 47, 4, 4));
    return image;
}

int drawIcons(const QString &out)
{
    QDir().mkpath(out);
    int failures = 0;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = QDir(out).filePath(QStringLiteral("boxwright-%1.png").arg(size));
        if (!programIcon(size).save(path, "PNG")) {
            QTextStream(stderr) << "cannot write " << path << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--icons") == 0)
        return drawIcons(QString::fromLocal8Bit(argv[2]));
    const QString out
            = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("BoxwrightImages");
    QDir().mkpath(out);
    QTextStream err(stderr);
    QList<int> scales;
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int s = QByteArray(argv[i]).toInt(&ok);
        if (!ok || s < 1 || s > 8) {
            err << "scale must be 1 to 8: " << argv[i] << '\n';
            return 2;
        }
        scales << s;
    }
    if (scales.isEmpty())
        scales = {1, 2};

    const std::pair<const char *, std::function<QImage()>> pictures[] = {
            {"gup.png", [] { return arrow(true, Green); }},
            {"greyup.png", [] { return arrow(true, Grey); }},
            {"odown.png", [] { return arrow(false, Orange); }},
            {"greydown.png", [] { return arrow(false, Grey); }},
            {"usb.png", usbSymbol},
            {"gint.png", networkSymbol},
            {"lockbigger.png", padlock},
            {"gbat4.png", [] { return batteryPicture(4, Green); }},
            {"gbat3.png", [] { return batteryPicture(3, Green); }},
            {"ybat2.png", [] { return batteryPicture(2, Yellow); }},
            {"rbat1.png", [] { return batteryPicture(1, Red); }},
            {"rbat0.png", [] { return batteryPicture(0, Red); }},
            {"white_hand.png", whiteHand},
    };
    int failures = 0;
    for (int s : qAsConst(scales)) {
        scale = s;
        for (const auto &[name, draw] : pictures) {
            QString file = QLatin1String(name);
            if (s > 1)
                file.replace(QLatin1String(".png"), QStringLiteral("@%1x.png").arg(s));
            const QString path = QDir(out).filePath(file);
            if (!draw().save(path, "PNG")) {
                err << "cannot write " << path << '\n';
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
