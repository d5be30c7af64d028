#include "install_checks.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestInstallTree : public QObject
{
    Q_OBJECT
private slots:
    void installsIntoAFreshPrefix();
    void reinstallingChangesNothing();

private:
    QTemporaryDir dir_;
};

namespace {
QString install(const QString &prefix)
{
    const CommandResult r = runCommand(QStringLiteral(BW_CMAKE_COMMAND),
                                       {QStringLiteral("--install"), QStringLiteral(BW_BUILD_DIR),
                                        QStringLiteral("--prefix"), prefix});
    return r.exitCode == 0 ? QString() : QString::fromUtf8(r.out + r.err);
}
} // namespace

void TestInstallTree::installsIntoAFreshPrefix()
{
    QVERIFY(dir_.isValid());
    const QString prefix = dir_.filePath(QStringLiteral("prefix"));
    const QString error = install(prefix);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QStringList problems = installedTreeProblems(prefix);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    const QString lookup = imageLookupProblem(prefix);
    QVERIFY2(lookup.isEmpty(), qPrintable(lookup));
}

void TestInstallTree::reinstallingChangesNothing()
{
    const QString prefix = dir_.filePath(QStringLiteral("prefix"));
    const QStringList before = filesBelow(prefix);
    QVERIFY(!before.isEmpty());
    const QString error = install(prefix);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(filesBelow(prefix), before);
}

QTEST_GUILESS_MAIN(TestInstallTree)
#include "tst_install_tree.moc"
