// TRegistry: the component library's registry class, over the registry file
// (platform/win/RegistryFile.h).
//
// Names, paths and texts go in and come out in the system ANSI code page (CodePage.h); the
// file holds UTF-8. As in the component library:
//   - a key path beginning with "\" starts at the root key, any other is relative to the
//     open key (or to the root key when none is open); the open key's path is kept
//     without the leading "\";
//   - value operations act on the open key and fail when none is open;
//   - ReadString of a missing value answers ""; reading a value of the other kind raises
//     "Invalid data type for '<name>'"; a write that fails raises
//     "Failed to set data for '<name>'"; CreateKey raises "Failed to create key <key>"; when the
//     file refused the change, its explanation follows after ": ".
// A registry file that cannot be read (malformed, unreadable, a symbolic link) raises
// ERegistryFileError with the file's own explanation from every operation.
//
// OpenKey(key, true) stands for opening with write access: it answers false when the file
// cannot be written, whether or not the key exists, so the caller can tell the user that
// higher rights are needed. OpenKey(key, false) and OpenKeyReadOnly open existing keys
// whatever the file's rights; writes through them fail when the file cannot be written.
#pragma once

#include <string>

#include "platform/win/RegistryFile.h"

namespace veskmath::win {

class TRegistry {
 public:
  // The registry kept in the given file, by default the one at RegistryFile::DefaultPath().
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
  // Deletes a key with every subkey and value under it; false when it does not exist or
  // cannot be deleted.
  bool DeleteKey(const std::string& key);
  bool KeyExists(const std::string& key);

  std::string ReadString(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);

  // Why the last change that answered false or failed was refused (the file's explanation,
  // e.g. a lock held too long or a full disk); empty when the refusal had no such reason (no
  // key open, a key another process deleted).
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
