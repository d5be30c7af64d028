#pragma once

#include "result.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <memory>

class QJsonDocument;

// Turns one reply document into a Result. Parsers hold no state between calls.
class ResultParser : public QObject
{
    Q_OBJECT
public:
    ~ResultParser() override = default;

    virtual QJsonObject marshal(const QObject *record) const = 0;
    // Reads the envelope ("rc", "rm", "sfc"); null for a null document.
    virtual std::unique_ptr<Result> parse(const QJsonDocument *doc) const;

    static bool hasValue(const QJsonValue &value);
    static void parsePagination(BasePaginationList *list, const QJsonObject &payload);

    // Conversion rules shared by every parser.
    static qint32 toInt(const QJsonValue &value);
    static double toDouble(const QJsonValue &value);
    static QString toText(const QJsonValue &value);
    static int typeNumber(const QJsonValue &value);

protected:
    // Single-record pattern: "result" must be an object; build() makes the record.
    template<class T, class Build>
    std::unique_ptr<Result> parseSingle(const QJsonDocument *doc, Build build) const;
    // List pattern: "result" must be an object holding the page and its "list".
    template<class L, class Build>
    std::unique_ptr<Result> parseList(const QJsonDocument *doc, Build build) const;

    static QJsonObject rootOf(const QJsonDocument *doc);
    // The envelope's "result" member; false when the reply has none.
    static bool resultMember(const QJsonDocument *doc, QJsonValue *value);
    static void printSomethingElse(const QJsonValue &value);
};

#include "result_parser_impl.h"
