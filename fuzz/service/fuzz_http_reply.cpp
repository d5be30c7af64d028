// A service reply of any status, headers and body, delivered in pieces by a fake
// reply, through the request handler: whatever arrives, only a success status with a
// JSON object gives a result or a token, a body over the limit gives neither, and
// every reply is reported processed exactly once.
#include "fuzz_support.h"
#include "lock_parser.h"
#include "ossarequesthandler.h"
#include "parser_exam_schedule.h"
#include "parser_json_login.h"
#include "parser_seal.h"
#include "parser_timetable.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct Script
{
    int status = 0; // 0: no HTTP answer at all
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int piece = 1;
};

// Plays a scripted reply: headers, then the body in pieces, then the end; or an
// error without any HTTP answer.
class FakeReply : public QNetworkReply
{
public:
    FakeReply(QNetworkAccessManager::Operation op, const QNetworkRequest &request,
              const Script &script, QObject *parent)
        : QNetworkReply(parent)
        , script(script)
    {
        setRequest(request);
        setOperation(op);
        setUrl(request.url());
        open(QIODevice::ReadOnly);
        QMetaObject::invokeMethod(
                this, [this] { play(); }, Qt::QueuedConnection);
    }

    void abort() override { end(OperationCanceledError); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return QNetworkReply::bytesAvailable() + (buffer.size() - readPos);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(buffer.size() - readPos));
        std::memcpy(data, buffer.constData() + readPos, size_t(n));
        readPos += int(n);
        return n;
    }

private:
    void play()
    {
        if (isFinished())
            return;
        if (script.status == 0) {
            end(ConnectionRefusedError);
            return;
        }
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, script.status);
        for (const auto &header : script.headers)
            setRawHeader(header.first, header.second);
        emit metaDataChanged();
        for (int pos = 0; pos < script.body.size() && !isFinished(); pos += script.piece) {
            buffer += script.body.mid(pos, script.piece);
            emit readyRead();
        }
        end(script.status >= 200 && script.status < 300 ? NoError : ProtocolInvalidOperationError);
    }

    void end(NetworkError error)
    {
        if (isFinished())
            return;
        if (error != NoError)
            setError(error, QStringLiteral("scripted"));
        setFinished(true);
        emit finished();
    }

    Script script;
    QByteArray buffer;
    int readPos = 0;
};

class FakeManager : public QNetworkAccessManager
{
public:
    Script next;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *) override
    {
        return new FakeReply(op, request, next, this);
    }
};

std::shared_ptr<ResultParser> parserNumber(int n)
{
    switch (n % 5) {
    case 0:
        return std::make_shared<ParserJSONLogin>();
    case 1:
        return std::make_shared<SingleLockParser>();
    case 2:
        return std::make_shared<ParserSeal>();
    case 3:
        return std::make_shared<ParserTimetable>();
    default:
        return std::make_shared<ParserExamSchedule>();
    }
}

constexpr qint64 limit = 1024;

} // namespace

// Qt is built without frame pointers: unwind allocation stacks the slow way so that
// they reach QJsonDocument::fromJson.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

// Qt 5.15's JSON reader leaks on some inputs with repeated keys; only what it
// allocates while reading a body is excused.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QJsonDocument::fromJson\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQuietApplication();
    // The handler's trace lines are not what is under test.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

// Input: request kind and parser, status (two bytes), piece size, then header lines
// "Name: value" up to an empty line, then the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    FakeManager manager;
    Script &script = manager.next;
    script.status = ((data[1] << 8) | data[2]) % 600;
    script.piece = 1 + data[3] * 4;
    const QByteArray text(reinterpret_cast<const char *>(data + 4), int(size - 4));
    int pos = 0;
    while (pos < text.size()) {
        const int eol = text.indexOf('\n', pos);
        const QByteArray line = text.mid(pos, eol < 0 ? -1 : eol - pos);
        pos = eol < 0 ? text.size() : eol + 1;
        if (line.isEmpty())
            break;
        const int colon = line.indexOf(':');
        if (colon > 0)
            script.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    script.body = text.mid(pos);

    OssaRequestHandler handler(&manager);
    handler.setMaxReplyBytes(limit);
    int processed = 0;
    int results = 0;
    QObject::connect(&handler, &OssaRequestHandler::replyProcessed, [&] { ++processed; });
    QObject::connect(&handler, &OssaRequestHandler::resultFinish, [&] { ++results; });
    const QString url = QStringLiteral("http://127.0.0.1:1/taviservice/x");
    const std::shared_ptr<ResultParser> parser = parserNumber(data[0] >> 2);
    QNetworkReply *reply = nullptr;
    switch (data[0] % 3) {
    case 0:
        reply = handler.sendLogin(parser, url, QStringLiteral("u"), QStringLiteral("p"));
        break;
    case 1:
        reply = handler.sendGet(parser, url);
        break;
    default:
        reply = handler.sendPut(parser, url, QStringLiteral("{}"));
        break;
    }
    while (!handler.isFinished(reply))
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    const ReplyOutcome outcome = handler.takeOutcome(reply);
    const bool success = script.status >= 200 && script.status < 300;
    const QJsonDocument doc = QJsonDocument::fromJson(script.body);
    require(processed == 1);
    require(outcome.httpStatus == script.status);
    // Too large: what arrived, or what the headers announced.
    qint64 declared = -1;
    for (const auto &h : script.headers) {
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            declared = h.second.trimmed().toLongLong(&ok);
            declared = ok ? declared : -1;
        }
    }
    const bool tooLarge = script.status != 0 && (script.body.size() > limit || declared > limit);
    require((outcome.status == ReplyStatus::TooLarge) == tooLarge);
    require((outcome.status == ReplyStatus::Ok) == (success && doc.isObject() && !tooLarge));
    require(results == (outcome.status == ReplyStatus::Ok ? 1 : 0));
    require(bool(outcome.result) == (outcome.status == ReplyStatus::Ok));
    // A token only from an accepted reply that names a user, and then the header's.
    const bool namesUser = !doc.object()
                                    .value(QLatin1String("result"))
                                    .toObject()
                                    .value(QLatin1String("userName"))
                                    .toString()
                                    .isEmpty();
    if (outcome.status != ReplyStatus::Ok || !namesUser) {
        require(handler.getToken().isNull());
    } else {
        QByteArray header;
        for (const auto &h : script.headers) {
            if (h.first.compare("MORV-Token", Qt::CaseInsensitive) == 0)
                header = h.second;
        }
        require(handler.getToken() == header);
    }
    return 0;
}
