// The registry file: parsing, formatting, locking and atomic replacement.
#include "platform/win/RegistryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

#include "platform/base/SysBase.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"

namespace veskmath::win {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";
constexpr std::string_view kLocalMachineName = "HKEY_LOCAL_MACHINE";

std::string Fold(std::string_view name) { return rtl::LowerCase(name); }

// The fault of a key path beyond the limits, or "" when it is within them.
std::string KeyPathFault(const std::vector<std::string>& names) {
  if (names.size() > kMaxKeyDepth) {
    return rtl::Format("a key %zu levels deep (at most %zu)", names.size(), kMaxKeyDepth);
  }
  std::size_t length = names.empty() ? 0 : names.size() - 1;
  for (const std::string& name : names) length += name.size();
  if (length > kMaxKeyPathLength) {
    return rtl::Format("a key path of %zu bytes (at most %zu)", length, kMaxKeyPathLength);
  }
  return "";
}

// CR, LF and NUL cannot be written in the file layout.
bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string Escape(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// What the user sees of a faulty line: its start, cut to a readable length.
std::string Excerpt(std::string_view s) {
  constexpr size_t kMax = 40;
  return s.size() <= kMax ? std::string(s) : std::string(s.substr(0, kMax)) + "...";
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

class Parser {
 public:
  Parser(const std::string& fileName) : FFile(fileName) {}

  RegTree Parse(std::string_view text) {
    RegTree tree;
    if (text.empty()) return tree;  // a file created empty holds no keys
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (const size_t bad = FirstInvalidUtf8(text); bad != std::string_view::npos) {
      FLine = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + bad, '\n'));
      Fail("the text is not valid UTF-8");
    }
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
      FLine = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + nul, '\n'));
      Fail("the text holds a NUL byte");
    }
    RegKeyNode* section = nullptr;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      ++FLine;
      const std::string_view line = TrimBlanks(text.substr(start, end - start));
      start = end + 1;
      if (FLine == 1) {
        if (line != kHeader) Fail("expected the header line '" + std::string(kHeader) + "'");
        continue;
      }
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        section = &Section(tree, line);
      } else if (line.front() == '@' || line.front() == '"') {
        // "Name"="text" / @="text" / "Num"=dword:00000001
        if (!section) Fail("a value stands before the first [key] line");
        Value(*section, line);
      } else {
        Fail("unexpected text '" + Excerpt(line) + "'");
      }
    }
    return tree;
  }

 private:
  // Counts one more key or value against the store's limit.
  void Count() {
    if (++FEntries > kMaxEntries) {
      Fail(
          rtl::Format("more than %zu keys and values (a store of this program holds a few "
                      "dozen)",
                      kMaxEntries));
    }
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw ERegistryFileError(rtl::Format("Malformed registry file '%s' at line %zu: %s",
                                         FFile.c_str(), FLine, what.c_str()));
  }

  // [HKEY_LOCAL_MACHINE\SOFTWARE\Orbanel] -> that key, created with its parents.
  RegKeyNode& Section(RegTree& tree, std::string_view line) {
    if (line.back() != ']') Fail("a [key] line without its closing ']'");
    const std::string_view inner = line.substr(1, line.size() - 2);
    // [-HKEY_...\Key] deletes a key in an import file; a stored registry has no use for it.
    if (!inner.empty() && inner.front() == '-') Fail("key deletion lines '[-...]' are not kept");
    const size_t slash = inner.find('\\');
    const std::string_view rootName = inner.substr(0, slash);
    RegKeyNode* node;
    if (rtl::SameText(rootName, kClassesRootName)) {
      node = &tree.classesRoot;
    } else if (rtl::SameText(rootName, kLocalMachineName)) {
      node = &tree.localMachine;
    } else {
      Fail("unknown root key '" + Excerpt(rootName) + "'");
    }
    if (slash == std::string_view::npos) return *node;
    const auto names = SplitKeyPath(inner.substr(slash + 1));
    if (!names || names->empty()) Fail("an empty key name in '" + Excerpt(inner) + "'");
    if (const std::string fault = KeyPathFault(*names); !fault.empty()) Fail(fault);
    for (const std::string& name : *names) {
      auto& slot = node->subkeys[Fold(name)];
      if (!slot) {
        Count();
        slot = std::make_unique<RegKeyNode>(RegKeyNode{name, {}, {}, false});
      }
      node = slot.get();
    }
    node->listed = true;  // its parents stay unlisted unless a line of their own names them
    return *node;
  }

  // Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
  std::string Quoted(std::string_view s, size_t& pos) const {
    std::string out;
    for (++pos; pos < s.size(); ++pos) {
      const char c = s[pos];
      if (c == '"') {
        ++pos;
        return out;
      }
      if (c == '\\') {
        // Only "\\" and "\"" are escapes: "C:\dir" is a fault, not a path.
        if (pos + 1 >= s.size()) break;
        const char next = s[++pos];
        if (next != '\\' && next != '"') Fail(std::string("an invalid escape '\\") + next + "'");
        out += next;
      } else {
        out += c;
      }
    }
    Fail("a text without its closing '\"'");
  }

  void Value(RegKeyNode& key, std::string_view line) {
    size_t pos = 0;
    std::string name;
    if (line.front() == '@') {
      pos = 1;
    } else {
      name = Quoted(line, pos);
    }
    if (pos >= line.size() || line[pos] != '=') Fail("expected '=' after the value name");
    const std::string_view data = line.substr(pos + 1);
    RegValue value;
    if (data.empty()) {
      Fail("a value without data");
    } else if (data.front() == '"') {
      pos = 0;
      value = RegValue::String(Quoted(data, pos));
      if (pos != data.size()) Fail("unexpected text after the closing '\"'");
    } else if (data.size() > 6 && rtl::SameText(data.substr(0, 6), "dword:")) {
      // dword:0000000a; 1 to 8 hexadecimal digits
      const std::string_view digits = data.substr(6);
      if (digits.size() > 8) Fail("a dword value with more than 8 digits");
      uint32_t n = 0;
      const auto [end, error] =
          std::from_chars(digits.data(), digits.data() + digits.size(), n, 16);
      if (error != std::errc() || end != digits.data() + digits.size()) {
        Fail("a dword value with a non-hexadecimal digit '" + Excerpt(digits) + "'");
      }
      value = RegValue::DWord(n);
    } else if (data == "-") {
      Fail("value deletion lines ('=-') are not kept");
    } else if (const size_t colon = data.find(':'); colon != std::string_view::npos) {
      Fail("the value type '" + Excerpt(data.substr(0, colon)) +
           "' is not kept (only strings and dword values)");
    } else {
      Fail("unexpected value data '" + Excerpt(data) + "'");
    }
    // A name given twice: the later line wins, as an import would do. The index keeps that
    // search from growing with the number of values a key already has.
    const RegKeyNode* const owner = &key;
    std::string indexKey(reinterpret_cast<const char*>(&owner), sizeof owner);
    indexKey += Fold(name);
    const auto [slot, added] = FValueIndex.try_emplace(std::move(indexKey), key.values.size());
    if (!added) {
      key.values[slot->second].second = std::move(value);
      return;
    }
    Count();
    key.values.emplace_back(std::move(name), std::move(value));
  }

  const std::string& FFile;
  size_t FLine = 0;
  size_t FEntries = 0;
  std::unordered_map<std::string, std::size_t> FValueIndex;  // key address + folded name
};

// One section per key, depth first, with an explicit stack: a deep tree must not exhaust the
// call stack. A key gets a section when it is listed, holds values or has no subkeys (those
// two kinds each came from a section line or a created key of the same path, so the text grows
// with the file read and the changes made, never with depth times path length); roots without
// values get none. Throws ERegistryException past kMaxFileSize or kMaxEntries.
void FormatRoot(const RegKeyNode& root, std::string& out, std::size_t& entries) {
  struct Pending {
    const RegKeyNode* node;
    std::size_t pathLength;  // of the node's path in `path`
  };
  std::string path = root.name;
  std::vector<Pending> stack{{&root, path.size()}};
  while (!stack.empty()) {
    const Pending top = stack.back();
    stack.pop_back();
    const RegKeyNode& node = *top.node;
    if (&node != &root) {
      // The stack holds siblings in order; the path is cut back to the parent's and extended.
      const std::size_t parentLength = top.pathLength - node.name.size() - 1;
      path.resize(parentLength);
      path += '\\';
      path += node.name;
      ++entries;
    }
    entries += node.values.size();
    if (entries > kMaxEntries) {
      throw ERegistryException(
          rtl::Format("the store would hold more than %zu keys and values", kMaxEntries));
    }
    const bool section = &node == &root
                             ? !node.values.empty()
                             : node.listed || !node.values.empty() || node.subkeys.empty();
    if (section) {
      out += '[';
      out += path;
      out += "]\n";
      for (const auto& [name, value] : node.values) {
        out += name.empty() ? std::string("@") : Escape(name);
        out += '=';
        if (value.kind == RegValue::Kind::String) {
          out += Escape(value.text);
        } else {
          out += rtl::Format("dword:%08x", value.number);
        }
        out += '\n';
      }
      out += '\n';
      if (out.size() > kMaxFileSize) {
        throw ERegistryException(
            rtl::Format("the file would grow beyond the %zu bytes it may hold", kMaxFileSize));
      }
    }
    // Pushed in reverse so that the first subkey comes out first.
    for (auto it = node.subkeys.rbegin(); it != node.subkeys.rend(); ++it) {
      stack.push_back({it->second.get(), top.pathLength + 1 + it->second->name.size()});
    }
  }
}

std::string ErrnoText(int err) { return base::SystemErrorText(err); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A store or lock file that another user owns, or that others may write, could make this
// user's programs run what that user wants (the server's command line comes from the store):
// the fault, or "" for a file of this user that only this user writes.
std::string ForeignFault(const struct stat& st) {
  // Root's files are trusted as well: only root could have made them.
  if (st.st_uid != ::geteuid() && st.st_uid != 0) {
    return rtl::Format("it belongs to another user (uid %u)", static_cast<unsigned>(st.st_uid));
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "other users may write it";
  return "";
}

// Holds an exclusive flock() on "<file>.lock" for its lifetime, taken within LockTimeoutMs(). The
// lock file is private (0600) and never removed: removing it would let two writers lock two
// different files.
class WriterLock {
 public:
  explicit WriterLock(const std::string& registryPath) {
    const std::string lockPath = registryPath + ".lock";
    FFd.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!FFd.Valid()) {
      throw ERegistryFileError(rtl::Format("Cannot lock registry file '%s': '%s': %s",
                                           registryPath.c_str(), lockPath.c_str(),
                                           ErrnoText(errno).c_str()));
    }
    struct stat st;
    if (::fstat(FFd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !ForeignFault(st).empty()) {
      throw ERegistryFileError(rtl::Format(
          "Cannot lock registry file '%s': '%s' is not a file of this user; it is refused "
          "(remove it, or keep the registry in a directory only you can write)",
          registryPath.c_str(), lockPath.c_str()));
    }
    // Lock files made by earlier versions were readable by everyone, which let any user hold
    // the lock.
    if ((st.st_mode & 077) != 0) ::fchmod(FFd.Get(), 0600);
    if (const int err = LockExclusiveWithin(FFd.Get()); err != 0) {
      throw ERegistryFileError(
          err == EWOULDBLOCK
              ? rtl::Format("Cannot lock registry file '%s': another process has held '%s' for "
                            "more than %u ms; try again when it has ended",
                            registryPath.c_str(), lockPath.c_str(), LockTimeoutMs())
              : rtl::Format("Cannot lock registry file '%s': '%s': %s", registryPath.c_str(),
                            lockPath.c_str(), ErrnoText(err).c_str()));
    }
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  rtl::UniqueFd FFd;  // closing releases the lock
};

[[noreturn]] void SymlinkRefused(const std::string& path) {
  throw ERegistryFileError(rtl::Format(
      "Registry file '%s' is a symbolic link; it is refused (point VESKMATH_REGISTRY at the "
      "file itself)",
      path.c_str()));
}

// Creates the missing directories of dir, outermost first (private ones: mode 0700).
void MakeDirectories(const std::string& registryPath, const std::string& dir) {
  std::vector<std::string> missing;
  struct stat st;
  for (std::string at = dir; ::stat(at.c_str(), &st) != 0; at = DirectoryOf(at)) {
    missing.push_back(at);
    if (DirectoryOf(at) == at) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
      throw ERegistryFileError(
          rtl::Format("Cannot write registry file '%s': cannot create '%s': %s",
                      registryPath.c_str(), it->c_str(), ErrnoText(errno).c_str()));
    }
  }
}

// The store's usual place, under the user's configuration directory: the one place whose
// directories the program makes itself ("" when no home is known).
std::string StandardPath() {
  constexpr const char* kTail = "/veskmath/registry.reg";
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
    return std::string(xdg) + kTail;
  std::string home;
  if (const char* env = std::getenv("HOME"); env && *env) {
    home = env;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) {
    home = pw->pw_dir;
  } else {
    return "";
  }
  return home + "/.config" + kTail;
}

}  // namespace

std::string RootKeyName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT:
      return std::string(kClassesRootName);
    case HKEY_LOCAL_MACHINE:
      return std::string(kLocalMachineName);
  }
  throw ERegistryException(rtl::Format("Invalid root key %#x", static_cast<unsigned>(root)));
}

RegKeyNode* RegKeyNode::FindSubkey(std::string_view subName) const {
  const auto it = subkeys.find(Fold(subName));
  return it == subkeys.end() ? nullptr : it->second.get();
}

const RegValue* RegKeyNode::FindValue(std::string_view valueName) const {
  for (const auto& [valueKey, value] : values)
    if (rtl::SameText(valueKey, valueName)) return &value;
  return nullptr;
}

RegKeyNode& RegTree::Root(HKEY root) {
  return const_cast<RegKeyNode&>(static_cast<const RegTree&>(*this).Root(root));
}

const RegKeyNode& RegTree::Root(HKEY root) const {
  switch (root) {
    case HKEY_CLASSES_ROOT:
      return classesRoot;
    case HKEY_LOCAL_MACHINE:
      return localMachine;
  }
  throw ERegistryException(rtl::Format("Invalid root key %#x", static_cast<unsigned>(root)));
}

RegTree ParseRegistryText(std::string_view text, const std::string& fileName) {
  return Parser(fileName).Parse(text);
}

std::string FormatRegistryText(const RegTree& tree) {
  std::string out(kHeader);
  out += "\n\n";
  std::size_t entries = 0;
  FormatRoot(tree.classesRoot, out, entries);
  FormatRoot(tree.localMachine, out, entries);
  return out;
}

std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path) {
  std::vector<std::string> names;
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);  // "Key\" names "Key"
  if (path.empty()) return names;
  size_t start = 0;
  while (true) {
    const size_t end = path.find('\\', start);
    const std::string_view name = path.substr(start, end - start);
    if (name.empty() || HasLineBreakOrNul(name)) return std::nullopt;
    names.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

// ---------------------------------------------------------------------------------------

namespace {

const RegKeyNode* Walk(const RegKeyNode& root, const std::vector<std::string>& names,
                       size_t count) {
  const RegKeyNode* node = &root;
  for (size_t i = 0; i < count && node; ++i) node = node->FindSubkey(names[i]);
  return node;
}

const RegKeyNode* Walk(const RegTree& tree, HKEY root, std::string_view path) {
  const auto names = SplitKeyPath(path);
  if (!names) return nullptr;
  return Walk(tree.Root(root), *names, names->size());
}

RegKeyNode* Walk(RegTree& tree, HKEY root, std::string_view path) {
  return const_cast<RegKeyNode*>(Walk(static_cast<const RegTree&>(tree), root, path));
}

// Refuses a name or text that the file could not hold (CR, LF, NUL, broken UTF-8).
void RequireStorable(std::string_view text, const char* what) {
  if (HasLineBreakOrNul(text) || FirstInvalidUtf8(text) != std::string_view::npos) {
    throw ERegistryException(rtl::Format(
        "The registry cannot store this %s: it holds a line break, a NUL or invalid UTF-8", what));
  }
}

}  // namespace

bool RegistryFile::Identity::operator==(const Identity& o) const {
  return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
         mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
         ctime.tv_nsec == o.ctime.tv_nsec;
}

RegistryFile::RegistryFile(std::string path) : FPath(std::move(path)) {}

std::string RegistryFile::DefaultPath() {
  if (const char* env = std::getenv("VESKMATH_REGISTRY"); env && *env) return env;
  return StandardPath();
}

void RegistryFile::RequirePath() const {
  if (FPath.empty()) {
    throw ERegistryFileError(
        "No registry file location: set VESKMATH_REGISTRY, XDG_CONFIG_HOME or HOME");
  }
}

RegTree& RegistryFile::Current() {
  RequirePath();
  const int fd = ::open(FPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) SymlinkRefused(FPath);
    if (errno != ENOENT) {
      throw ERegistryFileError(rtl::Format("Cannot read registry file '%s': %s", FPath.c_str(),
                                           ErrnoText(errno).c_str()));
    }
    if (!FCacheValid || FCacheIdentity) {
      FCache = std::make_unique<RegTree>();
      FCacheIdentity.reset();
      FCacheValid = true;
    }
    return *FCache;
  }
  rtl::UniqueFd guard(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    throw ERegistryFileError(
        rtl::Format("Cannot read registry file '%s': %s", FPath.c_str(), ErrnoText(errno).c_str()));
  }
  if (!S_ISREG(st.st_mode)) {
    throw ERegistryFileError(
        rtl::Format("Registry file '%s' is not a regular file", FPath.c_str()));
  }
  if (const std::string fault = ForeignFault(st); !fault.empty()) {
    throw ERegistryFileError(
        rtl::Format("Registry file '%s' is refused: %s (keep it in a directory only you can write)",
                    FPath.c_str(), fault.c_str()));
  }
  const Identity id{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  if (FCacheValid && FCacheIdentity && *FCacheIdentity == id) return *FCache;
  if (st.st_size > static_cast<off_t>(kMaxFileSize)) {
    throw ERegistryFileError(
        rtl::Format("Registry file '%s' is too large (%lld bytes, at most %zu)", FPath.c_str(),
                    static_cast<long long>(st.st_size), kMaxFileSize));
  }
  FCacheValid = false;
  FCache.reset();  // the old tree goes before the new one is built
  try {
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    while (true) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        throw ERegistryFileError(rtl::Format("Cannot read registry file '%s': %s", FPath.c_str(),
                                             ErrnoText(errno).c_str()));
      }
      if (n == 0) break;
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > kMaxFileSize) {
        throw ERegistryFileError(rtl::Format("Registry file '%s' is too large", FPath.c_str()));
      }
    }
    FCache = std::make_unique<RegTree>(ParseRegistryText(text, FPath));
  } catch (const std::bad_alloc&) {
    throw ERegistryFileError(rtl::Format(
        "Cannot read registry file '%s': not enough memory for its %lld bytes (raise the "
        "memory limit, or move the file away)",
        FPath.c_str(), static_cast<long long>(st.st_size)));
  }
  FCacheIdentity = id;
  FCacheValid = true;
  return *FCache;
}

void RegistryFile::CheckWritable() const {
  RequirePath();
  const rtl::UniqueFd probe(::open(FPath.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const int error = errno;
  if (!probe.Valid() && error == ELOOP) SymlinkRefused(FPath);
  if (!probe.Valid() && error != ENOENT) {
    throw ERegistryFileError(rtl::Format("Cannot write registry file '%s': %s", FPath.c_str(),
                                         ErrnoText(error).c_str()));
  }
  // The file is replaced by renaming a new one into its directory. Only the usual place's
  // directories are made when missing (then the nearest existing one must be writable); a
  // place the user named must exist, or a typing error would make directories anywhere.
  std::string dir = DirectoryOf(FPath);
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 && errno == ENOENT && FPath != StandardPath()) {
    throw ERegistryFileError(
        rtl::Format("Cannot write registry file '%s': directory '%s' does not exist", FPath.c_str(),
                    dir.c_str()));
  }
  while (::stat(dir.c_str(), &st) != 0 && DirectoryOf(dir) != dir) dir = DirectoryOf(dir);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    throw ERegistryFileError(
        rtl::Format("Cannot write registry file '%s': directory '%s' is not writable (%s)",
                    FPath.c_str(), dir.c_str(), ErrnoText(errno).c_str()));
  }
}

namespace {

// Temporary files are "<file>.tmp-XXXXXX". Under the writer lock none is in use, so those a
// writer killed before its rename left are removed (this user's regular files of exactly that
// form only); otherwise every such kill would leave a full copy behind for ever.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempRandom = 6;

void RemoveStaleTemporaries(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const std::size_t slash = path.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTempInfix);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTempRandom || name.substr(0, prefix.size()) != prefix) {
      continue;
    }
    struct stat st;
    if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
      ::unlinkat(::dirfd(d), entry->d_name, 0);
    }
  }
  ::closedir(d);
}

}  // namespace

void RegistryFile::Replace(const RegTree& tree, std::optional<Identity>& identity) const {
  std::string text;
  try {
    text = FormatRegistryText(tree);
  } catch (const ERegistryException& e) {
    throw ERegistryFileError(
        rtl::Format("Cannot write registry file '%s': %s", FPath.c_str(), e.what()));
  }
  RemoveStaleTemporaries(FPath);
  // A file-size limit makes the write below fail (EFBIG) instead of killing the writer; the
  // temporary file is then removed and the old file stays.
  const TNoFileSizeSignal noSignal;
  std::string tempPath = FPath + std::string(kTempInfix) + std::string(kTempRandom, 'X');
  rtl::UniqueFd fd(::mkostemp(tempPath.data(), O_CLOEXEC));
  auto fail = [&](const char* step) {
    const int err = errno;
    if (fd.Get() >= 0) ::unlink(tempPath.c_str());
    throw ERegistryFileError(rtl::Format("Cannot write registry file '%s': %s: %s", FPath.c_str(),
                                         step, ErrnoText(err).c_str()));
  };
  if (fd.Get() < 0) fail("cannot create a temporary file");
  // Keep the old file's permissions and, when root rewrites a user's file, its owner.
  struct stat old;
  const bool hadOld = ::stat(FPath.c_str(), &old) == 0;
  if (::fchmod(fd.Get(), hadOld ? (old.st_mode & 07777) : 0644) != 0) fail("chmod");
  if (hadOld && ::geteuid() == 0 && (old.st_uid != 0 || old.st_gid != 0)) {
    if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) fail("chown");
  }
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("write");
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.Get()) != 0) fail("fsync");
  if (::rename(tempPath.c_str(), FPath.c_str()) != 0) fail("rename");
  struct stat st;
  if (::fstat(fd.Get(), &st) == 0) {
    identity = Identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  } else {
    identity.reset();
  }
  // Make the rename itself durable.
  if (const rtl::UniqueFd dir(
          ::open(DirectoryOf(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      dir.Valid()) {
    ::fsync(dir.Get());
  }
}

template <typename Change>
bool RegistryFile::Modify(Change&& change) {
  CheckWritable();
  MakeDirectories(FPath, DirectoryOf(FPath));
  WriterLock lock(FPath);
  try {
    // Under the lock: take what other writers left, then change it.
    RegTree& tree = Current();
    bool changed = false;
    const bool result = change(tree, changed);
    if (changed) {
      FCacheValid = false;
      Replace(tree, FCacheIdentity);
      FCacheValid = FCacheIdentity.has_value();
    }
    return result;
  } catch (const std::bad_alloc&) {
    FCacheValid = false;
    throw ERegistryFileError(
        rtl::Format("Cannot write registry file '%s': not enough memory (raise the memory limit)",
                    FPath.c_str()));
  } catch (...) {
    FCacheValid = false;  // the tree may hold a change that never reached the file
    throw;
  }
}

bool RegistryFile::KeyExists(HKEY root, std::string_view path) {
  return Walk(Current(), root, path) != nullptr;
}

std::optional<RegValue> RegistryFile::GetValue(HKEY root, std::string_view path,
                                               std::string_view name) {
  const RegKeyNode* key = Walk(Current(), root, path);
  if (!key) return std::nullopt;
  const RegValue* value = key->FindValue(name);
  if (!value) return std::nullopt;
  return *value;
}

std::optional<std::vector<std::string>> RegistryFile::KeyNames(HKEY root, std::string_view path) {
  const RegKeyNode* key = Walk(Current(), root, path);
  if (!key) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& [folded, sub] : key->subkeys) names.push_back(sub->name);
  return names;
}

std::optional<std::vector<std::pair<std::string, RegValue>>> RegistryFile::Values(
    HKEY root, std::string_view path) {
  const RegKeyNode* key = Walk(Current(), root, path);
  if (!key) return std::nullopt;
  return key->values;
}

std::optional<std::vector<std::string>> RegistryFile::CanonicalPath(HKEY root,
                                                                    std::string_view path) {
  const auto names = SplitKeyPath(path);
  if (!names) return std::nullopt;
  const RegKeyNode* node = &Current().Root(root);
  std::vector<std::string> spelled;
  for (const std::string& name : *names) {
    node = node->FindSubkey(name);
    if (!node) return std::nullopt;
    spelled.push_back(node->name);
  }
  return spelled;
}

void RegistryFile::CreateKey(HKEY root, std::string_view path) {
  const auto names = SplitKeyPath(path);
  if (!names) {
    throw ERegistryException(
        rtl::Format("Invalid registry key name '%s'", std::string(path).c_str()));
  }
  for (const std::string& name : *names) RequireStorable(name, "key name");
  if (const std::string fault = KeyPathFault(*names); !fault.empty()) {
    throw ERegistryException("The registry cannot store " + fault);
  }
  RootKeyName(root);  // refuses an unknown root before anything is written
  Modify([&](RegTree& tree, bool& changed) {
    RegKeyNode* node = &tree.Root(root);
    for (const std::string& name : *names) {
      auto& slot = node->subkeys[Fold(name)];
      if (!slot) {
        slot = std::make_unique<RegKeyNode>(RegKeyNode{name, {}, {}, true});
        changed = true;
      }
      node = slot.get();
    }
    return true;
  });
}

bool RegistryFile::DeleteKey(HKEY root, std::string_view path) {
  const auto names = SplitKeyPath(path);
  if (!names || names->empty()) return false;  // a root key cannot be deleted
  RootKeyName(root);
  return Modify([&](RegTree& tree, bool& changed) {
    auto* parent = const_cast<RegKeyNode*>(Walk(tree.Root(root), *names, names->size() - 1));
    changed = parent && parent->subkeys.erase(Fold(names->back())) > 0;
    return changed;
  });
}

bool RegistryFile::SetValue(HKEY root, std::string_view path, std::string_view name,
                            const RegValue& value) {
  RequireStorable(name, "value name");
  if (value.kind == RegValue::Kind::String) RequireStorable(value.text, "text");
  RootKeyName(root);
  return Modify([&](RegTree& tree, bool& changed) {
    RegKeyNode* key = Walk(tree, root, path);
    if (!key) return false;
    for (auto& [existing, old] : key->values) {
      if (rtl::SameText(existing, name)) {
        changed = !(old == value);
        old = value;
        return true;
      }
    }
    key->values.emplace_back(std::string(name), value);
    changed = true;
    return true;
  });
}

bool RegistryFile::DeleteValue(HKEY root, std::string_view path, std::string_view name) {
  RootKeyName(root);
  return Modify([&](RegTree& tree, bool& changed) {
    RegKeyNode* key = Walk(tree, root, path);
    if (!key) return false;
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
      if (rtl::SameText(it->first, name)) {
        key->values.erase(it);
        changed = true;
        return true;
      }
    }
    return false;
  });
}

}  // namespace veskmath::win
