#pragma once

#include "json_login.h"
#include "result_parser.h"

class ParserJSONLogin : public ResultParser
{
    Q_OBJECT
public:
    QJsonObject marshal(const QObject *record) const override;
    std::unique_ptr<Result> parse(const QJsonDocument *doc) const override;

    static void build(JSONLogin &record, const QJsonObject &object);
};
