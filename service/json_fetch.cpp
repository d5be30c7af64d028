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
// A fetch ends as a failure past this, whatever the pages report: far more than a
// packing point has, little enough that a service that never ends cannot hang the
// workflow or fill the memory.
const qint64 maxBytesPerFetch = 4 * OssaRequestHandler::defaultMaxReplyBytes;

} // namespace

// One paginated fetch: what differs between the timetables and the exam schedules.
template<class L>
struct PageFetch
{
    using Record = typename L::Record;
    std::shared_ptr<ResultParser> parser;
    int pageSize = 0;
    int limitMs = 0;
    std::function<QString(int offset)> url;
    const char *sendingFormat = "";
    std::function<void(const L &page)> printPage;
    std::function<void(const Record &record)> printRecord;
    QList<QSharedPointer<Record>> *records = nullptr;
    std::function<void(const char *line)> trace;
};

template<class L>
bool JSON::fetchPages(const PageFetch<L> &fetch)
{
    qint64 bytes = 0;
    // A service that ignores the offset sends the same page again and again.
    QByteArray previousPage;
    for (int offset = 0;; offset += fetch.pageSize) {
        const QString url = fetch.url(offset);
        console(fetch.sendingFormat, printable(url).constData());
        QNetworkReply *reply = handler->sendGet(fetch.parser, url);
        if (!waitForReply(reply, fetch.limitMs, fetch.trace)) {
            qCDebug(lcJson) << "Failed";
            return false;
        }
        if (fetch.trace) {
            qCDebug(lcJson) << "Success";
            fetch.trace("After Test  Before getlastResult");
        }
        qint64 replyBytes = 0;
        QByteArray pageBody;
        const std::shared_ptr<Result> result = takeResult(reply, &replyBytes, &pageBody);
        if (fetch.trace)
            fetch.trace("After getlastResult");
        bytes += replyBytes;
        if (bytes > maxBytesPerFetch) {
            qCWarning(lcJson) << "pages hold more than" << maxBytesPerFetch
                              << "bytes; fetch stopped";
            return fail(ServiceFailure::BadReply);
        }
        if (!result) {
            qCDebug(lcJson) << "NULL";
            return false;
        }
        qCDebug(lcJson) << "NOT NULL";
        console("Result code: %d\n", result->getCode());
        qCDebug(lcJson).noquote() << QStringLiteral("Result code: %1").arg(result->getCode());
        const QSharedPointer<L> page = result->dataAs<L>();
        if (!page)
            return fail(ServiceFailure::Refused);
        if (fetch.printPage)
            fetch.printPage(*page);
        if (offset > 0 && pageBody == previousPage) {
            qCWarning(lcJson) << "page at offset" << offset
                              << "repeats the previous page; fetch stopped";
            return fail(ServiceFailure::BadReply);
        }
        previousPage = pageBody;
        for (const QSharedPointer<typename L::Record> &record : page->items) {
            fetch.records->append(record);
            fetch.printRecord(*record);
        }
        if (page->count != fetch.pageSize)
            return true;
        if (page->items.isEmpty()) {
            // A full count with nothing in it would otherwise ask for pages forever.
            qCDebug(lcJson) << "empty page reports a full count; fetch ends";
            return true;
        }
    }
}

bool JSON::GetTables()
{
    if (!ready("GetTables"))
        return false;
    BusyScope scope(busy);
    const QString base = baseUrl() + QLatin1String("/taviservice/timetable?");
    timetableList.clear();
    PageFetch<TimetableList> fetch;
    fetch.parser = std::make_shared<ParserTimetable>();
    fetch.pageSize = tablePageSize;
    fetch.limitMs = timeLimits.tables;
    fetch.url = [&base](int offset) {
        return base + ParserTimetable::buildQuery(offset, tablePageSize, {}, {});
    };
    fetch.sendingFormat = "Seindin to %s\n";
    fetch.printPage = [](const TimetableList &page) {
        console("Total timetables: %d\nOffset: %d\nLimit: %d\n", page.count, page.offset,
                page.limit);
    };
    fetch.printRecord = [](const Timetable &t) {
        console("ID: %s Subject: %s Abbreviation: %s Start: %d End: %d \n",
                printable(t.tableId).constData(), printable(t.subject).constData(),
                printable(t.abbreviation).constData(), t.startTime, t.endTime);
    };
    fetch.records = &timetableList;
    return fetchPages(fetch);
}

bool JSON::GetSchedule(const QString &tableId)
{
    if (!ready("GetSchedule"))
        return false;
    BusyScope scope(busy);
    const QString base = baseUrl() + QLatin1String("/taviservice/examschedule?");
    replaceFile(QStringLiteral("Data.txt"), QByteArray());
    examScheduleList.clear();
    // The trace holds the latest page's wait; it is rewritten whole at every line.
    QByteArray traceText;
    PageFetch<ExamScheduleList> fetch;
    fetch.parser = std::make_shared<ParserExamSchedule>();
    fetch.pageSize = schedulePageSize;
    fetch.limitMs = timeLimits.schedule;
    fetch.url = [&base, &tableId, &traceText](int offset) {
        traceText.clear();
        return base + ParserExamSchedule::buildQuery(offset, schedulePageSize, tableId, {});
    };
    fetch.sendingFormat = "Seindin to%s\n";
    fetch.printRecord = [](const ExamSchedule &s) {
        console("ID: %d TableId: %s PointId: %s Subject Name: %s Center Name: %s ", s.examSchedId,
                printable(s.tableId).constData(), printable(s.pointId).constData(),
                printable(s.subjectName).constData(), printable(s.centerName).constData());
    };
    fetch.records = &examScheduleList;
    fetch.trace = [&traceText](const char *line) {
        traceText += line;
        traceText += '\n';
        replaceFile(QStringLiteral("GetSchedule.txt"), traceText);
    };
    return fetchPages(fetch);
}
