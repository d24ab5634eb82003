// Fuzz target: the registry file reader. Arbitrary bytes either parse or raise the reader's
// own error; what parses formats to a text that parses again to the same text. The bytes are
// also written to a file that a RegistryFile reads and, for some inputs, changes.
//
// Input: byte 0 flags (bit 0: change the file through RegistryFile), a line "<key path>=<value
// name>" to look up (and change), then the file text.
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::fuzz {
namespace {

using win::HKEY;

// Reads and changes the file at path with the registry class, looking up path / name.
void UseFile(const std::string& file, std::string_view keyPath, std::string_view name,
             bool change) {
  win::RegistryFile registry(file);
  for (const HKEY root : {win::HKEY_CLASSES_ROOT, win::HKEY_LOCAL_MACHINE}) {
    LibraryCall("KeyExists", [&] { registry.KeyExists(root, keyPath); });
    LibraryCall("GetValue", [&] { registry.GetValue(root, keyPath, name); });
    LibraryCall("KeyNames", [&] { registry.KeyNames(root, ""); });
    LibraryCall("Values", [&] { registry.Values(root, keyPath); });
    LibraryCall("CanonicalPath", [&] { registry.CanonicalPath(root, keyPath); });
  }
  if (!change) return;
  const HKEY root = win::HKEY_LOCAL_MACHINE;
  bool set = false;
  LibraryCall("SetValue", [&] {
    registry.CreateKey(root, keyPath);
    set = registry.SetValue(root, keyPath, name, win::RegValue::String(std::string(name)));
  });
  if (set) {
    std::optional<win::RegValue> value;
    LibraryCall("GetValue", [&] { value = registry.GetValue(root, keyPath, name); });
    Require(value && value->text == name, "SetValue", "the value did not stick");
  }
  LibraryCall("DeleteValue", [&] { registry.DeleteValue(root, keyPath, name); });
  LibraryCall("DeleteKey", [&] { registry.DeleteKey(root, keyPath); });
}

}  // namespace
}  // namespace veskmath::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veskmath::fuzz;
  namespace win = veskmath::win;
  TInput in(data, size);
  const uint8_t flags = in.Byte();
  const std::string_view lookup = in.Line();
  const std::string_view text = in.Rest();

  std::string formatted;
  if (LibraryCall("ParseRegistryText", [&] {
        formatted = win::FormatRegistryText(win::ParseRegistryText(text, "fuzz.reg"));
      })) {
    std::string again;
    const bool parsed = LibraryCall("ParseRegistryText(FormatRegistryText)", [&] {
      again = win::FormatRegistryText(win::ParseRegistryText(formatted, "fuzz.reg"));
    });
    Require(parsed, "FormatRegistryText", "the formatted text does not parse:\n" + formatted);
    Require(again == formatted, "FormatRegistryText",
            "formatting is not stable:\n" + formatted + "---\n" + again);
  }

  const size_t equals = lookup.find('=');
  const std::string_view keyPath = lookup.substr(0, equals);
  const std::string_view name =
      equals == std::string_view::npos ? std::string_view() : lookup.substr(equals + 1);
  const std::string file = PrivateDirectory() + "/registry.reg";
  WriteFile(file, text);
  UseFile(file, keyPath, name, flags & 1);
  return 0;
}
