// Arbitrary bytes as a service reply body, through every parser. Any crash, sanitizer
// report or broken invariant is a finding.
#include "lock_parser.h"
#include "parser_exam_schedule.h"
#include "parser_json_login.h"
#include "parser_seal.h"
#include "parser_timetable.h"

#include <QJsonDocument>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

template<class L>
void checkList(const ResultParser &parser, const QJsonDocument &doc)
{
    const auto result = parser.parse(&doc);
    require(result != nullptr);
    const auto page = result->dataAs<L>();
    // Only an object under "result" gives a list; it then holds one record per element.
    const QJsonValue payload = doc.object().value(QLatin1String("result"));
    require(bool(page) == payload.isObject());
    if (page) {
        const int elements = payload.toObject().value(QLatin1String("list")).toArray().size();
        require(page->items.size() == elements);
        for (const auto &item : page->items)
            require(item != nullptr);
    }
}

template<class T>
void checkSingle(const ResultParser &parser, const QJsonDocument &doc)
{
    const auto result = parser.parse(&doc);
    require(result != nullptr);
    const QJsonValue payload = doc.object().value(QLatin1String("result"));
    require(bool(result->template dataAs<T>()) == payload.isObject());
    require(result->getData() == nullptr || payload.isObject());
}

// Qt 5.15's JSON reader itself leaks on some inputs with repeated keys; only what it
// allocates while reading the body is excused, never what the parsers allocate.
__attribute__((noinline)) QJsonDocument readReplyBody(const uint8_t *data, size_t size)
{
    return QJsonDocument::fromJson(
            QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
}

} // namespace

// Qt is built without frame pointers: unwind allocation stacks the slow way so that
// they reach readReplyBody.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:readReplyBody\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The parsers' trace lines are not what is under test.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument doc = readReplyBody(data, size);
    if (!doc.isObject())
        return 0; // the handler stops before any parser for anything else
    checkList<TimetableList>(ParserTimetable(), doc);
    checkList<ExamScheduleList>(ParserExamSchedule(), doc);
    checkSingle<Lock>(SingleLockParser(), doc);
    checkSingle<Seal>(ParserSeal(), doc);
    checkSingle<JSONLogin>(ParserJSONLogin(), doc);
    return 0;
}
