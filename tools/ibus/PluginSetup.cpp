#include "PluginSetup.h"

#include "host/Setup.h"

namespace veskmath::ibus {

TSetupOutcome SetUpPlugin(const std::string& veskmath) {
  host::TSetupResult result = host::EnsurePluginInstalled(veskmath);
  return {result.Changed, std::move(result.Failure)};
}

}  // namespace veskmath::ibus
