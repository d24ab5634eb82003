// What the server and client halves of the automation runtime share: the apartment state,
// this process's class registrations, socket checks and framed I/O with deadlines.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/win/Automation.h"
#include "platform/win/AutomationWire.h"

namespace veskmath::win::automation {

using Clock = std::chrono::steady_clock;

// Whether the calling thread is in an apartment (CoInitializeEx).
bool ApartmentInitialized();

// The class object this process registered for `clsid`, or null.
ComPtr<IClassFactory> FindLocalClassObject(REFCLSID clsid);

// What stands at a socket path: nothing (or a socket nobody listens on), a socket of this
// user, or something refused (a link, another file type, another user's socket).
enum class PathState { Absent, Socket, Refused };
PathState InspectSocketPath(const std::string& path);

// Whether the process at the other end of a connected socket runs as this user.
bool PeerIsSameUser(int fd);

// Writes all bytes to a non-blocking socket before the deadline. False on a closed peer, an
// error or the deadline.
bool SendAll(int fd, std::span<const std::uint8_t> bytes, Clock::time_point deadline);

// Milliseconds left until the deadline, at least 0, for poll().
int MillisecondsLeft(Clock::time_point deadline);

}  // namespace veskmath::win::automation
