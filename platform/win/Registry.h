// TRegistry: the component library's registry class over the registry file (RegistryFile.h).
// Names, paths and texts are in the ANSI code page; the file holds UTF-8. As in the library:
//   - a key path beginning with "\" starts at the root key, any other is relative to the open
//     key (or to the root key when none is open);
//   - value operations act on the open key and fail when none is open;
//   - ReadString of a missing value answers ""; reading a value of the other kind raises
//     "Invalid data type for '<name>'"; a failed write raises "Failed to set data for '<name>'",
//     CreateKey "Failed to create key <key>", followed by ": " and the file's explanation when
//     the file refused the change.
// A registry file that cannot be read raises its ERegistryFileError from every operation.
//
// OpenKey(key, true) stands for opening with write access: false when the file cannot be
// written, whether or not the key exists, so the caller can tell the user that higher rights
// are needed. Other opens work whatever the file's rights; writes through them then fail.
#pragma once

#include <string>

#include "platform/win/RegistryFile.h"

namespace veskmath::win {

class TRegistry {
 public:
  explicit TRegistry(const std::string& fileName = RegistryFile::DefaultPath());

  // Closes the open key. HKEY_CLASSES_ROOT is the default root key.
  void SetRootKey(HKEY value);
  const std::string& FileName() const { return FFile.Path(); }

  // Opens a key (creating it and its parents when canCreate) and makes it the open key.
  bool OpenKey(const std::string& key, bool canCreate);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  // Creates a key (relative as in OpenKey) without opening it.
  bool CreateKey(const std::string& key);
  // With everything under it; false when it does not exist or cannot be deleted.
  bool DeleteKey(const std::string& key);
  bool KeyExists(const std::string& key);

  std::string ReadString(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);

  // Why the last change that answered false or failed was refused (the file's explanation);
  // empty when there was no such reason (no key open, a key another process deleted).
  const std::string& LastError() const { return FLastError; }

 private:
  template <typename Change>
  bool TryChange(Change&& change);
  // The full path (ANSI, without the leading "\") of a key named as OpenKey takes it.
  std::string Resolve(const std::string& key) const;
  bool CreateWritable(const std::string& utf8);
  void WriteValue(const std::string& name, const RegValue& value);

  RegistryFile FFile;
  HKEY FRootKey = HKEY_CLASSES_ROOT;
  bool FKeyOpen = false;
  bool FReadOnly = false;
  std::string FCurrentPath;  // ANSI
  std::string FLastError;

  friend std::string RegistryCurrentPath(const TRegistry& registry);  // TestHooks.h
};

}  // namespace veskmath::win
