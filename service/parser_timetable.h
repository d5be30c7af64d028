#pragma once

#include "result_parser.h"
#include "timetable.h"

class ParserTimetable : public ResultParser
{
    Q_OBJECT
public:
    QJsonObject marshal(const QObject *record) const override;
    std::unique_ptr<Result> parse(const QJsonDocument *doc) const override;

    static void build(Timetable &record, const QJsonObject &object);
    // Page query; the page size is never sent. Texts are percent-encoded where needed.
    static QString buildQuery(int offset, int pageSize, const QString &subject,
                              const QString &abbreviation);
};

// Shared by both list query builders.
QString buildPageQuery(int offset, const char *firstKey, const QString &first,
                       const char *secondKey, const QString &second);
// Percent-encodes reserved characters; unreserved ones (letters, digits, "-._~") stay.
QString encodeUrlText(const QString &text);
