#pragma once

#include "result_parser.h"
#include "seal.h"

class ParserSeal : public ResultParser
{
    Q_OBJECT
public:
    QJsonObject marshal(const QObject *record) const override;
    std::unique_ptr<Result> parse(const QJsonDocument *doc) const override;

    static void build(Seal &record, const QJsonObject &object);
};
