#include "demo_server.h"

#include "demo_api.h"

#include <httplib.h>

#include <chrono>

namespace demo {

namespace {

constexpr const char *jsonType = "application/json";

void send(httplib::Response &res, const ApiReply &reply)
{
    res.status = reply.status;
    for (const auto &h : reply.headers)
        res.set_header(h.first.c_str(), h.second);
    res.set_content(reply.body, jsonType);
}

std::string token(const httplib::Request &req)
{
    return req.get_header_value(DemoApi::tokenHeader);
}

// The client sends its updates as POST with a PUT override; plain PUT is
// accepted as well.
bool isPut(const httplib::Request &req)
{
    return req.method == "PUT" || req.get_header_value("X-HTTP-Method-Override") == "PUT";
}

} // namespace

DemoServer::DemoServer(DemoApi &api)
    : m_api(api)
    , m_server(std::make_unique<httplib::Server>())
{
    installRoutes();
}

DemoServer::~DemoServer()
{
    stop();
}

void DemoServer::installRoutes()
{
    httplib::Server &s = *m_server;
    s.set_payload_max_length(64 * 1024);
    // The library default sets SO_REUSEPORT, which would let a second service
    // start on a busy port and take half of the connections.
    s.set_socket_options([](socket_t sock) {
#ifdef _WIN32
        // Windows refuses a busy port by default; its SO_REUSEADDR would take the port over.
        (void)sock;
#else
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
#endif
    });

    s.Post("/taviservice/login", [this](const httplib::Request &req, httplib::Response &res) {
        send(res, m_api.login(req.body));
    });
    s.Get("/taviservice/timetable", [this](const httplib::Request &req, httplib::Response &res) {
        send(res, m_api.timetables(token(req), req.params));
    });
    s.Get("/taviservice/examschedule", [this](const httplib::Request &req, httplib::Response &res) {
        send(res, m_api.examSchedules(token(req), req.params));
    });
    s.Get(R"(/taviservice/lock/find/by/rf/([^/]*))",
          [this](const httplib::Request &req, httplib::Response &res) {
              send(res, m_api.findLock(token(req), req.matches[1]));
          });

    auto validate = [this](const std::string &t, const std::string &b) {
        return m_api.validateLock(t, b);
    };
    auto seal = [this](const std::string &t, const std::string &b) { return m_api.packSeal(t, b); };
    for (const char *path : {"/taviservice/lock/validate", "/taviservice/timetable/seal"}) {
        const bool isSeal = std::string(path).find("seal") != std::string::npos;
        auto handler = [isSeal, validate, seal](const httplib::Request &req,
                                                httplib::Response &res) {
            if (!isPut(req)) {
                send(res, DemoApi::envelope(405, DemoApi::BadRequest, "Use PUT"));
                return;
            }
            send(res, isSeal ? seal(token(req), req.body) : validate(token(req), req.body));
        };
        s.Post(path, handler);
        s.Put(path, handler);
    }

    s.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            res.set_content(
                    DemoApi::envelope(res.status, DemoApi::NotFound, "No such operation").body,
                    jsonType);
    });
}

void DemoServer::setAccessLog(std::function<void(const std::string &)> log)
{
    m_server->set_logger([log](const httplib::Request &req, const httplib::Response &res) {
        log(req.method + " " + req.path + " -> " + std::to_string(res.status));
    });
}

int DemoServer::start(int port)
{
    if (m_thread.joinable())
        return m_port;
    const char *host = "127.0.0.1";
    if (port == 0)
        m_port = m_server->bind_to_any_port(host);
    else
        m_port = m_server->bind_to_port(host, port) ? port : -1;
    if (m_port < 0)
        return -1;
    m_listenEnded = false;
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_listenEnded = true;
    });
    // A stop() issued before the loop runs would be lost and leave join() waiting.
    for (int i = 0; i < 1000 && !m_server->is_running() && !m_listenEnded; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m_port;
}

void DemoServer::stop()
{
    if (!m_thread.joinable())
        return;
    m_server->stop();
    m_thread.join();
}

} // namespace demo
