#include <QtTest>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include "json.h"
#include "ossarequesthandler.h"
#include "workflow_harness.h"

// What a whole packing run leaves on the terminal and in the files it writes, with
// every debug line on: no credential, and nothing from the service that could drive
// the terminal or flood it.
class WorkflowOutputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void runLeavesNoSecretsAndNoRawServiceText();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
    QTemporaryDir m_capture;
};

namespace {

// Sends standard output and standard error to a file while it lives.
class CapturedOutput
{
public:
    explicit CapturedOutput(const QString &path)
    {
        std::fflush(stdout);
        std::fflush(stderr);
        m_out = dup(STDOUT_FILENO);
        m_err = dup(STDERR_FILENO);
        const int fd
                = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~CapturedOutput()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(m_out, STDOUT_FILENO);
        dup2(m_err, STDERR_FILENO);
        close(m_out);
        close(m_err);
    }

private:
    int m_out = -1;
    int m_err = -1;
};

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void WorkflowOutputTest::initTestCase()
{
    QVERIFY(m_capture.isValid());
    useTestFolders(m_config, m_work);
}

void WorkflowOutputTest::runLeavesNoSecretsAndNoRawServiceText()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    // A third timetable whose texts would set the terminal's title and colours and
    // fill its screen.
    QJsonArray tables
            = {FakeWebService::timetable("T1", 1777881600, 1777892400, "Mathematics", "MA1"),
               FakeWebService::timetable("T9", 1777881600, 1777892400,
                                         "Art\u001b]2;owned\u0007\u001b[31m\u009b2J",
                                         QString(100000, QLatin1Char('A')))};
    h.web.setTimetables(tables);

    const QString captured = m_capture.filePath("output.txt");
    QByteArray token;
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
        CapturedOutput capture(captured);
        h.runToCentres("303903");
        h.sealFirstCentre("sealed");
        token = h.workflow->service()->requestHandler()->getToken();
        QLoggingCategory::setFilterRules(QString());
    }
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(h.prompt.texts(), QStringList {"Success|Packed"});
    QVERIFY(token.size() >= 4);

    const QByteArray digest = QCryptographicHash::hash("s3cret", QCryptographicHash::Md5).toHex();
    const QList<QByteArray> secrets = {"s3cret", digest, digest.toUpper(), token};
    QStringList written = {captured};
    for (const QString &root : {m_work.path(), m_config.path()}) {
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            written << it.next();
    }
    QVERIFY(written.size() >= 4); // output, the packing log and the two trace files
    for (const QString &path : written) {
        const QByteArray bytes = contentsOf(path);
        for (const QByteArray &secret : secrets)
            QVERIFY2(!bytes.contains(secret), qPrintable(path + " holds " + secret));
    }

    const QByteArray output = contentsOf(captured);
    QVERIFY(output.contains("Art\\u001b]2;owned\\u0007\\u001b[31m\\u009b2J"));
    for (QByteArray line : output.split('\n')) {
        if (line.endsWith('\r')) // Windows writes its text output with CRLF
            line.chop(1);
        QVERIFY2(line.size() < 16 * 1024, qPrintable(QString::number(line.size())));
        for (const char c : line)
            QVERIFY2(uchar(c) >= 0x20 || c == '\t', line.left(200).constData());
        QVERIFY2(!line.contains("\xc2\x9b"), line.left(200).constData());
    }
}

QTEST_GUILESS_MAIN(WorkflowOutputTest)
#include "tst_workflow_output.moc"
