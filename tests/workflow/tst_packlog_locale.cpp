#include <QtTest>

#include <QTemporaryDir>

#include <clocale>

#include "expect_log.h"
#include "workflow_harness.h"

// A whole seal for a centre whose name has a non-ASCII letter, run once per
// locale (BW_TEST_LOCALE names it). Qt 5 writes such a line in UTF-8 under a
// Latin-1 locale as under a UTF-8 one; a Qt 6 build must write the same bytes.
class PackLogLocaleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void nonAsciiCentreNameKeepsItsBytes();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
};

void PackLogLocaleTest::initTestCase()
{
    // A locale that is missing falls back to "C" without a word: refuse to test that.
    const QByteArray wanted = qgetenv("BW_TEST_LOCALE");
    QVERIFY2(!wanted.isEmpty(), "BW_TEST_LOCALE names the locale this run needs");
    QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), wanted);

    testlog::serialize();
    useTestFolders(m_config, m_work);
}

void PackLogLocaleTest::nonAsciiCentreNameKeepsItsBytes()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setSchedules(
            "T1",
            {FakeWebService::schedule(11, "P1", "T1", QString::fromUtf8("Zo\u00eb Hall"), "ZH")});
    h.runToCentres("303903");
    h.sealFirstCentre();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(h.logBytes(),
             QByteArray("2024-03-05 14:07:09    CenterName:Zo\xc3\xab Hall    "
                        "Subject:Mathematics    LockId:L7    ScannedRfid:303903\r\n"));
}

QTEST_GUILESS_MAIN(PackLogLocaleTest)
#include "tst_packlog_locale.moc"
