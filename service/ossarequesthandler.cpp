#include "ossarequesthandler.h"

#include "console.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

Q_LOGGING_CATEGORY(lcHandler, "ossarequesthandler")

namespace {

const QByteArray tokenHeader = QByteArrayLiteral("MORV-Token");
// Unread reply bytes Qt holds at most before it pauses reading from the connection.
constexpr qint64 readChunkBytes = 64 * 1024;
// Reply bodies are traced up to this many bytes.
constexpr int traceBodyBytes = 4096;

QNetworkRequest jsonRequest(const QString &url, const QByteArray &token)
{
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    if (!token.isNull())
        request.setRawHeader(tokenHeader, token);
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("Content-Type", "application/json");
    // Uncompressed replies only: Qt inflates a compressed body whole before the size
    // limit could see it.
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

} // namespace

OssaRequestHandler::OssaRequestHandler(QNetworkAccessManager *shared, QObject *parent)
    : QObject(parent)
    , manager(shared ? shared : new QNetworkAccessManager(this))
{
    connect(manager.data(), &QNetworkAccessManager::finished, this,
            &OssaRequestHandler::finishDownload);
}

OssaRequestHandler::~OssaRequestHandler()
{
    if (manager)
        disconnect(manager, nullptr, this, nullptr);
    for (auto &entry : pending) {
        QNetworkReply *reply = entry.second.reply.data();
        if (reply && !entry.second.done) {
            reply->abort();
            reply->deleteLater();
        }
    }
}

QNetworkReply *OssaRequestHandler::sendGet(std::shared_ptr<ResultParser> parser, const QString &url)
{
    if (!manager)
        return nullptr;
    return track(manager->get(jsonRequest(url, token)), std::move(parser));
}

QNetworkReply *OssaRequestHandler::sendPut(std::shared_ptr<ResultParser> parser, const QString &url,
                                           const QString &body)
{
    if (!manager)
        return nullptr;
    const QByteArray bytes = body.toUtf8();
    QNetworkRequest request = jsonRequest(url, token);
    request.setRawHeader("Content-Length", QByteArray::number(bytes.size()));
    request.setRawHeader("X-HTTP-Method-Override", "PUT");
    return track(manager->post(request, bytes), std::move(parser));
}

QByteArray OssaRequestHandler::formName(const QString &userName)
{
    // As typed, except what would change the form's meaning or break its line.
    QByteArray out;
    for (int i = 0; i < userName.size(); ++i) {
        const QChar c = userName.at(i);
        // A surrogate pair is one character, and never a special one.
        const int length = c.isHighSurrogate() && i + 1 < userName.size()
                        && userName.at(i + 1).isLowSurrogate()
                ? 2
                : 1;
        const QByteArray bytes = userName.mid(i, length).toUtf8();
        i += length - 1;
        const bool special = c.category() == QChar::Other_Control || c == QLatin1Char('&')
                || c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('%');
        out += special ? bytes.toPercentEncoding() : bytes;
    }
    return out;
}

QByteArray OssaRequestHandler::loginBody(const QString &userName, const QString &password)
{
    const QByteArray digest = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5)
                                      .toHex()
                                      .toUpper();
    return QByteArrayLiteral("username=") + formName(userName) + QByteArrayLiteral("&password=")
            + digest;
}

QNetworkReply *OssaRequestHandler::sendLogin(std::shared_ptr<ResultParser> parser,
                                             const QString &url, const QString &userName,
                                             const QString &password)
{
    if (!manager)
        return nullptr;
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setRawHeader("Accept-Encoding", "identity");
    // The digest is as good as the password to anyone who reads it: never traced.
    console("MORV-Token: username=%s&password=<hidden>\n",
            printable(QString::fromUtf8(formName(userName))).constData());
    return track(manager->post(request, loginBody(userName, password)), std::move(parser));
}

QNetworkReply *OssaRequestHandler::track(QNetworkReply *reply, std::shared_ptr<ResultParser> parser)
{
    if (!reply)
        return nullptr;
    Pending entry;
    entry.reply = reply;
    entry.parser = std::move(parser);
    entry.limit = maxReplyBytes;
    pending[reply] = std::move(entry);
    // Qt stops reading from the connection while this much is unread, so memory stays
    // bounded however fast the service sends.
    reply->setReadBufferSize(readChunkBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { headersArrived(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readArrived(reply); });
    return reply;
}

bool OssaRequestHandler::collect(Pending &entry, QNetworkReply *reply)
{
    if (entry.tooLarge)
        return false;
    const QByteArray chunk = reply->readAll();
    entry.outcome.bodyBytes += chunk.size();
    if (entry.outcome.bodyBytes > entry.limit) {
        entry.tooLarge = true;
        entry.body = QByteArray();
        return false;
    }
    entry.body += chunk;
    return true;
}

void OssaRequestHandler::headersArrived(QNetworkReply *reply)
{
    const auto it = pending.find(reply);
    if (it == pending.end() || it->second.done)
        return;
    bool known = false;
    const qint64 declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && declared > it->second.limit) {
        it->second.tooLarge = true;
        overLimit(it->second, reply, declared);
    }
}

void OssaRequestHandler::readArrived(QNetworkReply *reply)
{
    const auto it = pending.find(reply);
    if (it == pending.end() || it->second.done || it->second.tooLarge)
        return;
    if (!collect(it->second, reply))
        overLimit(it->second, reply, it->second.outcome.bodyBytes);
}

void OssaRequestHandler::overLimit(Pending &entry, QNetworkReply *reply, qint64 size)
{
    qCWarning(lcHandler).nospace() << "reply of " << size << " bytes or more is over the limit of "
                                   << entry.limit << " bytes; request aborted";
    // Finishes the reply at once: finishDownload reports it as too large.
    reply->abort();
}

Result *OssaRequestHandler::getLastResult()
{
    qCDebug(lcHandler) << "get last result...";
    return lastResult.get();
}

bool OssaRequestHandler::isFinished(QNetworkReply *reply) const
{
    const auto it = pending.find(reply);
    return it != pending.end() && it->second.done;
}

ReplyOutcome OssaRequestHandler::takeOutcome(QNetworkReply *reply)
{
    qCDebug(lcHandler) << "get last result...";
    const auto it = pending.find(reply);
    if (it == pending.end())
        return {};
    ReplyOutcome outcome = std::move(it->second.outcome);
    pending.erase(it);
    return outcome;
}

std::shared_ptr<Result> OssaRequestHandler::takeResult(QNetworkReply *reply)
{
    return takeOutcome(reply).result;
}

void OssaRequestHandler::abandon(QNetworkReply *reply)
{
    const auto it = pending.find(reply);
    if (it == pending.end())
        return;
    QPointer<QNetworkReply> alive = it->second.reply;
    const bool done = it->second.done;
    pending.erase(it);
    if (alive && !done) {
        qCDebug(lcHandler) << "aborting request" << alive->url().toString();
        // abort() finishes the reply at once; finishDownload no longer knows it and drops it.
        alive->abort();
    }
    if (alive)
        alive->deleteLater();
}

void OssaRequestHandler::finishDownload(QNetworkReply *reply)
{
    const auto it = pending.find(reply);
    if (it == pending.end()) {
        // A reply of another handler or of an abandoned request: it must not decide anything.
        reply->deleteLater();
        return;
    }
    Pending &entry = it->second;
    ReplyOutcome &outcome = entry.outcome;
    entry.done = true;
    reply->deleteLater();
    collect(entry, reply);
    const QByteArray body = std::move(entry.body);
    outcome.body = body;
    outcome.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    console("Finished download....%lld\n", outcome.bodyBytes);
    if (entry.tooLarge) {
        outcome.status = ReplyStatus::TooLarge;
        console("DATA = (dropped: over %lld bytes)\n", entry.limit);
        emit replyProcessed(reply);
        return;
    }
    console("DATA = %s\n", printable(body, traceBodyBytes).constData());
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const char *isObject = doc.isObject() ? "yes" : "no";
    console("Object? %s: \n", isObject);
    console("%s\n", isObject);

    const bool success = outcome.httpStatus >= 200 && outcome.httpStatus < 300;
    if (!success || reply->error() != QNetworkReply::NoError) {
        // Whatever the body says, a refusal or a broken transfer is no result and no login.
        outcome.status = success || outcome.httpStatus == 0 ? ReplyStatus::NoConnection
                                                            : ReplyStatus::HttpError;
        qCDebug(lcHandler) << "HTTP status" << outcome.httpStatus << reply->errorString();
        lastResult.reset();
        emit replyProcessed(reply);
        return;
    }
    if (!doc.isObject()) {
        outcome.status = ReplyStatus::NotJson;
        lastResult.reset();
        emit replyProcessed(reply);
        return;
    }
    outcome.status = ReplyStatus::Ok;
    if (entry.parser) {
        outcome.result = std::shared_ptr<Result>(entry.parser->parse(&doc));
        lastResult = outcome.result;
        console("Set last result\n");
    }
    applyToken(reply, doc.object());
    emit resultFinish();
    emit replyProcessed(reply);
}

void OssaRequestHandler::applyToken(QNetworkReply *reply, const QJsonObject &root)
{
    const QString userName = root.value(QLatin1String("result"))
                                     .toObject()
                                     .value(QLatin1String("userName"))
                                     .toString();
    if (userName.isEmpty())
        return;
    console("VALID USER DETAILS\n");
    token = reply->hasRawHeader(tokenHeader) ? reply->rawHeader(tokenHeader) : QByteArray();
}
