// Paths are converted to UTF-8 whole before they are split: a Shift-JIS trail byte may be
// 0x5C, the "\" separator.
#include "platform/win/Registry.h"

#include "platform/win/CodePage.h"
#include "platform/win/TestHooks.h"

namespace veskmath::win {

namespace {

// The library's message, followed by the file's own explanation when there is one.
std::string WithReason(std::string message, const std::string& reason) {
  if (!reason.empty()) message += ": " + reason;
  return message;
}

[[noreturn]] void SetDataFailed(const std::string& name, const std::string& reason = "") {
  throw ERegistryException(
      WithReason(rtl::Format("Failed to set data for '%s'", name.c_str()), reason));
}

}  // namespace

TRegistry::TRegistry(const std::string& fileName) : FFile(fileName) {}

void TRegistry::SetRootKey(HKEY value) {
  RootKeyName(value);  // refuses a root this registry does not keep
  CloseKey();
  FRootKey = value;
}

// "Sub" with "A\B" open -> "A\B\Sub"; "\X\Y" -> "X\Y"; "" -> the open key itself.
std::string TRegistry::Resolve(const std::string& key) const {
  const bool relative = key.empty() || key.front() != '\\';
  std::string path = relative ? key : key.substr(1);
  if (relative && FKeyOpen && !FCurrentPath.empty())
    path = path.empty() ? FCurrentPath : FCurrentPath + '\\' + path;
  return path;
}

std::string RegistryCurrentPath(const TRegistry& registry) { return registry.FCurrentPath; }

// False when the change was refused or not written, with the reason kept for LastError(). A
// file that cannot even be read has already raised its own error in the read before.
template <typename Change>
bool TRegistry::TryChange(Change&& change) {
  FLastError.clear();
  try {
    return change();
  } catch (const ERegistryException& e) {
    FLastError = e.Message();
    return false;
  }
}

// Opening for writing needs the right to write, as on the real registry: false when the
// file may not be written; the key and its parents are created when missing.
bool TRegistry::CreateWritable(const std::string& utf8) {
  FLastError.clear();
  if (!SplitKeyPath(utf8)) return false;
  const bool exists = FFile.KeyExists(FRootKey, utf8);  // an unreadable file raises here
  return TryChange([&] {
    FFile.CheckWritable();
    if (!exists) FFile.CreateKey(FRootKey, utf8);
    return true;
  });
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  const std::string path = Resolve(key);
  const std::string utf8 = AnsiToUtf8(path);
  if (canCreate ? !CreateWritable(utf8) : !FFile.KeyExists(FRootKey, utf8)) return false;
  FKeyOpen = true;
  FReadOnly = false;
  FCurrentPath = path;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  if (!OpenKey(key, false)) return false;
  FReadOnly = true;
  return true;
}

void TRegistry::CloseKey() {
  FKeyOpen = false;
  FReadOnly = false;
  FCurrentPath.clear();
}

bool TRegistry::CreateKey(const std::string& key) {
  if (!CreateWritable(AnsiToUtf8(Resolve(key))))
    throw ERegistryException(
        WithReason(rtl::Format("Failed to create key %s", key.c_str()), FLastError));
  return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
  const std::string utf8 = AnsiToUtf8(Resolve(key));
  if (!FFile.KeyExists(FRootKey, utf8)) return false;
  return TryChange([&] { return FFile.DeleteKey(FRootKey, utf8); });
}

bool TRegistry::KeyExists(const std::string& key) {
  return FFile.KeyExists(FRootKey, AnsiToUtf8(Resolve(key)));
}

std::string TRegistry::ReadString(const std::string& name) {
  if (!FKeyOpen) return "";
  const auto value = FFile.GetValue(FRootKey, AnsiToUtf8(FCurrentPath), AnsiToUtf8(name));
  if (!value) return "";
  if (value->kind != RegValue::Kind::String) {
    throw ERegistryException(rtl::Format("Invalid data type for '%s'", name.c_str()));
  }
  return Utf8ToAnsi(value->text);
}

void TRegistry::WriteValue(const std::string& name, const RegValue& value) {
  if (!FKeyOpen || FReadOnly) SetDataFailed(name);
  const std::string path = AnsiToUtf8(FCurrentPath);
  FFile.KeyExists(FRootKey, path);  // an unreadable file raises its own error here
  if (!TryChange([&] { return FFile.SetValue(FRootKey, path, AnsiToUtf8(name), value); }))
    SetDataFailed(name, FLastError);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  WriteValue(name, RegValue::String(AnsiToUtf8(value)));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  WriteValue(name, RegValue::DWord(static_cast<uint32_t>(value)));
}

}  // namespace veskmath::win
