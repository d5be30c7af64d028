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

QNetworkRequest jsonRequest(const QString &url, const QByteArray &token)
{
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    if (!token.isNull())
        request.setRawHeader(tokenHeader, token);
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("Content-Type", "application/json");
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

QByteArray OssaRequestHandler::loginBody(const QString &userName, const QString &password)
{
    // The name is form-encoded so that "&" or "=" cannot add form fields.
    const QByteArray digest = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5)
                                      .toHex()
                                      .toUpper();
    return QByteArrayLiteral("username=") + QUrl::toPercentEncoding(userName)
            + QByteArrayLiteral("&password=") + digest;
}

QNetworkReply *OssaRequestHandler::sendLogin(std::shared_ptr<ResultParser> parser,
                                             const QString &url, const QString &userName,
                                             const QString &password)
{
    if (!manager)
        return nullptr;
    const QByteArray body = loginBody(userName, password);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    console("MORV-Token: %s\n", body.constData());
    return track(manager->post(request, body), std::move(parser));
}

QNetworkReply *OssaRequestHandler::track(QNetworkReply *reply, std::shared_ptr<ResultParser> parser)
{
    Pending entry;
    entry.reply = reply;
    entry.parser = std::move(parser);
    pending[reply] = std::move(entry);
    return reply;
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

std::shared_ptr<Result> OssaRequestHandler::takeResult(QNetworkReply *reply)
{
    qCDebug(lcHandler) << "get last result...";
    const auto it = pending.find(reply);
    if (it == pending.end())
        return nullptr;
    std::shared_ptr<Result> result = std::move(it->second.result);
    pending.erase(it);
    return result;
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
    console("Finished download....%d\n", int(reply->bytesAvailable()));
    const QByteArray body = reply->readAll();
    console("DATA = %s\n", body.constData());
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    const char *isObject = doc.isObject() ? "yes" : "no";
    console("Object? %s: \n", isObject);
    console("%s\n", isObject);
    entry.done = true;
    reply->deleteLater();

    if (!doc.isObject()) {
        lastResult.reset();
        entry.result.reset();
        emit replyProcessed(reply);
        return;
    }
    if (entry.parser) {
        entry.result = std::shared_ptr<Result>(entry.parser->parse(&doc));
        lastResult = entry.result;
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
