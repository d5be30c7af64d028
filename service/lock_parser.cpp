#include "lock_parser.h"

#include <cstdio>

QJsonObject SingleLockParser::marshal(const QObject *record) const
{
    QJsonObject object;
    const auto *lock = qobject_cast<const Lock *>(record);
    if (!lock)
        return object;
    console("Marshal lock id: %s description %s\n", printable(lock->lockId).constData(),
            printable(lock->description).constData());
    object.insert(QLatin1String("lockId"), lock->lockId);
    object.insert(QLatin1String("description"), lock->description);
    return object;
}

std::unique_ptr<Result> SingleLockParser::parse(const QJsonDocument *doc) const
{
    if (!doc) {
        std::perror("Result could no be parsed from base object\n");
        return nullptr;
    }
    return parseSingle<Lock>(doc, &SingleLockParser::build);
}

void SingleLockParser::build(Lock &record, const QJsonObject &object)
{
    const auto text = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return hasValue(value) ? toText(value) : QString();
    };
    const auto number = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return hasValue(value) ? toDouble(value) : 0.0;
    };
    record.lockId = text("lockId");
    record.description = text("description");
    record.longitude = number("longitude");
    record.latitude = number("latitude");
    record.state = lockStateFromText(text("state"));
    record.commissionState = commissionStateFromText(text("commissionState"));
}
