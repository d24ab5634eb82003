// The IBus engine "veskmath": a host of the conversion plug-in for the desktops that use
// IBus. Switching to it enters math mode; what each key then does is TMathSession's (shared
// with the Fcitx5 add-on); this layer maps IBus's keys to it, shows its preedit, auxiliary
// text and candidates, carries out its requests on the converter (asynchronous sd-bus calls
// on the engine's main loop) and, once a result is committed or Escape pressed, switches
// back to the engine that was active before, so that one desktop shortcut
// (`ibus engine veskmath`) is a way in and out for a user of another engine.
#pragma once

#include <ibus.h>

#include <string>

namespace veskmath::ibus {

// Sets up what all engines of the process share: the IBus connection (to follow which engine
// was active before and to switch back), the converter on the session bus and the plug-in
// program to register at first use. Call once, before the factory makes engines.
void StartEngines(IBusBus* bus, std::string veskmathProgram);
// Releases the conversion object and the bus connections.
void StopEngines();

GType EngineType();

}  // namespace veskmath::ibus
