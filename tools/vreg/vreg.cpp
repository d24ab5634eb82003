// vreg: reads and changes the registry file (the one TRegistry uses) from the command line,
// in the manner of the usual registry console tool. Texts are UTF-8 in and out.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/rtl/SysUtils.h"
#include "platform/win/RegistryFile.h"

using veskmath::win::HKEY;
using veskmath::win::RegistryFile;
using veskmath::win::RegValue;

namespace {

enum ExitCode { kOk = 0, kNotFound = 1, kUsage = 2, kFileError = 3 };

constexpr const char* kUsageText =
    "Usage:\n"
    "  vreg query  KEY [/v NAME | /ve]\n"
    "  vreg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "  vreg delete KEY [/v NAME | /ve] [/f]\n"
    "  vreg --help | --version\n"
    "\n"
    "KEY begins with HKCR\\ or HKLM\\ (or HKEY_CLASSES_ROOT\\, HKEY_LOCAL_MACHINE\\); key\n"
    "and value names are compared without regard to case. /ve names the default value.\n"
    "Switches may begin with / or - and are case-insensitive.\n"
    "\n"
    "query   prints the key, its values (NAME  TYPE  DATA) and its subkeys, or one value.\n"
    "add     creates the key with its missing parents and, with /v, /ve, /t or /d, sets a\n"
    "        value (REG_SZ by default; without /v, the default value). REG_DWORD data is\n"
    "        decimal or 0x-hexadecimal, 0 to 4294967295. An existing value is replaced\n"
    "        (/f is accepted; vreg never asks).\n"
    "delete  deletes the key with everything under it, or one value (/f is accepted).\n"
    "\n"
    "The registry file is $VESKMATH_REGISTRY, else $XDG_CONFIG_HOME/veskmath/registry.reg,\n"
    "else ~/.config/veskmath/registry.reg.\n"
    "\n"
    "Exit status: 0 success, 1 the key or value does not exist, 2 usage error,\n"
    "3 the registry file cannot be read or written.\n";

constexpr const char* kNotFoundText =
    "ERROR: The system was unable to find the specified registry key or value.\n";

struct Arguments {
  std::string command;  // lower case
  HKEY root = veskmath::win::HKEY_CLASSES_ROOT;
  std::string path;  // below the root, "" for the root itself
  std::optional<std::string> valueName;
  std::optional<std::string> type;
  std::optional<std::string> data;
  bool force = false;
};

class UsageError {
 public:
  explicit UsageError(std::string message) : text(std::move(message)) {}
  std::string text;
};

bool IsSwitch(const std::string& arg) { return arg.size() > 1 && (arg[0] == '/' || arg[0] == '-'); }

// "HKLM\SOFTWARE\Orbanel" -> root and "SOFTWARE\Orbanel".
void ParseKey(const std::string& key, Arguments& args) {
  const size_t slash = key.find('\\');
  const std::string rootName = veskmath::rtl::UpperCase(key.substr(0, slash));
  if (rootName == "HKCR" || rootName == "HKEY_CLASSES_ROOT") {
    args.root = veskmath::win::HKEY_CLASSES_ROOT;
  } else if (rootName == "HKLM" || rootName == "HKEY_LOCAL_MACHINE") {
    args.root = veskmath::win::HKEY_LOCAL_MACHINE;
  } else {
    throw UsageError("ERROR: Invalid key name '" + key + "': it must begin with HKCR\\ or HKLM\\.");
  }
  args.path = slash == std::string::npos ? "" : key.substr(slash + 1);
  // "HKLM\A\\B" holds an empty name
  if (!veskmath::win::SplitKeyPath(args.path) || (!args.path.empty() && args.path[0] == '\\'))
    throw UsageError("ERROR: Invalid key name '" + key + "'.");
}

Arguments ParseArguments(const std::vector<std::string>& argv) {
  Arguments args;
  args.command = veskmath::rtl::LowerCase(argv[0]);
  if (args.command != "query" && args.command != "add" && args.command != "delete")
    throw UsageError("ERROR: Unknown operation '" + argv[0] + "'.");
  bool haveKey = false;
  auto once = [](auto& slot, const std::string& sw) {
    if (slot) throw UsageError("ERROR: Switch " + sw + " is given twice.");
  };
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (!IsSwitch(arg)) {
      if (haveKey) throw UsageError("ERROR: Unexpected argument '" + arg + "'.");
      ParseKey(arg, args);
      haveKey = true;
      continue;
    }
    const std::string name = veskmath::rtl::LowerCase(arg.substr(1));
    auto operand = [&]() -> std::string {
      if (i + 1 >= argv.size()) throw UsageError("ERROR: Switch " + arg + " needs a value.");
      return argv[++i];
    };
    if (name == "v") {
      once(args.valueName, arg);
      args.valueName = operand();
    } else if (name == "ve") {
      once(args.valueName, arg);
      args.valueName = "";
    } else if (name == "t" && args.command == "add") {
      once(args.type, arg);
      args.type = veskmath::rtl::UpperCase(operand());
      if (*args.type != "REG_SZ" && *args.type != "REG_DWORD")
        throw UsageError("ERROR: Unsupported type '" + argv[i] + "' (REG_SZ or REG_DWORD).");
    } else if (name == "d" && args.command == "add") {
      once(args.data, arg);
      args.data = operand();
    } else if (name == "f" && args.command != "query") {
      args.force = true;
    } else {
      throw UsageError("ERROR: Invalid switch '" + arg + "' for " + args.command + ".");
    }
  }
  if (!haveKey) throw UsageError("ERROR: No KEY given.");
  return args;
}

// "12", "0x1F" -> the number; nullopt outside 0 .. 4294967295.
std::optional<uint32_t> ParseDWord(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  uint64_t n = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    n = n * (hex ? 16 : 10) + static_cast<uint64_t>(d);
  }
  if (n > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<uint32_t>(n);
}

std::string DisplayPath(RegistryFile& file, const Arguments& args) {
  std::string out = veskmath::win::RootKeyName(args.root);
  if (const auto names = file.CanonicalPath(args.root, args.path))
    for (const std::string& name : *names) out += '\\' + name;
  return out;
}

void PrintValue(const std::string& name, const RegValue& value) {
  const std::string shown = name.empty() ? "(Default)" : name;
  if (value.kind == RegValue::Kind::String) {
    std::printf("    %s    REG_SZ    %s\n", shown.c_str(), value.text.c_str());
  } else {
    std::printf("    %s    REG_DWORD    0x%x\n", shown.c_str(), value.number);
  }
}

int Query(RegistryFile& file, const Arguments& args) {
  if (!file.KeyExists(args.root, args.path)) {
    std::fputs(kNotFoundText, stderr);
    return kNotFound;
  }
  const std::string keyPath = DisplayPath(file, args);
  if (args.valueName) {
    const auto values = file.Values(args.root, args.path);
    for (const auto& [name, value] : *values) {
      if (veskmath::rtl::LowerCase(name) == veskmath::rtl::LowerCase(*args.valueName)) {
        std::printf("\n%s\n", keyPath.c_str());
        PrintValue(name, value);
        std::printf("\n");
        return kOk;
      }
    }
    std::fputs(kNotFoundText, stderr);
    return kNotFound;
  }
  std::printf("\n%s\n", keyPath.c_str());
  const auto values = file.Values(args.root, args.path);
  for (const auto& [name, value] : *values) PrintValue(name, value);
  std::printf("\n");
  const auto subkeys = file.KeyNames(args.root, args.path);
  for (const std::string& name : *subkeys) std::printf("%s\\%s\n", keyPath.c_str(), name.c_str());
  if (!subkeys->empty()) std::printf("\n");
  return kOk;
}

int Add(RegistryFile& file, const Arguments& args) {
  const bool setsValue = args.valueName || args.type || args.data;
  RegValue value;
  if (setsValue) {
    if (args.type.value_or("REG_SZ") == "REG_DWORD") {
      const auto number = ParseDWord(args.data.value_or("0"));
      if (!number) throw UsageError("ERROR: Invalid REG_DWORD data '" + *args.data + "'.");
      value = RegValue::DWord(*number);
    } else {
      value = RegValue::String(args.data.value_or(""));
    }
  }
  file.CreateKey(args.root, args.path);
  if (setsValue && !file.SetValue(args.root, args.path, args.valueName.value_or(""), value)) {
    // Another process deleted the key between the two steps.
    std::fputs(kNotFoundText, stderr);
    return kNotFound;
  }
  std::puts("The operation completed successfully.");
  return kOk;
}

int Delete(RegistryFile& file, const Arguments& args) {
  bool done;
  if (args.valueName) {
    done = file.DeleteValue(args.root, args.path, *args.valueName);
  } else {
    if (args.path.empty()) throw UsageError("ERROR: A root key cannot be deleted.");
    done = file.DeleteKey(args.root, args.path);
  }
  if (!done) {
    std::fputs(kNotFoundText, stderr);
    return kNotFound;
  }
  std::puts("The operation completed successfully.");
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "/?" || arg == "-?") {
      std::fputs("vreg: reads and changes the VeskMath registry file.\n\n", stdout);
      std::fputs(kUsageText, stdout);
      return kOk;
    }
    if (arg == "--version") {
      std::printf("vreg (VeskMath) %s\n", VESKMATH_VERSION);
      return kOk;
    }
  }
  try {
    if (args.empty()) throw UsageError("ERROR: No operation given.");
    const Arguments parsed = ParseArguments(args);
    RegistryFile file(RegistryFile::DefaultPath());
    if (parsed.command == "query") return Query(file, parsed);
    if (parsed.command == "add") return Add(file, parsed);
    return Delete(file, parsed);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s\nType \"vreg --help\" for usage.\n", e.text.c_str());
    return kUsage;
  } catch (const veskmath::win::ERegistryFileError& e) {
    std::fprintf(stderr, "ERROR: %s\n", e.what());
    return kFileError;
  } catch (const veskmath::win::ERegistryException& e) {
    // A name or text that the file cannot hold.
    std::fprintf(stderr, "ERROR: %s\n", e.what());
    return kUsage;
  } catch (const std::bad_alloc&) {
    std::fputs(
        "ERROR: Not enough memory to read or write the registry file (raise the memory "
        "limit, or move the file away).\n",
        stderr);
    return kFileError;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ERROR: %s\n", e.what());
    return kFileError;
  }
}
