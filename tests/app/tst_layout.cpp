// Every window at the platform's font (and, run again with QT_FONT_DPI=144, at a
// large one): no text wider or taller than the widget that shows it, windows at
// their usual size unless the text needs more, and keyboard focus in reading order.

#include "confirmgui.h"
#include "exam_schedule.h"
#include "examcentregui.h"
#include "keywindow.h"
#include "login.h"
#include "mainwindow.h"
#include "timetable.h"
#include "timetablegui.h"
#ifndef _WIN32
#include "udev_access.h"
#endif
#include "waiting_look.h"
#include "waitwindow.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

const QString Images = QStringLiteral(BW_TEST_IMAGES);

using Factory = std::function<std::unique_ptr<QWidget>()>;

// Why `w`'s text does not fit in it, or nothing.
QString clipped(QWidget *window, QWidget *w)
{
    QString text;
    QRect room;
    QSize need;
    if (auto *label = qobject_cast<QLabel *>(w)) {
        text = label->text();
        room = label->contentsRect();
        const int width = label->wordWrap() ? room.width() : QWIDGETSIZE_MAX;
        need = label->fontMetrics()
                       .boundingRect(QRect(0, 0, width, QWIDGETSIZE_MAX),
                                     label->wordWrap() ? Qt::TextWordWrap : 0, text)
                       .size();
    } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        text = button->text();
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = text;
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        need = QSize(button->fontMetrics().horizontalAdvance(text), button->fontMetrics().height());
    }
    if (text.isEmpty())
        return QString();
    const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
    if (need.width() > room.width() || need.height() > room.height()
        || !window->rect().contains(inWindow))
        return QStringLiteral("%1 \"%2\": needs %3x%4, has %5x%6 at %7,%8 in %9x%10")
                .arg(w->objectName(), text)
                .arg(need.width())
                .arg(need.height())
                .arg(room.width())
                .arg(room.height())
                .arg(inWindow.x())
                .arg(inWindow.y())
                .arg(window->width())
                .arg(window->height());
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(Factory)

class LayoutTest : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<Timetable>> tables;
    std::vector<std::unique_ptr<ExamSchedule>> centres;

    QList<Timetable *> timetables()
    {
        QList<Timetable *> list;
        for (const char *subject : {"Mathematics Paper 1", "Design and Technology"}) {
            tables.push_back(std::make_unique<Timetable>());
            tables.back()->subject = QLatin1String(subject);
            tables.back()->startTime = 1767250800;
            tables.back()->endTime = 1767261600;
            list << tables.back().get();
        }
        return list;
    }

    QList<ExamSchedule *> centreList()
    {
        QList<ExamSchedule *> list;
        for (const char *name : {"North Hall", "Northfield Academy of Science and Technology"}) {
            centres.push_back(std::make_unique<ExamSchedule>());
            centres.back()->centerName = QLatin1String(name);
            centres.back()->centerAbbreviation = QStringLiteral("NA");
            list << centres.back().get();
        }
        return list;
    }

    static std::unique_ptr<QWidget> dashboard(bool manual)
    {
        auto w = std::make_unique<MainWindow>(Images);
        w->show();
        w->setLayout(MainWindow::Dashboard);
        KeyWindow *k = w->dashboard();
        k->updateLabel(3, QStringLiteral("0A1B2C3D4E5F6071"));
        k->updateLabel(2, QStringLiteral("Box: EXAM-0042"));
        k->updateLabel(1, QStringLiteral("Lock: 3141592653"));
        k->setBattery(100);
        k->setTransCount(12345);
        k->setManual(manual);
        k->updateStatus(QStringLiteral("Waiting for the server"));
        k->setSessionText(QStringLiteral("Logged in as packer1\nTimetable: Design and Technology "
                                         "\u2014 Thu 1 Jan 2026, 07:00\u201310:00"));
        // A key's longest line, sent while the window is on screen.
        k->updateLabel(0, QString(63, QLatin1Char('W')));
        return w;
    }

private slots:
    void cleanup()
    {
        tables.clear();
        centres.clear();
    }

    void textFits_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QSize>("usual");
        QTest::newRow("waiting") << Factory([] { return std::make_unique<MainWindow>(Images); })
                                 << QSize(250, 150);
        QTest::newRow("waiting with hint") << Factory([] {
            auto w = std::make_unique<MainWindow>(Images);
            w->show();
#ifdef _WIN32
            // A hint of the WinUSB layer.
            w->waitView()->setHint(
                    QStringLiteral("The key is in use by another program. Close that program."));
#else
            // The libusb layer's hint with the longest word.
            w->waitView()->setHint(
                    describeDeniedKey(QStringLiteral("/dev/bus/usb/001/002"), {}).hint);
#endif
            return w;
        }) << QSize(250, 150);
        QTest::newRow("dashboard") << Factory([] { return dashboard(false); }) << QSize(310, 400);
        QTest::newRow("dashboard, manual mode")
                << Factory([] { return dashboard(true); }) << QSize(310, 400);
        QTest::newRow("login") << Factory([] {
            return std::make_unique<login>(nullptr, QStringLiteral("service.example.org:8080"));
        }) << QSize(320, 150);
        QTest::newRow("login, waiting") << Factory([] {
            auto w = std::make_unique<login>(nullptr, QStringLiteral("service.example.org:8080"));
            showWaiting(w.get(), QStringLiteral("Logging in to service.example.org:8080\u2026"));
            return w;
        }) << QSize(320, 150);
        QTest::newRow("timetable")
                << Factory([this] { return std::make_unique<TimeTableGui>(timetables()); })
                << QSize(320, 120);
        QTest::newRow("exam centre") << Factory([this] {
            auto w = std::make_unique<ExamCentreGui>(centreList(), timetables().first());
            w->findChild<QLineEdit *>(QStringLiteral("tbxFilter"))
                    ->setText(QStringLiteral("field"));
            return w;
        }) << QSize(320, 270);
        QTest::newRow("confirm") << Factory([] {
            return std::make_unique<ConfirmGui>(QStringLiteral("Design and Technology"),
                                                QStringLiteral("Northfield Academy"),
                                                QStringLiteral("Lock 3141592653 (blue crate)"));
        }) << QSize(320, 260);
    }
    void textFits()
    {
        QFETCH(Factory, make);
        QFETCH(QSize, usual);
        std::unique_ptr<QWidget> w = make();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCoreApplication::processEvents();

        // The usual size when the contents allow, larger only as far as they need.
        QVERIFY(w->layout());
        QCOMPARE(w->size(), usual.expandedTo(w->layout()->totalMinimumSize()));
        QStringList problems;
        for (QWidget *c : w->findChildren<QWidget *>()) {
            if (c->isVisible()) {
                const QString problem = clipped(w.get(), c);
                if (!problem.isEmpty())
                    problems << problem;
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    void tabOrder_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("login") << Factory([] {
            return std::make_unique<login>(nullptr, QStringLiteral("A:1"));
        }) << QStringList {"tbxUser", "tbxPass", "btnLoginNext", "btnLoginCancel"};
        QTest::newRow("timetable")
                << Factory([this] { return std::make_unique<TimeTableGui>(timetables()); })
                << QStringList {"cbxTimeTables", "btnTTNext", "btnTTCancel"};
        QTest::newRow("exam centre") << Factory(
                [this] { return std::make_unique<ExamCentreGui>(centreList(), nullptr); })
                                     << QStringList {"tbxFilter", "cbxCenter", "btnCenterNext",
                                                     "btnCenterBack", "btnCenterCancel"};
        QTest::newRow("confirm") << Factory([] {
            return std::make_unique<ConfirmGui>(QString(), QString(), QString());
        }) << QStringList {"plainTextEdit", "btnFinish", "btnBack", "btnCancel"};
    }
    void tabOrder()
    {
        QFETCH(Factory, make);
        QFETCH(QStringList, order);
        std::unique_ptr<QWidget> w = make();
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));

        // Focus starts in the first field; Tab walks the rest and comes back.
        QStringList seen;
        for (int i = 0; i <= order.size(); ++i) {
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            seen << focus->objectName();
            if (i == 0 && qobject_cast<QPlainTextEdit *>(focus))
                QTest::keyClicks(focus, QStringLiteral("ab"));
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        QCOMPARE(seen, order + QStringList {order.first()});
        // Tab in the comment moved on and typed nothing.
        if (auto *comment = w->findChild<QPlainTextEdit *>())
            QCOMPARE(comment->toPlainText(), QStringLiteral("ab"));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    LayoutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_layout.moc"
