#include "parser_json_login.h"

QJsonObject ParserJSONLogin::marshal(const QObject *) const
{
    return QJsonObject();
}

std::unique_ptr<Result> ParserJSONLogin::parse(const QJsonDocument *doc) const
{
    return parseSingle<JSONLogin>(doc, &ParserJSONLogin::build);
}

void ParserJSONLogin::build(JSONLogin &record, const QJsonObject &object)
{
    const auto text = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return hasValue(value) ? toText(value) : QString();
    };
    record.userId = text("userId");
    record.userName = text("userName");
}
