// boxwright-demo-service: the sample web service for trying the program
// without a real back end. Listens on 127.0.0.1 only.
#include "demo_api.h"
#include "demo_catalog.h"
#include "demo_server.h"
#include "seal_log.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("boxwright-demo-service");
    QCommandLineParser parser;
    parser.setApplicationDescription("Sample web service for the Boxwright demo (loopback only).");
    parser.addHelpOption();
    parser.addOption({"port", "TCP port on 127.0.0.1; 0 picks a free one.", "port", "0"});
    parser.addOption({"seal-log", "JSON-lines file that receives every recorded seal.", "file",
                      "demo-seals.jsonl"});
    parser.addOption({"quiet", "Do not print one line per request."});
    parser.process(app);

    bool ok = false;
    const int port = parser.value("port").toInt(&ok);
    if (!ok || port < 0 || port > 65535) {
        std::cerr << "Invalid --port: " << parser.value("port").toStdString() << "\n";
        return 2;
    }

    demo::DemoCatalog catalog;
    demo::SealLog sealLog(parser.value("seal-log"));
    demo::DemoApi api(catalog, &sealLog);
    demo::DemoServer server(api);
    std::mutex outMutex;
    if (!parser.isSet("quiet")) {
        server.setAccessLog([&outMutex](const std::string &line) {
            std::lock_guard<std::mutex> lock(outMutex);
            std::cout << line << std::endl;
        });
    }

    const int bound = server.start(port);
    if (bound < 0) {
        std::cerr << "Could not listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(outMutex);
        std::cout << "listening on 127.0.0.1:" << bound << "\n"
                  << "demo login: user \"" << demo::DemoCredentials::userName << "\" password \""
                  << demo::DemoCredentials::password << "\"\n"
                  << "seals recorded to " << sealLog.path().toStdString() << std::endl;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    return 0;
}
