// Test-only entry points: product code never calls these. They reach state the product sets
// up on its own, so that tests can drive the live code directly.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/Registry.h"
#include "platform/win/WinTypes.h"

namespace veskmath::win {

// How long CoCreateInstance waits for a started server's object, in ms, process-wide
// (default 10000; 0 is taken as 1). SetCallTimeout is in Automation.h.
void SetActivationTimeout(DWORD milliseconds);
DWORD GetActivationTimeout();
DWORD GetCallTimeout();

// Sets LockTimeoutMs() (Files.h), process-wide.
void SetLockTimeout(unsigned milliseconds);

// Switches the ANSI code page of the process (the environment variable VESKMATH_ACP is the
// product's way). Returns false, changing nothing, for an unusable name.
bool SetAnsiCodePage(std::string_view name);

// The open key's path in the ANSI code page, without the leading "\"; "" when none is open.
std::string RegistryCurrentPath(const TRegistry& registry);

}  // namespace veskmath::win
