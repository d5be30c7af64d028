#include "netns_pair.h"

// Where there are no network namespaces: the pair reports why, and the tests
// that need it skip.

NetnsPair::NetnsPair() = default;

NetnsPair::~NetnsPair() = default;

QString NetnsPair::unavailableReason()
{
    return QStringLiteral("network namespaces are Linux only");
}

bool NetnsPair::setUp(QString *error)
{
    if (error)
        *error = unavailableReason();
    return false;
}

void NetnsPair::tearDown() { }

int NetnsPair::udpSocketInside(uint16_t) const
{
    return -1;
}

UdpEcho::UdpEcho(int fd)
    : sock(fd)
{
}

UdpEcho::~UdpEcho() = default;

void UdpEcho::stop() { }

void UdpEcho::run() { }
