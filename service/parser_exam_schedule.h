#pragma once

#include "exam_schedule.h"
#include "result_parser.h"

class ParserExamSchedule : public ResultParser
{
    Q_OBJECT
public:
    QJsonObject marshal(const QObject *record) const override;
    std::unique_ptr<Result> parse(const QJsonDocument *doc) const override;

    static void build(ExamSchedule &record, const QJsonObject &object);
    static QString buildQuery(int offset, int pageSize, const QString &tableId,
                              const QString &pointId);
};
