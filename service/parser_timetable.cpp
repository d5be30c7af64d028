#include "parser_timetable.h"

#include <QUrl>

QJsonObject ParserTimetable::marshal(const QObject *) const
{
    return QJsonObject();
}

std::unique_ptr<Result> ParserTimetable::parse(const QJsonDocument *doc) const
{
    return parseList<TimetableList>(doc, &ParserTimetable::build);
}

void ParserTimetable::build(Timetable &record, const QJsonObject &object)
{
    record.tableId = toText(object.value(QLatin1String("tableId")));
    const QJsonValue start = object.value(QLatin1String("startTime"));
    record.startTime = hasValue(start) ? toInt(start) : 0;
    const QJsonValue end = object.value(QLatin1String("endTime"));
    record.endTime = hasValue(end) ? toInt(end) : 0;
    const QJsonValue subject = object.value(QLatin1String("subject"));
    if (hasValue(subject))
        record.subject = toText(subject);
    const QJsonValue abbreviation = object.value(QLatin1String("abbreviation"));
    if (hasValue(abbreviation))
        record.abbreviation = toText(abbreviation);
}

QString ParserTimetable::buildQuery(int offset, int, const QString &subject,
                                    const QString &abbreviation)
{
    return buildPageQuery(offset, "subject=", subject, "abbreviation=", abbreviation);
}

QString encodeUrlText(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString buildPageQuery(int offset, const char *firstKey, const QString &first,
                       const char *secondKey, const QString &second)
{
    QString query;
    if (offset > 0)
        query += QLatin1String("offset=") + QString::number(offset) + QLatin1Char('&');
    if (!first.isEmpty())
        query += QLatin1String(firstKey) + encodeUrlText(first) + QLatin1Char('&');
    if (!second.isEmpty())
        query += QLatin1String(secondKey) + encodeUrlText(second) + QLatin1Char('&');
    return query;
}
