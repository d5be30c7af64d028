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

// Sends the service's three kinds of request and parses each reply with the parser
// of its own request. Replies of requests that were abandoned are discarded.
class OssaRequestHandler : public QObject
{
    Q_OBJECT
public:
    // Shares `manager`; creates its own child manager when it is null. Once a shared
    // manager is gone, the send functions return null.
    explicit OssaRequestHandler(QNetworkAccessManager *manager = nullptr,
                                QObject *parent = nullptr);
    ~OssaRequestHandler() override;

    QNetworkReply *sendGet(std::shared_ptr<ResultParser> parser, const QString &url);
    QNetworkReply *sendPut(std::shared_ptr<ResultParser> parser, const QString &url,
                           const QString &body);
    QNetworkReply *sendLogin(std::shared_ptr<ResultParser> parser, const QString &url,
                             const QString &userName, const QString &password);

    // Result of the most recent processed reply that was a JSON object, else null.
    // Valid until the next reply of this handler is processed.
    Result *getLastResult();
    // True once `reply` has been processed (whatever its body was).
    bool isFinished(QNetworkReply *reply) const;
    // The result of one processed reply (null when its body was not a JSON object);
    // forgets the reply.
    std::shared_ptr<Result> takeResult(QNetworkReply *reply);
    // Aborts a request nobody waits for any more; its reply is discarded.
    void abandon(QNetworkReply *reply);

    const QByteArray &getToken() const { return token; }
    static QByteArray loginBody(const QString &userName, const QString &password);

signals:
    void resultFinish();
    // Emitted for every processed reply of this handler, JSON or not.
    void replyProcessed(QNetworkReply *reply);

public slots:
    void finishDownload(QNetworkReply *reply);

private:
    struct Pending
    {
        QPointer<QNetworkReply> reply;
        std::shared_ptr<ResultParser> parser;
        std::shared_ptr<Result> result;
        bool done = false;
    };

    QNetworkReply *track(QNetworkReply *reply, std::shared_ptr<ResultParser> parser);
    void applyToken(QNetworkReply *reply, const QJsonObject &root);

    QByteArray token;
    // Guarded: a shared manager may go before the handler.
    QPointer<QNetworkAccessManager> manager;
    std::unordered_map<QNetworkReply *, Pending> pending;
    std::shared_ptr<Result> lastResult;
};
