#include "termination_signals.h"

// Windows sends no such signals to a windowed program: the end of the session
// reaches it as window messages, which are handled with the windows. Nothing
// is installed here.
struct TerminationSignals::Platform
{
};

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
}

TerminationSignals::~TerminationSignals() = default;

bool TerminationSignals::active() const
{
    return false;
}
