// The two paginated fetches of JSON.
#include "console.h"
#include "json.h"
#include "json_body.h"
#include "ossarequesthandler.h"
#include "parser_exam_schedule.h"
#include "parser_timetable.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcJson)

namespace {

const int tablePageSize = 100;
const int schedulePageSize = 1000;

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

// Common checks after a page's reply: the page list, or null (operation fails).
template<class L>
QSharedPointer<L> pageOf(const std::shared_ptr<Result> &result)
{
    if (!result) {
        qCDebug(lcJson) << "NULL";
        return {};
    }
    qCDebug(lcJson) << "NOT NULL";
    console("Result code: %d\n", result->getCode());
    qCDebug(lcJson).noquote() << QStringLiteral("Result code: %1").arg(result->getCode());
    return result->dataAs<L>();
}

} // namespace

bool JSON::GetTables()
{
    if (!ready("GetTables"))
        return false;
    BusyScope scope(busy);
    auto parser = std::make_shared<ParserTimetable>();
    const QString base = baseUrl() + QLatin1String("/taviservice/timetable?");
    timetableList.clear();
    int offset = 0;
    for (;;) {
        const QString url = base + ParserTimetable::buildQuery(offset, tablePageSize, {}, {});
        console("Seindin to %s\n", utf8(url).constData());
        QNetworkReply *reply = handler->sendGet(parser, url);
        if (!waitForReply(reply, timeLimits.tables)) {
            qCDebug(lcJson) << "Failed";
            return false;
        }
        const auto page = pageOf<TimetableList>(handler->takeResult(reply));
        if (!page)
            return false;
        console("Total timetables: %d\nOffset: %d\nLimit: %d\n", page->count, page->offset,
                page->limit);
        for (const TimetablePtr &t : page->items) {
            timetableList.append(t);
            console("ID: %s Subject: %s Abbreviation: %s Start: %d End: %d \n",
                    utf8(t->tableId).constData(), utf8(t->subject).constData(),
                    utf8(t->abbreviation).constData(), t->startTime, t->endTime);
        }
        if (page->count != tablePageSize)
            return true;
        if (page->items.isEmpty()) {
            // A full count with nothing in it would otherwise ask for pages forever.
            qCDebug(lcJson) << "empty page reports a full count; fetch ends";
            return true;
        }
        offset += tablePageSize;
    }
}

bool JSON::GetSchedule(const QString &tableId)
{
    if (!ready("GetSchedule"))
        return false;
    BusyScope scope(busy);
    auto parser = std::make_shared<ParserExamSchedule>();
    const QString base = baseUrl() + QLatin1String("/taviservice/examschedule?");
    truncateFile(QStringLiteral("Data.txt"));
    examScheduleList.clear();
    const QString traceFile = QStringLiteral("GetSchedule.txt");
    bool first = true;
    const Trace trace = [&traceFile, &first](const char *line) {
        traceLine(traceFile, line, first);
        first = false;
    };
    int offset = 0;
    for (;;) {
        const QString url
                = base + ParserExamSchedule::buildQuery(offset, schedulePageSize, tableId, {});
        console("Seindin to%s\n", utf8(url).constData());
        QNetworkReply *reply = handler->sendGet(parser, url);
        first = true;
        if (!waitForReply(reply, timeLimits.schedule, trace)) {
            qCDebug(lcJson) << "Failed";
            return false;
        }
        qCDebug(lcJson) << "Success";
        trace("After Test  Before getlastResult");
        std::shared_ptr<Result> result = handler->takeResult(reply);
        trace("After getlastResult");
        const auto page = pageOf<ExamScheduleList>(result);
        if (!page)
            return false;
        for (const ExamSchedulePtr &s : page->items) {
            examScheduleList.append(s);
            console("ID: %d TableId: %s PointId: %s Subject Name: %s Center Name: %s ",
                    s->examSchedId, utf8(s->tableId).constData(), utf8(s->pointId).constData(),
                    utf8(s->subjectName).constData(), utf8(s->centerName).constData());
        }
        if (page->count != schedulePageSize)
            return true;
        if (page->items.isEmpty()) {
            qCDebug(lcJson) << "empty page reports a full count; fetch ends";
            return true;
        }
        offset += schedulePageSize;
    }
}
