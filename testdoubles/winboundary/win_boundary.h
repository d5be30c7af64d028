#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Control of the test-only SetupAPI and WinUSB entry points: which device
// interfaces are present, and what the program did wrong at the boundary.
namespace winboundary {

// Adds a present device interface of the class guid whose device path is path
// (a named pipe); returns its id.
int addInterface(const GUID &guid, const std::wstring &path);
void removeInterface(int id);

// Misuse of the calls seen so far (for example an interface freed with a read
// in flight), one line each; cleared by the call.
std::vector<std::string> takeViolations();
void addViolation(const std::string &what);
// Cancels every read still in flight, so a run whose program failed to end
// its own reads can finish and report instead of hanging.
void cancelPendingReads();

// First byte of every message the key side writes to its pipe.
enum Marker : char {
    Descriptor = 'D', // the configuration descriptor follows
    Packet = 'P', // one IN transfer's bytes follow
    StallIn = 'S', // the bulk IN pipe halts
    StallOut = 'O', // the bulk OUT pipe halts
};

} // namespace winboundary
