#include "test_server.h"

#include <chrono>

TestServer::TestServer()
{
    const auto handler
            = [this](const httplib::Request &req, httplib::Response &res) { handle(req, res); };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    boundPort = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    // A stop() before the accept loop runs is lost, and the loop would then never end.
    for (int i = 0; i < 500 && !server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TestServer::~TestServer()
{
    server.stop();
    thread.join();
}

void TestServer::setResponder(Responder r)
{
    std::lock_guard<std::mutex> lock(mutex);
    responder = std::move(r);
}

std::vector<SeenRequest> TestServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
}

SeenRequest TestServer::last() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return seen.empty() ? SeenRequest() : seen.back();
}

void TestServer::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    seen.clear();
}

void TestServer::handle(const httplib::Request &req, httplib::Response &res)
{
    SeenRequest request;
    request.method = req.method;
    request.path = req.path;
    request.target = req.target;
    request.body = req.body;
    request.headers = req.headers;
    Responder current;
    {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(request);
        current = responder;
    }
    CannedReply reply;
    if (current)
        reply = current(request);
    if (reply.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    res.status = reply.status;
    for (const auto &header : reply.headers)
        res.set_header(header.first.c_str(), header.second);
    if (reply.endlessBlock.empty()) {
        res.set_content(reply.body, reply.contentType.c_str());
        return;
    }
    // Sent until the client goes away.
    res.set_chunked_content_provider(
            reply.contentType, [reply, first = true](size_t, httplib::DataSink &sink) mutable {
                const std::string &next = first ? reply.body : reply.endlessBlock;
                first = false;
                return next.empty() || sink.write(next.data(), next.size());
            });
}
