// The dashboard on a 150 % screen (144 dpi) with the program's scaling settings:
// as with Qt 5, the factor is rounded to a whole 2, so pictures and text are drawn
// at twice their pixels rather than smeared at 1.5.

#include "high_dpi.h"
#include "keywindow.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

class HighDpiTest : public QObject
{
    Q_OBJECT

private slots:
    void dashboardScalesByAWholeFactor()
    {
        const QScreen *screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        // Qt reports the screen's dots per inch divided by the factor it applied.
        const qreal screenDpi = screen->logicalDotsPerInch() * screen->devicePixelRatio();
        if (qRound(screenDpi) != 144)
            QSKIP("this Qt's offscreen platform has no 144-dpi screen to offer");
        QCOMPARE(screen->devicePixelRatio(), 2.0);

        KeyWindow dashboard(QStringLiteral(BW_TEST_IMAGES));
        dashboard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dashboard));
        QCOMPARE(dashboard.devicePixelRatioF(), 2.0);
        QCOMPARE(dashboard.grab().size(), dashboard.size() * 2);
    }
};

int main(int argc, char **argv)
{
    // One 1920 x 1080 screen at 144 dpi, where the offscreen platform takes a
    // configuration file (Qt 6).
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly)
        || file.write(R"({"screens": [{"name": "hidpi", "x": 0, "y": 0, "width": 1920,
                          "height": 1080, "logicalDpi": 144, "logicalBaseDpi": 96, "dpr": 1}]})")
                < 0)
        return 1;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    enableHighDpiScaling();
    QApplication app(argc, argv);
    HighDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_high_dpi.moc"
