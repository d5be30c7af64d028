#include "parser_seal.h"

QJsonObject ParserSeal::marshal(const QObject *) const
{
    return QJsonObject();
}

std::unique_ptr<Result> ParserSeal::parse(const QJsonDocument *doc) const
{
    return parseSingle<Seal>(doc, &ParserSeal::build);
}

void ParserSeal::build(Seal &record, const QJsonObject &object)
{
    const auto text = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return hasValue(value) ? toText(value) : QString();
    };
    record.tableId = text("tableId");
    record.pointId = text("pointId");
    record.apId = text("apId");
    const QJsonValue id = object.value(QLatin1String("examSchedId"));
    record.examSchedId = hasValue(id) ? toInt(id) : 0;
}
