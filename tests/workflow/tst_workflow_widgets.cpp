#include <QtTest>

#include <QSettings>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "confirmgui.h"
#include "examcentregui.h"
#include "login.h"
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
    void anOlderCentreListStillWorksAfterANewFetch();
    void secondClickDuringTheLookupIsIgnored();

private:
    template<class T>
    T *newest(const WidgetWorkflowDialogs &widgets)
    {
        const QList<QDialog *> open = widgets.openDialogs();
        return open.isEmpty() ? nullptr : qobject_cast<T *>(open.last());
    }
    void loginThroughDialog(WorkflowHarness &h, WidgetWorkflowDialogs &widgets);

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
    QVERIFY(m_config.isValid());
    QVERIFY(m_work.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    QVERIFY(QDir::setCurrent(m_work.path()));
    QCoreApplication::setApplicationName("boxwright");
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
    QCOMPARE(items(tableBox), (QStringList {"Mathematics", "Physics"}));
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

void WorkflowWidgetsTest::anOlderCentreListStillWorksAfterANewFetch()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    seedStandardData(h.web);
    loginThroughDialog(h, widgets);
    if (QTest::currentTestFailed())
        return;
    click(newest<TimeTableGui>(widgets), "btnTTNext");
    QPointer<ExamCentreGui> older = newest<ExamCentreGui>(widgets);
    QVERIFY(older);

    // A second scan fetches the schedules again while the first list is open.
    h.scan("303903");
    QPointer<ExamCentreGui> newer = newest<ExamCentreGui>(widgets);
    QVERIFY(newer && newer != older);
    QCOMPARE(widgets.openDialogs().size(), 2);

    older->findChild<QComboBox *>("cbxCenter")->setCurrentIndex(2);
    click(older, "btnCenterNext");
    QPointer<ConfirmGui> confirm = newest<ConfirmGui>(widgets);
    QVERIFY(confirm);
    QCOMPARE(confirm->findChild<QLabel *>("lblCenter")->text(), QString("River School"));
    QCOMPARE(confirm->findChild<QLabel *>("lblLockDesc")->text(), QString("MA1_RS"));
    QTRY_VERIFY(older.isNull());
    QVERIFY(newer);
}

void WorkflowWidgetsTest::secondClickDuringTheLookupIsIgnored()
{
    WorkflowHarness h(nullptr);
    WidgetWorkflowDialogs widgets(h.linker.get());
    h.linker->setWorkflowDialogs(&widgets);
    seedStandardData(h.web);
    loginThroughDialog(h, widgets);
    if (QTest::currentTestFailed())
        return;
    click(newest<TimeTableGui>(widgets), "btnTTNext");
    QPointer<ExamCentreGui> centres = newest<ExamCentreGui>(widgets);
    QVERIFY(centres);

    h.web.hold("/taviservice/lock/find");
    bool clickedAgain = false;
    QTimer::singleShot(50, [&] {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("CenterNext ignored"));
        if (centres) {
            QTest::mouseClick(centres->findChild<QPushButton *>("btnCenterNext"), Qt::LeftButton);
            clickedAgain = true;
        }
        h.web.release();
    });
    click(centres, "btnCenterNext");
    QVERIFY(clickedAgain);
    QCOMPARE(h.web.count("GET /taviservice/lock/find"), 1);
    int confirms = 0;
    for (QDialog *d : widgets.openDialogs())
        confirms += qobject_cast<ConfirmGui *>(d) ? 1 : 0;
    QCOMPARE(confirms, 1);
    QTRY_VERIFY(centres.isNull());
}

QTEST_MAIN(WorkflowWidgetsTest)
#include "tst_workflow_widgets.moc"
