#pragma once

#include <httplib.h>

#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback HTTP server on an ephemeral port, run on its own thread, that records every
// request and answers through a test-supplied responder.
struct SeenRequest
{
    std::string method;
    std::string path;
    std::string target;
    std::string body;
    httplib::Headers headers;

    bool has(const char *name) const { return headers.find(name) != headers.end(); }
    std::string header(const char *name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    QString qtarget() const { return QString::fromStdString(target); }
};

struct CannedReply
{
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    int delayMs = 0;
    // When set, the body is followed by this block over and over, without end.
    std::string endlessBlock;
};

class TestServer
{
public:
    using Responder = std::function<CannedReply(const SeenRequest &)>;

    TestServer();
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    void setResponder(Responder responder);
    int port() const { return boundPort; }
    QString portText() const { return QString::number(boundPort); }
    std::vector<SeenRequest> requests() const;
    SeenRequest last() const;
    void clear();

private:
    void handle(const httplib::Request &req, httplib::Response &res);

    httplib::Server server;
    std::thread thread;
    int boundPort = -1;
    mutable std::mutex mutex;
    Responder responder;
    std::vector<SeenRequest> seen;
};
