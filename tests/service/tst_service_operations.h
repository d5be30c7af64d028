#pragma once

#include <QObject>
#include <QTemporaryDir>

class ServiceOperationsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void timetablesInThreePages();
    void pageCountDecidesPaging_data();
    void pageCountDecidesPaging();
    void schedulesPagedByThousandWithTraceFiles();
    void failedPageKeepsEarlierRecords();
    void badReplies_data();
    void badReplies();
    void errorStatusIsRefusalWithoutToken();
    void endlessPagingEndsAsFailure_data();
    void endlessPagingEndsAsFailure();
    void endlessReplyEndsInBoundedMemory();
    void compressedReplyIsNotInflated();
    void connectionRefused();
    void connectionReset();
    void noReplyWithinLimit();
    void lateReplyDoesNotDecideNextOperation();
    void operationWhileWaitingIsRefused();
    void wrongCredentialsKeepUser();
    void keptRecordsOutliveRefetch();

private:
    QTemporaryDir workDir;
    QString previousDir;
};
