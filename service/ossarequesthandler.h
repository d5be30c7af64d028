#pragma once

#include "result.h"
#include "result_parser.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <memory>
#include <unordered_map>

class QNetworkAccessManager;
class QNetworkReply;

// How one request ended, as far as the operation that waits for it is concerned.
enum class ReplyStatus {
    Ok, // a success status (2xx) and a body that is a JSON object
    NoConnection, // no complete HTTP answer: refused, reset, unknown host, cut short
    HttpError, // the service answered with a status outside 200..299
    NotJson, // a success status, but the body is not a JSON object
    TooLarge, // the body passed the size limit; the request was aborted
};

struct ReplyOutcome
{
    // Parsed reply; null unless the status is Ok and the request named a parser.
    std::shared_ptr<Result> result;
    ReplyStatus status = ReplyStatus::NoConnection;
    int httpStatus = 0; // 0 when no HTTP status line arrived
    qint64 bodyBytes = 0; // body bytes received, also those beyond the limit
    QByteArray body; // the body as received; empty when it was over the limit
};

// Sends the service's three kinds of request and parses each reply with the parser
// of its own request. Replies of requests that were abandoned are discarded. Bodies
// are read as they arrive and a request whose body grows past the limit is aborted.
class OssaRequestHandler : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 defaultMaxReplyBytes = 8 * 1024 * 1024;

    // Shares `manager`; creates its own child manager when it is null. Once a shared
    // manager is gone, the send functions return null.
    explicit OssaRequestHandler(QNetworkAccessManager *manager = nullptr,
                                QObject *parent = nullptr);
    ~OssaRequestHandler() override;

    // Largest reply body accepted; applies to requests sent afterwards.
    void setMaxReplyBytes(qint64 bytes) { maxReplyBytes = bytes; }
    qint64 maxReplyBodyBytes() const { return maxReplyBytes; }

    QNetworkReply *sendGet(std::shared_ptr<ResultParser> parser, const QString &url);
    QNetworkReply *sendPut(std::shared_ptr<ResultParser> parser, const QString &url,
                           const QString &body);
    QNetworkReply *sendLogin(std::shared_ptr<ResultParser> parser, const QString &url,
                             const QString &userName, const QString &password);

    // Result of the most recent processed reply that was Ok, else null.
    // Valid until the next reply of this handler is processed.
    Result *getLastResult();
    // True once `reply` has been processed (whatever its body was).
    bool isFinished(QNetworkReply *reply) const;
    // How one processed reply ended; forgets the reply.
    ReplyOutcome takeOutcome(QNetworkReply *reply);
    // The result alone (null unless the reply was Ok); forgets the reply.
    std::shared_ptr<Result> takeResult(QNetworkReply *reply);
    // Aborts a request nobody waits for any more; its reply is discarded.
    void abandon(QNetworkReply *reply);

    const QByteArray &getToken() const { return token; }
    static QByteArray loginBody(const QString &userName, const QString &password);
    // The user name as the login form carries it: as typed, with "&", "=", "+", "%"
    // and control characters percent-encoded (UTF-8).
    static QByteArray formName(const QString &userName);

signals:
    void resultFinish();
    // Emitted for every processed reply of this handler, whatever its outcome.
    void replyProcessed(QNetworkReply *reply);

public slots:
    void finishDownload(QNetworkReply *reply);

private:
    struct Pending
    {
        QPointer<QNetworkReply> reply;
        std::shared_ptr<ResultParser> parser;
        ReplyOutcome outcome;
        QByteArray body;
        qint64 limit = 0;
        bool done = false;
        bool tooLarge = false;
    };

    QNetworkReply *track(QNetworkReply *reply, std::shared_ptr<ResultParser> parser);
    // Moves what the reply holds into the entry's body; false once over the limit.
    bool collect(Pending &entry, QNetworkReply *reply);
    void readArrived(QNetworkReply *reply);
    void headersArrived(QNetworkReply *reply);
    void overLimit(Pending &entry, QNetworkReply *reply, qint64 size);
    void applyToken(QNetworkReply *reply, const QJsonObject &root);

    QByteArray token;
    // Guarded: a shared manager may go before the handler.
    QPointer<QNetworkAccessManager> manager;
    std::unordered_map<QNetworkReply *, Pending> pending;
    std::shared_ptr<Result> lastResult;
    qint64 maxReplyBytes = defaultMaxReplyBytes;
};
