#pragma once

// Template bodies of ResultParser; included from result_parser.h only.

#include "console.h"

#include <QJsonArray>

template<class T, class Build>
std::unique_ptr<Result> ResultParser::parseSingle(const QJsonDocument *doc, Build build) const
{
    std::unique_ptr<Result> result = ResultParser::parse(doc);
    QJsonValue value;
    if (!result || !resultMember(doc, &value))
        return result;
    if (hasValue(value)) {
        console("Valid property found...\n");
        if (value.isObject()) {
            console("Result object found.\n");
            QSharedPointer<T> record(new T);
            build(*record, value.toObject());
            result->setData(record);
        } else {
            printSomethingElse(value);
        }
    } else {
        console("Null result returned\n");
        result->setData({});
    }
    return result;
}

template<class L, class Build>
std::unique_ptr<Result> ResultParser::parseList(const QJsonDocument *doc, Build build) const
{
    std::unique_ptr<Result> result = ResultParser::parse(doc);
    QJsonValue value;
    if (!result || !resultMember(doc, &value))
        return result;
    if (!value.isObject()) {
        printSomethingElse(value);
        return result;
    }
    console("Result object found.\n");
    const QJsonObject payload = value.toObject();
    using T = typename L::Record;
    QSharedPointer<L> list(new L);
    parsePagination(list.data(), payload);
    const QJsonArray elements = payload.value(QLatin1String("list")).toArray();
    list->items.reserve(elements.size());
    for (const QJsonValue &element : elements) {
        QSharedPointer<T> record(new T);
        build(*record, element.toObject());
        list->items.append(record);
    }
    console("Number of locks retrieved: %d\n", int(list->items.size()));
    result->setData(list);
    return result;
}
