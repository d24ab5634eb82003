// ibus-engine-veskmath: the program IBus starts (`--ibus`, from the component file) to serve
// the engine "veskmath". Started by hand without `--ibus`, it registers the component itself,
// so a running ibus-daemon offers the engine without an installed component file.
#include <ibus.h>
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "VeskMathEngine.h"
#include "hostui/MathSession.h"

namespace {

// The folder of this program.
std::filesystem::path ProgramFolder() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

// The first of the places that exists: installed, the plug-in program and the translations
// lie where the packages put them relative to the engine; in a build tree, beside it.
std::string FirstExisting(const std::vector<std::filesystem::path>& places) {
  for (const std::filesystem::path& place : places) {
    std::error_code error;
    if (std::filesystem::exists(place, error)) return place.lexically_normal().string();
  }
  return places.front().lexically_normal().string();
}

void RegisterComponent(IBusBus* bus) {
  IBusComponent* component =
      ibus_component_new("org.freedesktop.IBus.VeskMath", "VeskMath math mode", VESKMATH_VERSION,
                         "", "VeskMath developers", "", "", "veskmath");
  ibus_component_add_engine(
      component,
      ibus_engine_desc_new("veskmath", "VeskMath", "Converts mathematical expressions while typing",
                           "ja", "", "VeskMath developers", "", "default"));
  ibus_bus_register_component(bus, component);
  g_object_unref(component);
}

}  // namespace

int main(int argc, char** argv) {
  bool byIBus = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ibus") == 0 || std::strcmp(argv[i], "-i") == 0) {
      byIBus = true;
    } else {
      std::fprintf(stderr, "usage: %s [--ibus]\n", argv[0]);
      return 2;
    }
  }
  std::setlocale(LC_ALL, "");
  const std::filesystem::path folder = ProgramFolder();
  const std::string locale = FirstExisting(
      {folder / VESKMATH_LOCALEDIR_FROM_ENGINE, folder / VESKMATH_LOCALE_FROM_BUILT_ENGINE});
  ::bindtextdomain(veskmath::hostui::kTextDomain, locale.c_str());
  ::bind_textdomain_codeset(veskmath::hostui::kTextDomain, "UTF-8");

  ibus_init();
  IBusBus* bus = ibus_bus_new();
  if (!ibus_bus_is_connected(bus)) {
    std::fprintf(stderr, "ibus-engine-veskmath: cannot reach ibus-daemon\n");
    g_object_unref(bus);
    return 1;
  }
  g_signal_connect(bus, "disconnected", G_CALLBACK(+[](IBusBus*, gpointer) { ibus_quit(); }),
                   nullptr);
  veskmath::ibus::StartEngines(
      bus,
      FirstExisting({folder / VESKMATH_PROGRAM_FROM_ENGINE / "veskmath", folder / "veskmath"}));
  IBusFactory* factory = ibus_factory_new(ibus_bus_get_connection(bus));
  ibus_factory_add_engine(factory, "veskmath", veskmath::ibus::EngineType());
  if (byIBus) {
    ibus_bus_request_name(bus, "org.freedesktop.IBus.VeskMath", 0);
  } else {
    RegisterComponent(bus);
  }
  ibus_main();
  ibus_object_destroy(IBUS_OBJECT(factory));
  veskmath::ibus::StopEngines();
  g_object_unref(bus);
  return 0;
}
