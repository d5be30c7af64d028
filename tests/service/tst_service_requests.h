#pragma once

#include <QObject>

class ServiceRequestsTest : public QObject
{
    Q_OBJECT
private slots:
    void loginSendsFormWithUpperCaseDigest();
    void loginEncodesUserNameAsFormText();
    void tokenAbsentBeforeLoginPresentAfter();
    void tokenReplacedKeptAndCleared();
    void putBodiesByteForByte();
    void getUrlsAndHeaders();
    void operationsBeforeConnectAreRefused();
    void abandonedReplyIsDiscarded();
    void sharedManagerGoneFirst();
};
