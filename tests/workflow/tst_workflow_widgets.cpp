#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "confirmgui.h"
#include "examcentregui.h"
#include "expect_log.h"
#include "json.h"
#include "keywindow.h"
#include "linker_wiring.h"
#include "login.h"
#include "mainwindow.h"
#include "messagebox_prompt.h"
#include "program_menu.h"
#include "program_shutdown.h"
#include "timetablegui.h"
#include "workflow_dialogs_widgets.h"
#include "workflow_harness.h"

// Whole packing runs through the real dialogs on the offscreen platform: fields
// typed into, buttons clicked, dialogs released once they have closed.
class WorkflowWidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void sealThroughTheDialogs();
    void cancelOnlyClosesTheDialog();
    void scanBringsTheOpenDialogForward();
    void busyWhileTheServiceHoldsAReply();
    void backFromConfirmKeepsTheChosenCentre();
    void logOutStartsTheNextScanAtTheLogin();
    void fullDiskShowsTheLineToCopy();
    void closingTheMainWindowEndsTheRun_data();
    void closingTheMainWindowEndsTheRun();

private:
    template<class T>
    T *newest(const WidgetWorkflowDialogs &widgets)
    {
        const QList<QDialog *> open = widgets.openDialogs();
        return open.isEmpty() ? nullptr : qobject_cast<T *>(open.last());
    }
    void loginThroughDialog(WorkflowHarness &h, WidgetWorkflowDialogs &widgets);
    // Logs in and takes the first timetable: the exam centre list is open.
    ExamCentreGui *runToCentres(WorkflowHarness &h, WidgetWorkflowDialogs &widgets);
    // ... and the first centre: the confirm dialog is open.
    ConfirmGui *runToConfirm(WorkflowHarness &h, WidgetWorkflowDialogs &widgets);

    QTemporaryDir m_config;
    QTemporaryDir m_work;
};

namespace {

void click(QWidget *dialog, const char *button)
{
    auto *b = dialog->findChild<QPushButton *>(button);
    QVERIFY2(b, button);
    QTest::mouseClick(b, Qt::LeftButton);
}

QStringList items(QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

void WorkflowWidgetsTest::initTestCase()
{
    testlog::serialize();
    useTestFolders(m_config, m_work);
}

void WorkflowWidgetsTest::init()
{
    QDir(PackingLog::settingsFolder()).removeRecursively();
}

void WorkflowWidgetsTest::loginThroughDialog(WorkflowHarness &h, WidgetWorkflowDialogs &widgets)
{
    h.keySendsLoopbackService();
    h.scan("303903");
    QPointer<login> dialog = newest<login>(widgets);
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->findChild<QLabel *>("label_3")->text(),
             QString("Enter login details for: 127.0.0.1:%1").arg(h.web.port()));
    QTest::keyClicks(dialog->findChild<QLineEdit *>("tbxUser"), "packer");
    QTest::keyClicks(dialog->findChild<QLineEdit *>("tbxPass"), "s3cret");
    click(dialog, "btnLoginNext");
    // Released once closed, not while its slot ran.
    QTRY_VERIFY(dialog.isNull());
}

ExamCentreGui *WorkflowWidgetsTest::runToCentres(WorkflowHarness &h, WidgetWorkflowDialogs &widgets)
{
    seedStandardData(h.web);
    loginThroughDialog(h, widgets);
    if (QTest::currentTestFailed())
        return nullptr;
    click(newest<TimeTableGui>(widgets), "btnTTNext");
    return newest<ExamCentreGui>(widgets);
}

ConfirmGui *WorkflowWidgetsTest::runToConfirm(WorkflowHarness &h, WidgetWorkflowDialogs &widgets)
{
    ExamCentreGui *centres = runToCentres(h, widgets);
    if (!centres)
        return nullptr;
    click(centres, "btnCenterNext");
    return newest<ConfirmGui>(widgets);
}

void WorkflowWidgetsTest::sealThroughTheDialogs()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    seedStandardData(h.web);
    loginThroughDialog(h, widgets);
    if (QTest::currentTestFailed())
        return;

    QPointer<TimeTableGui> tables = newest<TimeTableGui>(widgets);
    QVERIFY(tables);
    auto *tableBox = tables->findChild<QComboBox *>("cbxTimeTables");
    // Each item: the subject, then its date and time.
    QCOMPARE(items(tableBox).replaceInStrings(QRegularExpression(QString::fromUtf8(" \u2014 .*")),
                                              QString()),
             (QStringList {"Mathematics", "Physics"}));
    tableBox->setCurrentIndex(0);
    click(tables, "btnTTNext");
    QTRY_VERIFY(tables.isNull());

    QPointer<ExamCentreGui> centres = newest<ExamCentreGui>(widgets);
    QVERIFY(centres);
    QCOMPARE(centres->findChild<QLabel *>("lblSub")->text(), QString("Mathematics"));
    QTest::keyClicks(centres->findChild<QLineEdit *>("tbxFilter"), "nor");
    auto *centreBox = centres->findChild<QComboBox *>("cbxCenter");
    QCOMPARE(items(centreBox), (QStringList {"North Hall", "Central"}));
    centreBox->setCurrentIndex(1);
    click(centres, "btnCenterNext");
    QTRY_VERIFY(centres.isNull());

    QPointer<ConfirmGui> confirm = newest<ConfirmGui>(widgets);
    QVERIFY(confirm);
    QCOMPARE(confirm->findChild<QLabel *>("lblSub")->text(), QString("Mathematics"));
    QCOMPARE(confirm->findChild<QLabel *>("lblCenter")->text(), QString("Central"));
    QCOMPARE(confirm->findChild<QLabel *>("lblLockDesc")->text(), QString("MA1_NORC"));
    QTest::keyClicks(confirm->findChild<QPlainTextEdit *>("plainTextEdit"), "left seal intact");
    click(confirm, "btnFinish");
    QTRY_VERIFY(confirm.isNull());

    QCOMPARE(h.prompt.texts(), QStringList {"Success|Packed"});
    QCOMPARE(h.web.sealBodies().size(), 1);
    QCOMPARE(h.web.sealBodies().first().value("pointId").toString(), QString("P2"));
    QCOMPARE(h.web.sealBodies().first().value("comment").toString(), QString("left seal intact"));
    QCOMPARE(h.logLines(),
             QStringList {"2024-03-05 14:07:09    CenterName:Central    Subject:Mathematics"
                          "    LockId:L7    ScannedRfid:303903"});
    QVERIFY(widgets.openDialogs().isEmpty());
    QTRY_COMPARE(widgets.liveDialogs(), 0);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void WorkflowWidgetsTest::cancelOnlyClosesTheDialog()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    seedStandardData(h.web);
    h.keySendsLoopbackService();
    h.scan("303903");
    QPointer<login> first = newest<login>(widgets);
    QVERIFY(first);
    click(first, "btnLoginCancel");
    QTRY_VERIFY(first.isNull());
    QVERIFY(h.web.requests().isEmpty());

    // The window's close control behaves the same.
    h.scan("303903");
    QPointer<login> second = newest<login>(widgets);
    QVERIFY(second);
    second->close();
    QTRY_VERIFY(second.isNull());
    QVERIFY(h.web.requests().isEmpty());
    QVERIFY(h.prompt.boxes.isEmpty());
}

void WorkflowWidgetsTest::scanBringsTheOpenDialogForward()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    seedStandardData(h.web);
    h.web.setLock("555", FakeWebService::lock("L9", "COMMISSIONED"));
    h.keySendsLoopbackService();
    h.scan("303903");
    QPointer<login> credentials = newest<login>(widgets);
    QVERIFY(credentials);
    QCOMPARE(credentials->windowTitle(), QString("Login - tag 303903"));

    // More scans while logging in: still one login window, for the last tag.
    h.scan("777");
    h.scan("555");
    QCOMPARE(widgets.openDialogs(), QList<QDialog *> {credentials.data()});
    QCOMPARE(credentials->windowTitle(), QString("Login - tag 555"));
    QTest::keyClicks(credentials->findChild<QLineEdit *>("tbxUser"), "packer");
    QTest::keyClicks(credentials->findChild<QLineEdit *>("tbxPass"), "s3cret");
    click(credentials, "btnLoginNext");
    QPointer<TimeTableGui> tables = newest<TimeTableGui>(widgets);
    QVERIFY(tables);
    QCOMPARE(tables->windowTitle(), QString("Time Table - tag 555"));
    click(tables, "btnTTNext");

    // The same at the exam centre list, without fetching it again.
    QPointer<ExamCentreGui> centres = newest<ExamCentreGui>(widgets);
    QVERIFY(centres);
    h.scan("303903");
    QCOMPARE(widgets.openDialogs(), QList<QDialog *> {centres.data()});
    QCOMPARE(centres->windowTitle(), QString("Exam Center - tag 303903"));
    h.scan("555");
    QCOMPARE(centres->windowTitle(), QString("Exam Center - tag 555"));
    QCOMPARE(h.web.count("GET /taviservice/examschedule"), 1);
    centres->findChild<QComboBox *>("cbxCenter")->setCurrentIndex(1);
    click(centres, "btnCenterNext");

    // A confirmation stays with the tag it looked up.
    QPointer<ConfirmGui> confirm = newest<ConfirmGui>(widgets);
    QVERIFY(confirm);
    QCOMPARE(confirm->windowTitle(), QString("Confirm Details - tag 555"));
    h.scan("303903");
    QCOMPARE(widgets.openDialogs(), QList<QDialog *> {confirm.data()});
    QCOMPARE(confirm->windowTitle(), QString("Confirm Details - tag 555"));
    click(confirm, "btnFinish");
    QCOMPARE(h.web.requests().filter("/lock/find/").size(), 1);
    QCOMPARE(h.logLines(),
             QStringList {"2024-03-05 14:07:09    CenterName:Central    Subject:Mathematics"
                          "    LockId:L9    ScannedRfid:555"});
}

void WorkflowWidgetsTest::busyWhileTheServiceHoldsAReply()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    MainWindow window(QStringLiteral(BW_TEST_IMAGES));
    widgets.setDashboard(window.dashboard());
    auto *line = window.dashboard()->findChild<QLabel *>("lblSession");
    QPointer<ExamCentreGui> centres = runToCentres(h, widgets);
    QVERIFY(centres);

    // The dialog whose "Next" started the lookup says so and takes no second click.
    h.web.hold("/taviservice/lock/find");
    QString waitText;
    bool cursorBusy = false;
    QStringList enabledButtons;
    QTimer::singleShot(50, [&] {
        auto *status = centres->findChild<QLabel *>("lblStatus");
        waitText = status->isVisible() ? status->text() : QString();
        cursorBusy = centres->cursor().shape() == Qt::BusyCursor;
        for (auto *b : centres->findChildren<QPushButton *>())
            enabledButtons << (b->isEnabled() ? b->objectName() : QString());
        enabledButtons.removeAll(QString());
        click(centres, "btnCenterNext");
        h.web.release();
    });
    click(centres, "btnCenterNext");
    QCOMPARE(waitText, QString::fromUtf8("Looking up lock\u2026"));
    QVERIFY(cursorBusy);
    QCOMPARE(enabledButtons, QStringList());
    QCOMPARE(h.web.count("GET /taviservice/lock/find"), 1);
    QVERIFY(newest<ConfirmGui>(widgets));
    click(newest<ConfirmGui>(widgets), "btnCancel");

    // A scan's fetch has no dialog: the dashboard says it, and the wait ends
    // before its failure is shown.
    const QString session
            = QString::fromUtf8("Logged in as packer\nTimetable: Mathematics \u2014 ");
    QVERIFY2(!line->isHidden() && line->text().startsWith(session), qPrintable(line->text()));
    h.web.setBroken("/taviservice/examschedule");
    h.web.hold("/taviservice/examschedule");
    // Looked at once the request is held (the scan reaches the linker through
    // the event loop).
    QTimer held;
    QObject::connect(&held, &QTimer::timeout, [&] {
        if (h.web.count("GET /taviservice/examschedule") < 2)
            return;
        held.stop();
        waitText = line->text();
        cursorBusy = window.dashboard()->cursor().shape() == Qt::BusyCursor;
        h.web.release();
    });
    held.start(10);
    QString lineUnderBox;
    h.prompt.whileOpen = [&](const ScriptedPrompt::Box &) {
        lineUnderBox
                = window.dashboard()->cursor().shape() == Qt::BusyCursor ? QString() : line->text();
    };
    h.scan("303903");
    QTRY_COMPARE(h.prompt.texts(), QStringList {"Error|Could not retrieve Centers."});
    QCOMPARE(waitText, QString::fromUtf8("Fetching exam centres\u2026"));
    QVERIFY(cursorBusy);
    QVERIFY2(lineUnderBox.startsWith(session), qPrintable(lineUnderBox));
}

void WorkflowWidgetsTest::backFromConfirmKeepsTheChosenCentre()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    QPointer<ExamCentreGui> centres = runToCentres(h, widgets);
    QVERIFY(centres);
    QTest::keyClicks(centres->findChild<QLineEdit *>("tbxFilter"), "nor");
    centres->findChild<QComboBox *>("cbxCenter")->setCurrentIndex(1);
    click(centres, "btnCenterNext");

    // Fetched again, the list comes in another order: the choice follows the centre.
    h.web.setSchedules("T1",
                       {FakeWebService::schedule(13, "P3", "T1", "River School", "RS"),
                        FakeWebService::schedule(12, "P2", "T1", "Central", "NORC"),
                        FakeWebService::schedule(11, "P1", "T1", "North Hall", "NH")});
    click(newest<ConfirmGui>(widgets), "btnBack");
    centres = newest<ExamCentreGui>(widgets);
    QVERIFY(centres);
    QCOMPARE(h.web.count("GET /taviservice/examschedule"), 2);
    QCOMPARE(centres->findChild<QLineEdit *>("tbxFilter")->text(), QString("nor"));
    auto *box = centres->findChild<QComboBox *>("cbxCenter");
    QCOMPARE(items(box), (QStringList {"Central", "North Hall"}));
    QCOMPARE(box->currentText(), QString("Central"));
    click(centres, "btnCenterNext");
    click(newest<ConfirmGui>(widgets), "btnFinish");
    QCOMPARE(h.web.sealBodies().value(0).value("pointId").toString(), QString("P2"));

    // The next box starts from the whole list.
    h.scan("303903");
    centres = newest<ExamCentreGui>(widgets);
    QVERIFY(centres);
    QCOMPARE(centres->findChild<QLineEdit *>("tbxFilter")->text(), QString());
    QCOMPARE(centres->findChild<QComboBox *>("cbxCenter")->currentText(), QString("River School"));
}

void WorkflowWidgetsTest::logOutStartsTheNextScanAtTheLogin()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    MainWindow window(QStringLiteral(BW_TEST_IMAGES));
    widgets.setDashboard(window.dashboard());
    auto *menu = new ProgramMenu(&window, h.linker.get(), h.link.get(), nullptr);
    QAction *logOut = menu->menu()->findChild<QAction *>("actionLogOut");
    QVERIFY(logOut);
    // What the operator finds on opening the menu.
    auto offered = [&] {
        menu->menu()->popup(QPoint());
        const bool enabled = logOut->isEnabled();
        menu->menu()->hide();
        return enabled;
    };
    auto *line = window.dashboard()->findChild<QLabel *>("lblSession");
    QVERIFY(!offered());
    QPointer<ExamCentreGui> centres = runToCentres(h, widgets);
    QVERIFY(centres);

    // Not while a step waits for the service.
    h.web.hold("/taviservice/lock/find");
    bool offeredDuringWait = true;
    QTimer::singleShot(50, [&] {
        offeredDuringWait = offered();
        logOut->trigger();
        h.web.release();
    });
    click(centres, "btnCenterNext");
    QVERIFY(!offeredDuringWait);
    QPointer<ConfirmGui> confirm = newest<ConfirmGui>(widgets);
    QVERIFY(confirm);
    QVERIFY(line->text().startsWith("Logged in as packer\nTimetable: Mathematics"));

    QVERIFY(offered());
    logOut->trigger();
    QVERIFY(widgets.openDialogs().isEmpty());
    QVERIFY(line->isHidden());
    QVERIFY(!offered());
    h.web.clearRequests();
    h.scan("303903");
    QVERIFY(newest<login>(widgets));
    QVERIFY(h.web.requests().isEmpty());
}

void WorkflowWidgetsTest::fullDiskShowsTheLineToCopy()
{
    if (!QFileInfo(QStringLiteral("/dev/full")).exists())
        QSKIP("no /dev/full to stand for a full disk");
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    MessageBoxPrompt boxes;
    h.linker->setPrompt(&boxes);
    // Every write to the packing log fails as on a full disk.
    QVERIFY(QDir().mkpath(PackingLog::settingsFolder()));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), h.workflow->packingLog().filePath()));
    QPointer<ConfirmGui> confirm = runToConfirm(h, widgets);
    QVERIFY(confirm);

    // Each box is read as the operator sees it, then closed with OK.
    struct Seen
    {
        QString title;
        QString text;
        bool selectable;
    };
    QList<Seen> seen;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        auto *label = box->findChild<QLabel *>("qt_msgbox_label");
        const Qt::TextInteractionFlags selectable
                = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
        seen.append({box->windowTitle(), box->text(),
                     label && (label->textInteractionFlags() & selectable) == selectable});
        box->button(QMessageBox::Ok)->click();
    });
    reader.start(10);
    expectLog(QtWarningMsg,
              QRegularExpression("packing log not written: .* No space left on device"));
    expectLog(QtWarningMsg, QRegularExpression("packing log line lost: "));
    click(confirm, "btnFinish");
    reader.stop();

    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.at(0).title, QString("Error"));
    const QString &warning = seen.at(0).text;
    QVERIFY2(warning.contains(h.workflow->packingLog().filePath()), qPrintable(warning));
    QVERIFY(warning.contains("No space left on device"));
    QVERIFY(warning.contains("seal is recorded"));
    QVERIFY(warning.contains("2024-03-05 14:07:09    CenterName:North Hall    "
                             "Subject:Mathematics    LockId:L7    ScannedRfid:303903"));
    QVERIFY(seen.at(0).selectable);
    QCOMPARE(seen.at(1).title + "|" + seen.at(1).text, QString("Success|Packed"));
    QCOMPARE(h.web.sealBodies().size(), 1);
}

void WorkflowWidgetsTest::closingTheMainWindowEndsTheRun_data()
{
    QTest::addColumn<bool>("sealWaiting");
    QTest::addColumn<bool>("late");
    QTest::newRow("confirmation open") << false << false;
    QTest::newRow("seal waiting for its answer") << true << false;
    // Past its limit the seal waits 60 s for a late answer: the end does not.
    QTest::newRow("seal waiting for a late answer") << true << true;
}

void WorkflowWidgetsTest::closingTheMainWindowEndsTheRun()
{
    QFETCH(bool, sealWaiting);
    QFETCH(bool, late);
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    // Wired as in the program.
    MainWindow window(QStringLiteral(BW_TEST_IMAGES));
    wireMainWindow(h.linker.get(), &window);
    ProgramShutdown shutdown(h.linker.get(), &widgets);
    shutdown.endWhenClosed(&window);
    window.show();
    QPointer<ConfirmGui> confirm = runToConfirm(h, widgets);
    QVERIFY(confirm);

    if (late) {
        ServiceTimeLimits limits;
        limits.seal = 200;
        h.workflow->service()->setTimeLimits(limits);
        h.web.hold("/taviservice/timetable/seal");
        QTimer::singleShot(0, confirm, [&] { click(confirm, "btnFinish"); });
        // Closed once the seal is past its limit and the operator has been told.
        h.prompt.whileOpen = [&](const ScriptedPrompt::Box &) {
            expectLog(QtWarningMsg, QRegularExpression("program ending: the seal of lock L7"));
            QTimer::singleShot(0, &window, &QWidget::close);
        };
    } else if (sealWaiting) {
        // "Finish" was pressed just before: its seal is on its way.
        h.web.hold("/taviservice/timetable/seal");
        QTimer::singleShot(0, confirm, [&] { click(confirm, "btnFinish"); });
        QTimer::singleShot(50, &window, [&] {
            window.close();
            h.web.release();
        });
    } else {
        QTimer::singleShot(0, &window, &QWidget::close);
    }
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(30000);
    QCOMPARE(QApplication::exec(), 0);

    QVERIFY(widgets.openDialogs().isEmpty());
    if (late) {
        // Told that it may be recorded; nothing written for it.
        QCOMPARE(h.prompt.boxes.size(), 1);
        QVERIFY(h.prompt.boxes.first().text.contains("the seal may have been recorded"));
        QVERIFY(h.logLines().isEmpty());
        return;
    }
    QVERIFY(h.prompt.boxes.isEmpty());
    if (sealWaiting) {
        // The seal the service took still has its line.
        QCOMPARE(h.web.sealBodies().size(), 1);
        QCOMPARE(h.logLines().size(), 1);
    } else {
        QVERIFY(h.web.sealBodies().isEmpty());
        QVERIFY(h.logLines().isEmpty());
    }
}

QTEST_MAIN(WorkflowWidgetsTest)
#include "tst_workflow_widgets.moc"
