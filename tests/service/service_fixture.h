#pragma once

#include "json.h"
#include "test_server.h"

#include <QTemporaryDir>
#include <memory>
#include <string>

// Reply bodies shaped like the service's.
inline CannedReply jsonReply(const std::string &body, int status = 200)
{
    CannedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

inline CannedReply loginReply(const std::string &userName, const std::string &token)
{
    CannedReply reply
            = jsonReply(R"({"rc":0,"result":{"userId":"U1","userName":")" + userName + R"("}})");
    if (!token.empty())
        reply.headers.emplace_back("MORV-Token", token);
    return reply;
}

inline CannedReply lockReply(const std::string &lockId, const std::string &commission = "")
{
    return jsonReply(
            R"({"rc":0,"result":{"lockId":")" + lockId
            + R"(","description":"d","longitude":1.5,"latitude":2.5,"state":"CLOSED","commissionState":")"
            + commission + R"("}})");
}

inline CannedReply sealReply()
{
    return jsonReply(
            R"({"rc":0,"result":{"tableId":"T1","pointId":"P1","apId":"L1","examSchedId":4}})");
}

inline ServiceTimeLimits quickLimits(int ms)
{
    ServiceTimeLimits limits;
    limits.login = limits.lock = limits.seal = limits.tables = limits.schedule = ms;
    return limits;
}

inline std::unique_ptr<JSON> clientFor(const TestServer &server, int limitMs = 3000)
{
    auto client = std::make_unique<JSON>(QStringLiteral("127.0.0.1"), server.portText());
    client->setTimeLimits(quickLimits(limitMs));
    return client;
}
