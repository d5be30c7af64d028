#include "keywindow.h"
#include "mainwindow.h"
#include "messagebox_prompt.h"
#include "waitwindow.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {
const QString Images = QStringLiteral(BW_TEST_IMAGES);

QLabel *statusOf(KeyWindow *k)
{
    return k->findChild<QLabel *>(QStringLiteral("lblStatus"));
}

void verifyFixed(QWidget *w, QSize size)
{
    QCOMPARE(w->size(), size);
    QCOMPARE(w->minimumSize(), size);
    QCOMPARE(w->maximumSize(), size);
}
} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void startsWaiting()
    {
        MainWindow w(Images);
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("Boxwright v1.0.2"));
        verifyFixed(&w, QSize(250, 150));
        QVERIFY(w.waitView()->isVisible());
        QVERIFY(!w.dashboard()->isVisible());
        QCOMPARE(w.waitView()->text(), QStringLiteral("Waiting for USB connection"));
        auto *label = w.waitView()->findChild<QLabel *>(QStringLiteral("lblWaiting"));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 255, 255));
        QCOMPARE(label->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0, 0, 0));
        QVERIFY(w.autoFillBackground());
        QCOMPARE(w.dashboard()->parentWidget(), &w);
        QCOMPARE(w.waitView()->parentWidget(), &w);
        // Black background with white text where the label sits.
        const QImage shot = w.grab().toImage();
        QCOMPARE(QColor(shot.pixel(2, 2)), QColor(0, 0, 0));
    }

    void switchesViews_data()
    {
        QTest::addColumn<QList<int>>("calls");
        QTest::addColumn<bool>("dashboard");
        QTest::addColumn<QSize>("size");
        QTest::newRow("0") << QList<int> {0} << false << QSize(250, 150);
        QTest::newRow("1") << QList<int> {1} << true << QSize(310, 400);
        QTest::newRow("1,1") << QList<int> {1, 1} << true << QSize(310, 400);
        QTest::newRow("1,0") << QList<int> {1, 0} << false << QSize(250, 150);
        QTest::newRow("2 ignored") << QList<int> {2} << false << QSize(250, 150);
        QTest::newRow("1,-1 ignored") << QList<int> {1, -1} << true << QSize(310, 400);
        QTest::newRow("1,2 ignored") << QList<int> {1, 2} << true << QSize(310, 400);
    }
    void switchesViews()
    {
        QFETCH(QList<int>, calls);
        QFETCH(bool, dashboard);
        QFETCH(QSize, size);
        MainWindow w(Images);
        w.show();
        for (int view : calls)
            w.setLayout(view);
        QCOMPARE(w.dashboard()->isVisible(), dashboard);
        QCOMPARE(w.waitView()->isVisible(), !dashboard);
        verifyFixed(&w, size);
    }

    void dashboardResetOnEveryShow()
    {
        MainWindow w(Images);
        w.show();
        KeyWindow *k = w.dashboard();
        w.setLayout(1);
        k->updateStatus(QStringLiteral("Locking..."));
        k->updateLabel(3, QStringLiteral("SERIAL"));
        k->setManual(true);
        w.setLayout(1); // already showing: still reset
        QCOMPARE(statusOf(k)->text(), QStringLiteral("READY"));
        QVERIFY(k->findChild<QLabel *>(QStringLiteral("lblDetail3"))->text().isEmpty());
        QVERIFY(!k->findChild<QPushButton *>(QStringLiteral("btnManual"))->isVisibleTo(k));

        k->updateStatus(QStringLiteral("Unlocking..."));
        w.setLayout(0); // the waiting view keeps the dashboard's contents
        QCOMPARE(statusOf(k)->text(), QStringLiteral("Unlocking..."));
        w.setLayout(1);
        QCOMPARE(statusOf(k)->text(), QStringLiteral("READY"));
    }

    void replugGivesScanTagTheFocus()
    {
        MainWindow w(Images);
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        KeyWindow *k = w.dashboard();
        QSignalSpy scans(k, &KeyWindow::requestScanTag);
        w.setLayout(1);
        w.setLayout(0); // the key is unplugged...
        w.setLayout(1); // ...and plugged back
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        QCOMPARE(focus->objectName(), QStringLiteral("btnScanTag"));
        QTest::keyClick(focus, Qt::Key_Space);
        QCOMPARE(scans.count(), 1);
    }

    void nothingDrawnRightOfTheButtons()
    {
        MainWindow w(Images);
        w.setLayout(1);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QImage shot = w.grab().toImage();
        auto *lock = w.dashboard()->findChild<QPushButton *>(QStringLiteral("btnLock"));
        const QRect button(lock->mapTo(&w, QPoint(0, 0)), lock->size());
        // Beyond the button's own edge shading, the strip is the window's black.
        const qreal ratio = shot.devicePixelRatio();
        QStringList marks;
        for (int y = button.top(); y <= button.bottom(); ++y) {
            for (int x = button.right() + 3; x < w.width(); ++x) {
                const QColor c = shot.pixelColor(QPoint(int(x * ratio), int(y * ratio)));
                if (c.red() + c.green() + c.blue() > 60)
                    marks << QStringLiteral("%1,%2").arg(x).arg(y);
            }
        }
        QVERIFY2(marks.isEmpty(), qPrintable(marks.join(' ')));
    }

    void teardownRunsFirstAndOnce()
    {
        int runs = 0;
        bool viewsAlive = false;
        QPointer<KeyWindow> dashboard;
        {
            auto w = std::make_unique<MainWindow>(Images, [&] {
                ++runs;
                viewsAlive = !dashboard.isNull();
            });
            dashboard = w->dashboard();
        }
        QCOMPARE(runs, 1);
        QVERIFY(viewsAlive);
        QVERIFY(dashboard.isNull());
    }

    void hintLine()
    {
        MainWindow w(Images);
        w.show();
        auto *hint = w.waitView()->findChild<QLabel *>(QStringLiteral("lblHint"));
        QVERIFY(!hint->isVisible());
        w.waitView()->setHint(QStringLiteral("No permission for the key"));
        QVERIFY(hint->isVisible());
        QCOMPARE(w.waitView()->hint(), QStringLiteral("No permission for the key"));
        verifyFixed(&w, QSize(250, 150));
        w.waitView()->setHint(QString());
        QVERIFY(!hint->isVisible());
    }
};

class PromptTest : public QObject
{
    Q_OBJECT
private slots:
    void messageBoxes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("title");
        QTest::newRow("warning") << int(OperatorPrompt::Kind::Warning) << int(QMessageBox::Warning)
                                 << "Error";
        QTest::newRow("information") << int(OperatorPrompt::Kind::Information)
                                     << int(QMessageBox::Information) << "Success";
        QTest::newRow("long title")
                << int(OperatorPrompt::Kind::Warning) << int(QMessageBox::Warning)
                << "Could not write the packing log line";
    }
    void messageBoxes()
    {
        QFETCH(int, kind);
        QFETCH(int, icon);
        QFETCH(QString, title);
        MessageBoxPrompt prompt;
        bool seen = false, parentless = false, selectable = false;
        int shownIcon = -1, titleRoom = 0;
        QString shownTitle, text;
        QList<QMessageBox::StandardButton> buttons;
        // Read the box, then close it, so a wrong box cannot hang the test.
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            shownIcon = box->icon();
            shownTitle = box->windowTitle();
            text = box->text();
            parentless = !box->parentWidget();
            for (QAbstractButton *b : box->buttons())
                buttons << box->standardButton(b);
            auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            selectable = label && (label->textInteractionFlags() & Qt::TextSelectableByMouse)
                    && (label->textInteractionFlags() & Qt::TextSelectableByKeyboard);
            titleRoom = box->width() - box->fontMetrics().horizontalAdvance(shownTitle);
            box->done(0);
        });
        prompt.message(OperatorPrompt::Kind(kind), title, QStringLiteral("Packed"));
        QVERIFY(seen);
        QCOMPARE(shownIcon, icon);
        QCOMPARE(shownTitle, title);
        QCOMPARE(text, QStringLiteral("Packed"));
        QCOMPARE(buttons, QList<QMessageBox::StandardButton> {QMessageBox::Ok});
        QVERIFY(parentless);
        // The text can be copied, and the title has room beside the window
        // manager's icon and buttons.
        QVERIFY(selectable);
        QVERIFY2(titleRoom >= 120, qPrintable(QString::number(titleRoom)));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int status = 0;
    MainWindowTest mainWindow;
    status |= QTest::qExec(&mainWindow, argc, argv);
    PromptTest prompt;
    status |= QTest::qExec(&prompt, argc, argv);
    return status;
}

#include "tst_mainwindow.moc"
