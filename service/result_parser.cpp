#include "result_parser.h"

#include <QJsonDocument>
#include <cmath>
#include <limits>

std::unique_ptr<Result> ResultParser::parse(const QJsonDocument *doc) const
{
    if (!doc)
        return nullptr;
    auto result = std::make_unique<Result>();
    const QJsonObject root = rootOf(doc);
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        const QString key = it.key();
        if (key == QLatin1String("rc")) {
            const double value = it.value().toDouble(0.0);
            console("Double value %f\n", value);
            result->setCode(toInt(it.value()));
        } else if (key == QLatin1String("rm")) {
            const QString text = toText(it.value());
            console("Code string '%s'\n", printable(text).constData());
            result->setMessage(text);
        } else if (key == QLatin1String("sfc")) {
            result->sfc = toText(it.value());
        }
    }
    return result;
}

bool ResultParser::hasValue(const QJsonValue &value)
{
    return !value.isNull() && !value.isUndefined();
}

void ResultParser::parsePagination(BasePaginationList *list, const QJsonObject &payload)
{
    list->count = toInt(payload.value(QLatin1String("count")));
    list->limit = toInt(payload.value(QLatin1String("limit")));
    list->offset = toInt(payload.value(QLatin1String("offset")));
}

qint32 ResultParser::toInt(const QJsonValue &value)
{
    const double number = std::trunc(value.toDouble(0.0));
    // Out-of-range numbers would be undefined behaviour in a plain cast; saturate instead.
    if (!(number == number))
        return 0;
    if (number >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (number <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(number);
}

double ResultParser::toDouble(const QJsonValue &value)
{
    return value.toDouble(0.0);
}

QString ResultParser::toText(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

int ResultParser::typeNumber(const QJsonValue &value)
{
    return int(value.type());
}

QJsonObject ResultParser::rootOf(const QJsonDocument *doc)
{
    return doc ? doc->object() : QJsonObject();
}

bool ResultParser::resultMember(const QJsonDocument *doc, QJsonValue *value)
{
    const QJsonObject root = rootOf(doc);
    const auto it = root.constFind(QLatin1String("result"));
    if (it == root.constEnd())
        return false;
    *value = it.value();
    return true;
}

void ResultParser::printSomethingElse(const QJsonValue &value)
{
    console("Something else...%d", typeNumber(value));
}
