#include "parser_exam_schedule.h"

#include "parser_timetable.h"

QJsonObject ParserExamSchedule::marshal(const QObject *record) const
{
    QJsonObject object;
    const auto *schedule = qobject_cast<const ExamSchedule *>(record);
    if (!schedule)
        return object;
    object.insert(QLatin1String("examSchedId"), schedule->examSchedId);
    object.insert(QLatin1String("tableId"), schedule->tableId);
    object.insert(QLatin1String("pointId"), schedule->pointId);
    return object;
}

std::unique_ptr<Result> ParserExamSchedule::parse(const QJsonDocument *doc) const
{
    return parseList<ExamScheduleList>(doc, &ParserExamSchedule::build);
}

void ParserExamSchedule::build(ExamSchedule &record, const QJsonObject &object)
{
    const auto number = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return hasValue(value) ? toInt(value) : -1;
    };
    const auto text = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return hasValue(value) ? toText(value) : QString();
    };
    record.examSchedId = number("examSchedId");
    record.pointId = text("pointId");
    record.tableId = text("tableId");
    record.state = text("state");
    record.subjectAbbreviation = text("subjectAbbreviation");
    record.subjectName = text("subjectName");
    record.centerAbbreviation = text("centerAbbreviation");
    record.centerName = text("centerName");
    record.start = number("start");
    record.end = number("end");
}

QString ParserExamSchedule::buildQuery(int offset, int, const QString &tableId,
                                       const QString &pointId)
{
    return buildPageQuery(offset, "tableId=", tableId, "pointId=", pointId);
}
