#include "arrworker.h"
#include "image_folder.h"
#include "keywindow.h"
#include "pbar.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

namespace {

const QString Images = QStringLiteral(BW_TEST_IMAGES);

QImage argb(const QLabel *label)
{
    return label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage expectedPicture(const QString &name, int w, int h)
{
    return QImage(Images + QLatin1Char('/') + name)
            .scaled(w, h, Qt::KeepAspectRatio, Qt::FastTransformation)
            .convertToFormat(QImage::Format_ARGB32);
}

QColor textColor(const QLabel *label)
{
    return label->palette().color(QPalette::Active, QPalette::WindowText);
}

} // namespace

class KeyWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<KeyWindow> w;
    QLabel *label(const char *name) { return w->findChild<QLabel *>(QLatin1String(name)); }
    QPushButton *button(const char *name)
    {
        return w->findChild<QPushButton *>(QLatin1String(name));
    }

private slots:
    void init()
    {
        w = std::make_unique<KeyWindow>(Images);
        w->resize(310, 400);
        w->show();
    }
    void cleanup() { w.reset(); }

    void startsIdle()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("Varnex BT Key App"));
        for (const char *b : {"btnScanTag", "btnUnlock", "btnLock"}) {
            QVERIFY(button(b)->isEnabled());
            QVERIFY(button(b)->minimumSize() == QSize(90, 90));
        }
        QVERIFY(!button("btnManual")->isVisible());
        QCOMPARE(label("lblStatus")->text(), QStringLiteral("READY"));
        QCOMPARE(textColor(label("lblStatus")), QColor(0, 255, 0));
        QCOMPARE(textColor(label("lblDetail3")), QColor(255, 255, 255));
        for (const char *d : {"lblDetail0", "lblDetail1", "lblDetail2", "lblDetail3"})
            QVERIFY(label(d)->text().isEmpty());
        QVERIFY(label("lblBatteryText")->text().isEmpty());
        QCOMPARE(argb(label("arrowUsbOut")), expectedPicture("greyup.png", 10, 10));
        QCOMPARE(argb(label("arrowSrvIn")), expectedPicture("greydown.png", 10, 10));
        QCOMPARE(w->palette().color(QPalette::Active, QPalette::Window), QColor(0, 0, 0));
    }

    void buttonsEmitRequests()
    {
        QSignalSpy scan(w.get(), &KeyWindow::requestScanTag);
        QSignalSpy open(w.get(), &KeyWindow::requestOpen);
        QSignalSpy close(w.get(), &KeyWindow::requestClose);
        QSignalSpy transfer(w.get(), &KeyWindow::requestTransfer);
        QTest::mouseClick(button("btnUnlock"), Qt::LeftButton);
        QCOMPARE(open.count(), 1);
        QCOMPARE(scan.count() + close.count() + transfer.count(), 0);
        QTest::mouseClick(button("btnScanTag"), Qt::LeftButton);
        QTest::mouseClick(button("btnLock"), Qt::LeftButton);
        w->setManual(true);
        QTest::mouseClick(button("btnManual"), Qt::LeftButton);
        QCOMPARE(scan.count(), 1);
        QCOMPARE(close.count(), 1);
        QCOMPARE(transfer.count(), 1);

        w->setBtnEnabled(false);
        QTest::mouseClick(button("btnScanTag"), Qt::LeftButton);
        QCOMPARE(scan.count(), 1);
        QVERIFY(!button("btnUnlock")->isEnabled() && !button("btnLock")->isEnabled());
    }

    void colourWords_data()
    {
        QTest::addColumn<bool>("status");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QColor>("expected"); // invalid: unchanged
        const QColor same;
        QTest::newRow("label green") << false << 0u << "green" << QColor(0, 255, 0);
        QTest::newRow("label red") << false << 1u << "bright red" << QColor(255, 0, 0);
        QTest::newRow("label green wins over red")
                << false << 2u << "red+green" << QColor(0, 255, 0);
        QTest::newRow("label orange") << false << 0u << "orange" << QColor(255, 102, 0);
        QTest::newRow("label turkois") << false << 0u << "turkois" << QColor(0, 191, 255);
        QTest::newRow("label yellow ignored") << false << 0u << "yellow" << same;
        QTest::newRow("label 3 fixed") << false << 3u << "green" << same;
        QTest::newRow("label 4 ignored") << false << 4u << "red" << same;
        QTest::newRow("label capital") << false << 0u << "Green" << same;
        QTest::newRow("status green") << true << 0u << "green" << QColor(0, 255, 0);
        QTest::newRow("status red unchanged") << true << 0u << "red" << same;
        QTest::newRow("status red stops search") << true << 0u << "red yellow" << same;
        QTest::newRow("status yellow") << true << 0u << "yellow" << QColor(255, 255, 0);
        QTest::newRow("status orange") << true << 0u << "orange" << QColor(255, 102, 0);
        QTest::newRow("status turkois") << true << 0u << "xturkoisx" << QColor(0, 191, 255);
        QTest::newRow("status capital") << true << 0u << "Green" << same;
        QTest::newRow("status nothing") << true << 0u << "blue" << same;
    }
    void colourWords()
    {
        QFETCH(bool, status);
        QFETCH(uint, type);
        QFETCH(QString, word);
        QFETCH(QColor, expected);
        // Start from a colour no word produces, so "unchanged" is visible.
        const QColor start(1, 2, 3);
        QPalette pal;
        pal.setColor(QPalette::WindowText, start);
        const QString name = status ? QStringLiteral("lblStatus")
                                    : QStringLiteral("lblDetail%1").arg(qMin(type, 3u));
        QLabel *l = w->findChild<QLabel *>(name);
        if (status || type < 3)
            l->setPalette(pal);
        const QColor before = textColor(l);
        if (status)
            w->updateStatusColor(word);
        else
            w->updateLabelColor(type, word);
        QCOMPARE(textColor(l), expected.isValid() ? expected : before);
        if (!status && type >= 3)
            QCOMPARE(textColor(label("lblDetail3")), QColor(255, 255, 255));
    }

    void labelsByIndex()
    {
        w->updateLabel(3, QStringLiteral("0A1B2C3D"));
        w->updateLabel(0, QStringLiteral("zero"));
        w->updateLabel(7, QStringLiteral("nowhere"));
        QCOMPARE(label("lblDetail3")->text(), QStringLiteral("0A1B2C3D"));
        QCOMPARE(label("lblDetail0")->text(), QStringLiteral("zero"));
        QVERIFY(label("lblDetail1")->text().isEmpty() && label("lblDetail2")->text().isEmpty());
        w->updateStatus(QStringLiteral("Unlocking..."));
        QCOMPARE(label("lblStatus")->text(), QStringLiteral("Unlocking..."));
    }

    void batteryThresholds_data()
    {
        // The text takes the picture's colour.
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QColor>("color");
        const QColor green(0, 255, 0), yellow(255, 255, 0), red(255, 0, 0);
        QTest::newRow("100") << 100 << "gbat4.png" << green;
        QTest::newRow("80") << 80 << "gbat4.png" << green;
        QTest::newRow("79") << 79 << "gbat3.png" << green;
        QTest::newRow("60") << 60 << "gbat3.png" << green;
        QTest::newRow("59") << 59 << "ybat2.png" << yellow;
        QTest::newRow("40") << 40 << "ybat2.png" << yellow;
        QTest::newRow("39") << 39 << "rbat1.png" << red;
        QTest::newRow("20") << 20 << "rbat1.png" << red;
        QTest::newRow("19") << 19 << "rbat0.png" << red;
        QTest::newRow("-5") << -5 << "rbat0.png" << red;
    }
    void batteryThresholds()
    {
        QFETCH(int, value);
        QFETCH(QString, picture);
        QFETCH(QColor, color);
        w->setBattery(value);
        QCOMPARE(argb(label("lblBattery")), expectedPicture(picture, 50, 40));
        QCOMPARE(label("lblBatteryText")->text(), QString::number(value) + QStringLiteral(" %"));
        QCOMPARE(textColor(label("lblBatteryText")), color);
    }

    void progressBarValueAndVisibility()
    {
        auto *bar = w->findChild<pBar *>(QStringLiteral("pbar"));
        QVERIFY(bar);
        w->updatePbar(70);
        QCOMPARE(bar->percent(), 70);
        w->updatePbar(-1);
        QCOMPARE(bar->percent(), 0);
        QVERIFY(bar->isVisible());

        bar->hide();
        w->updatePbar(-1);
        QVERIFY(!bar->isVisible()); // -1 leaves visibility alone
        w->updatePbar(30);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->percent(), 30);

        w->updatePbarColor(2);
        QCOMPARE(bar->colorCodeValue(), 2);
        QCOMPARE(bar->percent(), 30);
    }

    void manualModeAndReset()
    {
        w->setManual(true);
        QVERIFY(button("btnManual")->isVisible());
        QVERIFY(w->findChild<QFrame *>(QStringLiteral("lineManual"))->isVisible());
        for (uint i = 0; i < 4; ++i)
            w->updateLabel(i, QStringLiteral("text"));
        w->updateLabelColor(0, QStringLiteral("orange"));
        w->updateStatus(QStringLiteral("Locking..."));
        w->updateStatusColor(QStringLiteral("yellow"));
        w->updatePbar(55);
        w->setBtnEnabled(false);
        w->setBattery(50);
        w->setTransCount(42);
        const QImage counterAt42 = argb(label("lblLockCount"));

        w->resetView();
        QVERIFY(!button("btnManual")->isVisible());
        QVERIFY(!w->findChild<QFrame *>(QStringLiteral("lineManual"))->isVisible());
        QVERIFY(button("btnScanTag")->isEnabled());
        for (const char *d : {"lblDetail0", "lblDetail1", "lblDetail2", "lblDetail3"})
            QVERIFY(label(d)->text().isEmpty());
        QCOMPARE(label("lblStatus")->text(), QStringLiteral("READY"));
        QCOMPARE(w->findChild<pBar *>(QStringLiteral("pbar"))->percent(), 0);
        QVERIFY(argb(label("lblLockCount")) != counterAt42);
        // Colours and the battery survive a reset.
        QCOMPARE(textColor(label("lblStatus")), QColor(255, 255, 0));
        QCOMPARE(textColor(label("lblDetail0")), QColor(255, 102, 0));
        QCOMPARE(label("lblBatteryText")->text(), QStringLiteral("50 %"));
    }

    void counterDrawnBelowCentre()
    {
        const QImage plain = expectedPicture("lockbigger.png", 50, 40);
        w->setTransCount(1234);
        const QImage drawn = argb(label("lblLockCount"));
        QCOMPARE(drawn.size(), plain.size());
        int top = drawn.height(), bottom = -1, left = drawn.width(), right = -1;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                if (drawn.pixel(x, y) != plain.pixel(x, y)) {
                    top = qMin(top, y);
                    bottom = qMax(bottom, y);
                    left = qMin(left, x);
                    right = qMax(right, x);
                }
            }
        }
        QVERIFY2(bottom >= 0, "no digits drawn");
        const double centreY = (top + bottom) / 2.0;
        const double centreX = (left + right) / 2.0;
        // Text centred in the image rectangle extended 10 px down: 5 px below centre.
        QVERIFY2(qAbs(centreY - (drawn.height() / 2.0 + 5)) <= 3.0,
                 qPrintable(QStringLiteral("digits centred at y=%1").arg(centreY)));
        QVERIFY(qAbs(centreX - drawn.width() / 2.0) <= 3.0);
    }

    void trafficArrowLightsAndGreys()
    {
        QLabel *usbOut = label("arrowUsbOut");
        const QImage lit = expectedPicture("gup.png", 10, 10);
        const QImage idle = expectedPicture("greyup.png", 10, 10);
        w->TransferBusy(0);
        QCOMPARE(argb(usbOut), lit);
        QCOMPARE(argb(label("arrowUsbIn")), expectedPicture("greydown.png", 10, 10));
        // The animation thread greys it again after about a second.
        QTRY_COMPARE_WITH_TIMEOUT(argb(usbOut), idle, 5000);
        QCOMPARE(w->arrowWorker()->countdown(0), -1);
    }

    void trafficChannels()
    {
        w->TransferBusy(3);
        QCOMPARE(argb(label("arrowSrvIn")), expectedPicture("odown.png", 10, 10));
        w->TransferBusy(2);
        QCOMPARE(argb(label("arrowSrvOut")), expectedPicture("gup.png", 10, 10));
        w->TransferBusy(7);
        QCOMPARE(argb(label("arrowSrvIn")), expectedPicture("greydown.png", 10, 10));

        const QImage before = argb(label("arrowUsbOut"));
        w->TransferBusy(8);
        w->TransferBusy(-1);
        QCOMPARE(argb(label("arrowUsbOut")), before);
        QCOMPARE(w->arrowWorker()->countdown(0), -1);
    }

    // What a screen reader says for the pictures: links and their traffic, the
    // lock counter, the battery level and the manual-transfer button.
    void accessibleNames()
    {
        w->setBattery(45);
        w->setTransCount(17);
        w->setManual(true);
        w->TransferBusy(0);
        QCOMPARE(label("lblUsbIcon")->accessibleName(), QStringLiteral("USB link"));
        QCOMPARE(label("lblServerIcon")->accessibleName(), QStringLiteral("Server link"));
        QCOMPARE(label("arrowUsbOut")->accessibleName(), QStringLiteral("USB link, sending"));
        QCOMPARE(label("arrowUsbOut")->accessibleDescription(), QStringLiteral("active"));
        QCOMPARE(label("arrowUsbIn")->accessibleDescription(), QStringLiteral("idle"));
        QCOMPARE(label("lblLockCount")->accessibleName(), QStringLiteral("Lock counter 17"));
        QCOMPARE(label("lblBattery")->accessibleName(), QStringLiteral("Battery level 45 %"));
        QCOMPARE(button("btnManual")->accessibleName(), QStringLiteral("Manual data transfer"));
    }

    void missingImagesLeaveEmptyPictures()
    {
        KeyWindow bare(QStringLiteral("/nonexistent/folder"));
        bare.setBattery(90);
        bare.setTransCount(5);
        bare.TransferBusy(1);
        const auto *battery = bare.findChild<QLabel *>(QStringLiteral("lblBattery"));
        QVERIFY(battery->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(bare.findChild<QLabel *>(QStringLiteral("lblBatteryText"))->text(),
                 QStringLiteral("90 %"));
    }
};

class ProgressBarTest : public QObject
{
    Q_OBJECT

    // Right-most pixel of the middle row that differs from the white background.
    static int paintedRight(pBar &bar)
    {
        const QImage image = bar.grab().toImage();
        const int y = image.height() / 2;
        int right = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (QColor(image.pixel(x, y)) != QColor(Qt::white))
                right = x;
        }
        return right;
    }

private slots:
    void halfOfTwoHundredPixels()
    {
        pBar bar;
        bar.resize(200, 20);
        bar.setPercent(50);
        const int right = paintedRight(bar);
        QVERIFY2(right >= 99 && right <= 101, qPrintable(QString::number(right)));
        QCOMPARE(QColor(bar.grab().toImage().pixel(50, 10)), QColor(0, 255, 0));
        bar.setPercent(0);
        QVERIFY(paintedRight(bar) <= 1);
    }

    void colourCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("0") << 0 << QColor(0, 255, 0);
        QTest::newRow("1") << 1 << QColor(0, 191, 255);
        QTest::newRow("2") << 2 << QColor(255, 102, 0);
        QTest::newRow("3 falls back") << 3 << QColor(0, 255, 0);
        QTest::newRow("4") << 4 << QColor(255, 0, 0);
        QTest::newRow("-1 falls back") << -1 << QColor(0, 255, 0);
    }
    void colourCodes()
    {
        QFETCH(int, code);
        QFETCH(QColor, colour);
        pBar bar;
        bar.resize(100, 20);
        bar.setColorCode(code);
        bar.setPercent(80);
        QCOMPARE(QColor(bar.grab().toImage().pixel(40, 10)), colour);
    }

    void outOfRangeStaysInside()
    {
        pBar bar;
        bar.resize(100, 10);
        bar.setPercent(250);
        QCOMPARE(pBar::filledWidth(100, 250), 100);
        QCOMPARE(pBar::filledWidth(100, -30), 0);
        QCOMPARE(pBar::filledWidth(333, 50), 166); // truncated, not rounded
    }
};

class ArrWorkerTest : public QObject
{
    Q_OBJECT
private slots:
    void tenTicksThenGrey()
    {
        ArrWorker worker;
        QSignalSpy grey(&worker, &ArrWorker::valueChanged);
        worker.light(2);
        for (int i = 0; i < 10; ++i)
            worker.tick();
        QCOMPARE(grey.count(), 0);
        QCOMPARE(worker.countdown(2), 0);
        worker.tick();
        QCOMPARE(grey.count(), 1);
        QCOMPARE(grey.at(0).at(0).toInt(), 6);
        worker.tick();
        QCOMPARE(grey.count(), 1); // idle stays idle
    }

    void newTrafficRestartsCountdown()
    {
        ArrWorker worker;
        QSignalSpy grey(&worker, &ArrWorker::valueChanged);
        worker.light(0);
        for (int i = 0; i < 8; ++i)
            worker.tick();
        worker.light(0);
        for (int i = 0; i < 10; ++i)
            worker.tick();
        QCOMPARE(grey.count(), 0);
        worker.tick();
        QCOMPARE(grey.count(), 1);
        worker.light(9);
        worker.light(-1);
        QCOMPARE(worker.countdown(9), -1);
    }

    void loopEndsWhenAborted()
    {
        ArrWorker worker;
        QThread thread;
        worker.moveToThread(&thread);
        connect(&worker, &ArrWorker::workRequested, &thread, [&] { thread.start(); });
        connect(&thread, &QThread::started, &worker, &ArrWorker::doWork);
        connect(&worker, &ArrWorker::finished, &thread, &QThread::quit, Qt::DirectConnection);
        QSignalSpy finished(&worker, &ArrWorker::finished);
        worker.requestWork();
        QTRY_VERIFY(thread.isRunning());
        worker.abort();
        QVERIFY(thread.wait(3000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!worker.isWorking());
    }

    void dashboardDestructionJoinsItsThread()
    {
        // Repeated construction and destruction must neither hang nor leave threads.
        for (int i = 0; i < 5; ++i) {
            auto w = std::make_unique<KeyWindow>(QStringLiteral("/nonexistent"));
            QTRY_VERIFY(w->arrowWorker()->isWorking());
        }
    }
};

class ImageFolderTest : public QObject
{
    Q_OBJECT
    QString previous;

private slots:
    void init() { previous = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(previous); }

    void currentDirectoryFirst()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("BoxwrightImages")));
        QDir::setCurrent(dir.path());
        QCOMPARE(QFileInfo(imageFolder()).canonicalFilePath(),
                 QFileInfo(dir.path() + QStringLiteral("/BoxwrightImages")).canonicalFilePath());
    }

    void thenBesideTheExecutableThenDataFolder()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        const QStringList candidates = imageFolderCandidates();
        QVERIFY(candidates.size() >= 3);
        QCOMPARE(candidates.at(1),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/BoxwrightImages"));
        QCOMPARE(candidates.last(), QStringLiteral(BW_TEST_DATADIR "/BoxwrightImages"));
        // Nothing anywhere: the current-directory path, so pictures stay empty.
        bool elsewhere = false;
        for (int i = 1; i < candidates.size(); ++i)
            elsewhere = elsewhere || QFileInfo(candidates.at(i)).exists();
        if (!elsewhere)
            QCOMPARE(imageFolder(), candidates.at(0));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int status = 0;
    KeyWindowTest keyWindow;
    status |= QTest::qExec(&keyWindow, argc, argv);
    ProgressBarTest progressBar;
    status |= QTest::qExec(&progressBar, argc, argv);
    ArrWorkerTest arrWorker;
    status |= QTest::qExec(&arrWorker, argc, argv);
    ImageFolderTest imageFolderTest;
    status |= QTest::qExec(&imageFolderTest, argc, argv);
    return status;
}

#include "tst_keywindow.moc"
