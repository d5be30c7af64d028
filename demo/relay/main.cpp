// boxwright-demo-relay: the relay server of the demo. It is meant to run in a
// network namespace of its own (see relay-netns.sh), because the program binds
// the relay port on every local address.
#include "echo_relay.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

std::atomic<bool> g_stop {false};

void onSignal(int)
{
    g_stop = true;
}

int usage()
{
    std::cerr << "usage: boxwright-demo-relay [--bind IPv4] [--port N] [--quiet]\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string bind = "127.0.0.1";
    int port = 0;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bind" && i + 1 < argc) {
            bind = argv[++i];
        } else if (arg == "--port" && i + 1 < argc) {
            char *end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end || v < 0 || v > 65535)
                return usage();
            port = static_cast<int>(v);
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            return usage();
        }
    }

    demo::EchoRelay relay;
    std::string error;
    if (!relay.open(bind, port, &error)) {
        std::cerr << "boxwright-demo-relay: " << error << "\n";
        return 1;
    }
    if (!quiet)
        relay.setLog([](const std::string &line) { std::cout << line << std::endl; });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::cout << "relay listening on " << bind << ":" << relay.port() << std::endl;
    relay.run(g_stop);
    std::cout << "relay answered " << relay.answered() << " datagrams" << std::endl;
    return 0;
}
