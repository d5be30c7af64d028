#pragma once

#include "lock.h"
#include "result_parser.h"

class LockParser : public ResultParser
{
    Q_OBJECT
};

class SingleLockParser : public LockParser
{
    Q_OBJECT
public:
    QJsonObject marshal(const QObject *record) const override;
    std::unique_ptr<Result> parse(const QJsonDocument *doc) const override;

    static void build(Lock &record, const QJsonObject &object);
};
