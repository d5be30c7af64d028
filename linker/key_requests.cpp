#include "decimal_text.h"
#include "kmsg.h"
#include "linker.h"
#include "linker_log.h"
#include "server_link.h"

#include <cstring>
#include <memory>

// Requests from the key: values it asks for (answered together at
// TAG_QUERY_END) and the opening and closing of the relay link.
void cLinker::handleRequset(KMsg *msg)
{
    if (!msg || msg->type() != MSG_REQUEST)
        return;

    auto reply = std::make_unique<KMsg>(MSG_SET);
    msg->first(); // the first next() returns the first tag
    while (const KTag *tag = msg->next()) {
        switch (tag->id()) {
        case TAG_QUERY:
            reply->add<KTagUInt32>(TAG_QUERY, 0xFFFFFFFFu);
            break;
        case TAG_QUERY_END:
            reply->add<KTagUInt32>(TAG_QUERY_END, 0xFFFFFFFFu);
            sendMessage(*reply);
            // Tags after this one start a reply of their own.
            reply = std::make_unique<KMsg>(MSG_SET);
            break;
        case TAG_TIME:
            reply->add<KTagUInt32>(TAG_TIME, static_cast<uint32_t>(clock()));
            break;
        case TAG_CONNECT:
            qCDebug(lcLinker) << "Key request UDP connection";
            if (connectServer(true)) {
                KMsg ack(MSG_SET);
                ack.add<KTagBytes>(TAG_CONNECT, nullptr, 0);
                emit setBtnEnabled(false);
                sendMessage(ack);
            } else {
                qCDebug(lcLinker) << "relay link not opened; request not acknowledged";
            }
            break;
        case TAG_DISCONNECT:
            qCDebug(lcLinker) << "Key request UDP disconnection";
            if (connectServer(false)) {
                KMsg ack(MSG_SET);
                ack.add<KTagBytes>(TAG_DISCONNECT, nullptr, 0);
                emit updateStatus(QStringLiteral("READY"));
                emit updateStatusColor(QStringLiteral("green"));
                emit setBtnEnabled(true);
                emit updatePbar(-1);
                sendMessage(ack);
            } else {
                qCDebug(lcLinker) << "key details missing; disconnection not acknowledged";
            }
            break;
        default:
            break;
        }
    }
}

bool cLinker::connectServer(bool open)
{
    if (keyNotReady == 1)
        return false;
    if (!open)
        return serverLink->close();
    const long long port
            = leadingNumber(serverPort, serverPort + strnlen(serverPort, sizeof serverPort));
    // Out-of-range numbers stay out of range, so the link refuses them.
    return serverLink->open(server, static_cast<int>(qBound(-1LL, port, 65536LL)));
}
