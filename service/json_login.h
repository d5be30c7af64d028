#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

// The user the service logged in.
class JSONLogin : public QObject, public QEnableSharedFromThis<JSONLogin>
{
    Q_OBJECT
public:
    QString userId;
    QString userName;
};

using JSONLoginPtr = QSharedPointer<JSONLogin>;
