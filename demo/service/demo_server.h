#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace demo {

class DemoApi;

// Carries DemoApi over HTTP on 127.0.0.1 only, on a thread of its own.
class DemoServer
{
public:
    explicit DemoServer(DemoApi &api);
    ~DemoServer();
    DemoServer(const DemoServer &) = delete;
    DemoServer &operator=(const DemoServer &) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and starts serving.
    // Returns the bound port, or -1 when the port could not be bound.
    int start(int port);
    void stop();
    int port() const { return m_port; }

    // Called once per answered request with "METHOD path -> status".
    void setAccessLog(std::function<void(const std::string &)> log);

private:
    void installRoutes();

    DemoApi &m_api;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = -1;
    std::atomic<bool> m_listenEnded {false};
};

} // namespace demo
