// The registry stand-in: keys under HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE holding string
// and 32-bit integer values and an unnamed default value, kept in one text file.
//
// File form (the registry-export layout in UTF-8 with LF line ends; CR LF and a UTF-8
// byte-order mark are accepted on reading):
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Orbanel\Vesk\01]
//   @="default value"
//   "Name"="C:\\dir \"quoted\""
//   "ExecWithoutCompstr"=dword:00000001
//
// Only "\\" and "\"" are escapes inside strings. Lines beginning with ";" are comments, dropped
// when the file is rewritten. Texts cannot hold CR, LF or NUL. Names compare without regard to
// ASCII case and keep the spelling they were created with; subkeys are listed in that order,
// values in creation order. A missing file is an empty registry.
//
// Safety rules:
//   - Writers re-read, change and replace the file (a temporary beside it, fsync, rename) under
//     an exclusive flock() on the private "<file>.lock" (else they fail after the lock
//     timeout): no writer loses another's changes, and readers never see half a file.
//   - A file or lock file of another user, or that others may write, is refused for reading and
//     writing (the store names the programs the user will run), as is a registry file that is a
//     symbolic link (not a directory on its way). A malformed file is never overwritten. A file
//     or directory the user may not write makes every change fail; reading still works. Reads
//     re-read the file whenever it changed on disk.
//   - Keys deeper than kMaxKeyDepth or with a path (names joined by "\") over kMaxKeyPathLength
//     bytes are refused when created and make a file malformed; a change that would pass
//     kMaxEntries keys and values or kMaxFileSize is refused, so every write can be read back.
//     Running out of memory is an ERegistryFileError, not a crash.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/rtl/SysUtils.h"

namespace veskmath::win {

// Root keys, with the operating system's handle values.
enum HKEY : uint32_t {
  HKEY_CLASSES_ROOT = 0x80000000u,
  HKEY_LOCAL_MACHINE = 0x80000002u,
};

// The component library's registry failure ("Failed to set data for 'ID'", ...).
class ERegistryException : public rtl::Exception {
  using rtl::Exception::Exception;
};
// The registry file cannot be used: malformed, unreadable, unwritable, a symbolic link.
class ERegistryFileError : public ERegistryException {
  using ERegistryException::ERegistryException;
};

inline constexpr std::size_t kMaxKeyDepth = 512;
inline constexpr std::size_t kMaxKeyPathLength = 16383;
inline constexpr std::size_t kMaxEntries = 100000;
inline constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;

// "HKEY_CLASSES_ROOT" / "HKEY_LOCAL_MACHINE"; throws ERegistryException for another value.
std::string RootKeyName(HKEY root);

struct RegValue {
  enum class Kind { String, DWord };
  Kind kind = Kind::String;
  std::string text;     // Kind::String, UTF-8
  uint32_t number = 0;  // Kind::DWord

  static RegValue String(std::string s) { return {Kind::String, std::move(s), 0}; }
  static RegValue DWord(uint32_t n) { return {Kind::DWord, {}, n}; }
  bool operator==(const RegValue&) const = default;
};

// One key: its spelling, its values in creation order, its subkeys by folded name.
struct RegKeyNode {
  std::string name;
  std::vector<std::pair<std::string, RegValue>> values;
  std::map<std::string, std::unique_ptr<RegKeyNode>> subkeys;  // key: ASCII-lower-cased name
  // The key has a section of its own in the file even when it holds no values and has
  // subkeys (it was created, or the file it was read from listed it).
  bool listed = true;

  RegKeyNode* FindSubkey(std::string_view subName) const;
  RegValue* FindValue(std::string_view valueName);
};

struct RegTree {
  RegKeyNode classesRoot{"HKEY_CLASSES_ROOT", {}, {}};
  RegKeyNode localMachine{"HKEY_LOCAL_MACHINE", {}, {}};

  RegKeyNode& Root(HKEY root);  // throws ERegistryException for another value
};

// Reads the file text; fileName only names the file in error messages. Throws
// ERegistryFileError "Malformed registry file '<file>' at line <n>: <fault>".
RegTree ParseRegistryText(std::string_view text, const std::string& fileName);
// Throws ERegistryException when the text would pass kMaxFileSize or the tree holds more
// than kMaxEntries keys and values.
std::string FormatRegistryText(const RegTree& tree);

// Splits "A\B\C" (a leading and a trailing "\" are allowed) into its key names; nullopt
// when a name is empty or holds CR, LF or NUL. "" is the root itself (no names).
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path);

class RegistryFile {
 public:
  // An empty path makes every operation fail with ERegistryFileError (no location known).
  explicit RegistryFile(std::string path);

  // $VESKMATH_REGISTRY, $XDG_CONFIG_HOME/veskmath/registry.reg (an absolute
  // XDG_CONFIG_HOME only), ~/.config/veskmath/registry.reg; "" when no home is known.
  static std::string DefaultPath();
  const std::string& Path() const { return FPath; }

  // Reading. Paths are key paths below the root as SplitKeyPath takes them; an invalid path
  // names no key. Names and texts are UTF-8.
  bool KeyExists(HKEY root, std::string_view path);
  std::optional<RegValue> GetValue(HKEY root, std::string_view path, std::string_view name);
  // Subkey names / values of a key (nullopt when the key does not exist).
  std::optional<std::vector<std::string>> KeyNames(HKEY root, std::string_view path);
  std::optional<std::vector<std::pair<std::string, RegValue>>> Values(HKEY root,
                                                                      std::string_view path);
  // The stored spelling of every name on the path, or nullopt.
  std::optional<std::vector<std::string>> CanonicalPath(HKEY root, std::string_view path);

  // Changing. Each takes the lock, re-reads the file and replaces it when something changed;
  // each fails with ERegistryFileError when the file cannot be written, even if nothing would
  // change. Returns false when the key (or value) to change does not exist. Names and texts
  // holding CR, LF, NUL or invalid UTF-8 raise ERegistryException.
  void CreateKey(HKEY root, std::string_view path);  // with every missing parent
  bool DeleteKey(HKEY root, std::string_view path);  // with everything under it; not a root
  bool SetValue(HKEY root, std::string_view path, std::string_view name, const RegValue& value);
  bool DeleteValue(HKEY root, std::string_view path, std::string_view name);

  // Throws ERegistryFileError when a change could not be written (file or directory not
  // writable, file a symbolic link); used to refuse opening a key for writing.
  void CheckWritable() const;

 private:
  // Device, inode, size, mtime and ctime (seconds, nanoseconds): any write changes one.
  using Identity = std::tuple<dev_t, ino_t, off_t, time_t, long, time_t, long>;
  static Identity IdentityOf(const struct stat& st);

  // The tree as the file holds it now (re-read when the file changed).
  RegTree& Current();
  // Runs change(root's node, bool& changed) under the writer lock; writes the tree if changed.
  template <typename Change>
  bool Modify(HKEY root, Change&& change);
  // Writes the tree; answers the new file's identity when it could be taken.
  std::optional<Identity> Replace(const RegTree& tree) const;

  std::string FPath;
  std::unique_ptr<RegTree> FCache;         // as last read or written; null: read the file
  std::optional<Identity> FCacheIdentity;  // of the file FCache holds; none: no file
};

}  // namespace veskmath::win
