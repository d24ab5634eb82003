#include "platform/win/RegistryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <new>
#include <span>
#include <unordered_map>

#include "platform/base/SysBase.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"

namespace veskmath::win {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

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

// The key at `names` below `top`, made with its missing parents (`listed` as given); made()
// runs before each key is added.
template <typename OnMake>
RegKeyNode& MakeKey(RegKeyNode& top, const std::vector<std::string>& names, bool listed,
                    OnMake made) {
  RegKeyNode* node = &top;
  for (const std::string& name : names) {
    auto& slot = node->subkeys[Fold(name)];
    if (!slot) {
      made();
      slot = std::make_unique<RegKeyNode>(RegKeyNode{name, {}, {}, listed});
    }
    node = slot.get();
  }
  return *node;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string Escape(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// What the user sees of a faulty line: its start, cut to a readable length.
std::string Excerpt(std::string_view s) {
  constexpr size_t kMax = 40;
  return s.size() <= kMax ? std::string(s) : std::string(s.substr(0, kMax)) + "...";
}

// Without leading blanks, and without trailing ones or the CR of a CR LF line end.
std::string_view TrimBlanks(std::string_view s) {
  s.remove_prefix(std::min(s.find_first_not_of(" \t"), s.size()));
  s.remove_suffix(s.size() - (s.find_last_not_of(" \t\r") + 1));  // npos + 1: all of it
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
      FailAt(text, bad, "the text is not valid UTF-8");
    }
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
      FailAt(text, nul, "the text holds a NUL byte");
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
      Fail(rtl::Format("more than %zu keys and values", kMaxEntries) +
           " (a store of this program holds a few dozen)");
    }
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw ERegistryFileError(rtl::Format("Malformed registry file '%s' at line %zu: %s",
                                         FFile.c_str(), FLine, what.c_str()));
  }

  // Fails at the line holding text[offset].
  [[noreturn]] void FailAt(std::string_view text, size_t offset, const std::string& what) {
    FLine = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
    Fail(what);
  }

  // [HKEY_LOCAL_MACHINE\SOFTWARE\Orbanel] -> that key, created with its parents.
  RegKeyNode& Section(RegTree& tree, std::string_view line) {
    if (line.back() != ']') Fail("a [key] line without its closing ']'");
    const std::string_view inner = line.substr(1, line.size() - 2);
    // [-HKEY_...\Key] deletes a key in an import file; a stored registry has no use for it.
    if (!inner.empty() && inner.front() == '-') Fail("key deletion lines '[-...]' are not kept");
    const size_t slash = inner.find('\\');
    const std::string_view rootName = inner.substr(0, slash);
    RegKeyNode* node = nullptr;
    for (RegKeyNode* top : {&tree.classesRoot, &tree.localMachine}) {
      if (rtl::SameText(rootName, top->name)) node = top;
    }
    if (!node) Fail("unknown root key '" + Excerpt(rootName) + "'");
    if (slash == std::string_view::npos) return *node;
    const auto names = SplitKeyPath(inner.substr(slash + 1));
    if (!names || names->empty()) Fail("an empty key name in '" + Excerpt(inner) + "'");
    if (const std::string fault = KeyPathFault(*names); !fault.empty()) Fail(fault);
    RegKeyNode& key = MakeKey(*node, *names, false, [this] { Count(); });
    key.listed = true;  // its parents stay unlisted unless a line of their own names them
    return key;
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
    // A name given twice: the later line wins, as an import would do (found through the index).
    const auto [slot, added] = FValueIndex[&key].try_emplace(Fold(name), key.values.size());
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
  // Per key: the position of each value in its list, by folded name.
  std::unordered_map<const RegKeyNode*, std::unordered_map<std::string, std::size_t>> FValueIndex;
};

// One root's sections, depth first with an explicit stack (a deep tree must not exhaust the
// call stack). Only listed keys, keys with values and leaves get a section, so the text never
// grows with depth times path length; a root gets one only for its values.
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
      path.resize(top.pathLength - node.name.size() - 1);
      path += '\\' + node.name;
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
      out += '[' + path + "]\n";
      for (const auto& [name, value] : node.values) {
        out += name.empty() ? std::string("@") : Escape(name);
        out += '=';
        out += value.kind == RegValue::Kind::String ? Escape(value.text)
                                                    : rtl::Format("dword:%08x", value.number);
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

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// "Cannot <verb> registry file '<path>': <detail>": every failure to use the file reads so.
[[noreturn]] void Cannot(const char* verb, const std::string& path, const std::string& detail) {
  throw ERegistryFileError(
      rtl::Format("Cannot %s registry file '%s': %s", verb, path.c_str(), detail.c_str()));
}

[[noreturn]] void SymlinkRefused(const std::string& path) {
  throw ERegistryFileError(rtl::Format(
      "Registry file '%s' is a symbolic link; it is refused (point VESKMATH_REGISTRY at the "
      "file itself)",
      path.c_str()));
}

void RequirePath(const std::string& path) {
  if (path.empty()) {
    throw ERegistryFileError(
        "No registry file location: set VESKMATH_REGISTRY, XDG_CONFIG_HOME or HOME");
  }
}

// Why a store or lock file is refused, or "" for a file of this user that only this user writes.
std::string ForeignFault(const struct stat& st) {
  // Root's files are trusted as well: only root could have made them.
  if (st.st_uid != ::geteuid() && st.st_uid != 0) {
    return rtl::Format("it belongs to another user (uid %u)", static_cast<unsigned>(st.st_uid));
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "other users may write it";
  return "";
}

// An exclusive flock() on the private (0600) "<file>.lock", held until the descriptor closes.
// Never removed: two writers could then lock two different files.
rtl::UniqueFd LockWriters(const std::string& registryPath) {
  const std::string lockPath = registryPath + ".lock";
  rtl::UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid()) {
    Cannot("lock", registryPath,
           rtl::Format("'%s': %s", lockPath.c_str(), base::SystemErrorText(errno).c_str()));
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !ForeignFault(st).empty()) {
    Cannot("lock", registryPath,
           "'" + lockPath +
               "' is not a file of this user; it is refused (remove it, or keep the registry "
               "in a directory only you can write)");
  }
  // Earlier versions made it readable by everyone, which let any user hold the lock.
  if ((st.st_mode & 077) != 0) ::fchmod(fd.Get(), 0600);
  if (const int err = LockExclusiveWithin(fd.Get()); err == EWOULDBLOCK) {
    Cannot("lock", registryPath,
           rtl::Format("another process has held '%s' for more than %u ms; try again when it "
                       "has ended",
                       lockPath.c_str(), LockTimeoutMs()));
  } else if (err != 0) {
    Cannot("lock", registryPath, "'" + lockPath + "': " + base::SystemErrorText(err));
  }
  return fd;
}

// Creates the file's missing directories, outermost first, private (0700).
void MakeDirectories(const std::string& registryPath) {
  std::vector<std::string> missing;
  struct stat st;
  for (std::string at = DirectoryOf(registryPath);
       ::stat(at.c_str(), &st) != 0 && DirectoryOf(at) != at; at = DirectoryOf(at)) {
    missing.push_back(at);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
      Cannot(
          "write", registryPath,
          rtl::Format("cannot create '%s': %s", it->c_str(), base::SystemErrorText(errno).c_str()));
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

// "<file>.tmp-XXXXXX": none is in use under the writer lock, so those killed writers left (this
// user's regular files of exactly that form) are removed, or each kill would leave a full copy.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempRandom = 6;

void RemoveStaleTemporaries(const std::string& path) {
  // The file's name: all of a path without "/" (npos + 1 is 0).
  const std::string prefix = path.substr(path.rfind('/') + 1) + std::string(kTempInfix);
  DIR* d = ::opendir(DirectoryOf(path).c_str());
  if (d == nullptr) return;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTempRandom || !name.starts_with(prefix)) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
      ::unlinkat(::dirfd(d), entry->d_name, 0);
    }
  }
  ::closedir(d);
}

RegKeyNode* Descend(RegKeyNode& top, std::span<const std::string> names) {
  RegKeyNode* node = &top;
  for (size_t i = 0; node && i < names.size(); ++i) node = node->FindSubkey(names[i]);
  return node;
}

// The key at `path` below `top`; nullptr when there is none or the path is invalid.
RegKeyNode* Walk(RegKeyNode& top, std::string_view path) {
  const auto names = SplitKeyPath(path);
  return names ? Descend(top, *names) : nullptr;
}

// Refuses a name or text that the file could not hold (CR, LF, NUL, broken UTF-8).
void RequireStorable(std::string_view text, const char* what) {
  if (HasLineBreakOrNul(text) || FirstInvalidUtf8(text) != std::string_view::npos) {
    throw ERegistryException(rtl::Format(
        "The registry cannot store this %s: it holds a line break, a NUL or invalid UTF-8", what));
  }
}

}  // namespace

std::string RootKeyName(HKEY root) {
  return RegTree().Root(root).name;  // the root nodes carry the names
}

RegKeyNode* RegKeyNode::FindSubkey(std::string_view subName) const {
  const auto it = subkeys.find(Fold(subName));
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegValue* RegKeyNode::FindValue(std::string_view valueName) {
  for (auto& [valueKey, value] : values)
    if (rtl::SameText(valueKey, valueName)) return &value;
  return nullptr;
}

RegKeyNode& RegTree::Root(HKEY root) {
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
  while (true) {
    const size_t end = path.find('\\');
    const std::string_view name = path.substr(0, end);
    if (name.empty() || HasLineBreakOrNul(name)) return std::nullopt;
    names.emplace_back(name);
    if (end == std::string_view::npos) return names;
    path.remove_prefix(end + 1);
  }
}

RegistryFile::RegistryFile(std::string path) : FPath(std::move(path)) {}

std::string RegistryFile::DefaultPath() {
  if (const char* env = std::getenv("VESKMATH_REGISTRY"); env && *env) return env;
  return StandardPath();
}

RegistryFile::Identity RegistryFile::IdentityOf(const struct stat& st) {
  return {st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
          st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

RegTree& RegistryFile::Current() {
  RequirePath(FPath);
  const rtl::UniqueFd fd(::open(FPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ELOOP) SymlinkRefused(FPath);
    if (errno != ENOENT) Cannot("read", FPath, base::SystemErrorText(errno));
    if (!FCache || FCacheIdentity) {  // a missing file is an empty registry
      FCache = std::make_unique<RegTree>();
      FCacheIdentity.reset();
    }
    return *FCache;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) Cannot("read", FPath, base::SystemErrorText(errno));
  if (!S_ISREG(st.st_mode)) {
    throw ERegistryFileError(
        rtl::Format("Registry file '%s' is not a regular file", FPath.c_str()));
  }
  if (const std::string fault = ForeignFault(st); !fault.empty()) {
    throw ERegistryFileError(
        rtl::Format("Registry file '%s' is refused: %s (keep it in a directory only you can write)",
                    FPath.c_str(), fault.c_str()));
  }
  const Identity id = IdentityOf(st);
  if (FCache && FCacheIdentity == id) return *FCache;
  if (st.st_size > static_cast<off_t>(kMaxFileSize)) {
    throw ERegistryFileError(
        rtl::Format("Registry file '%s' is too large (%lld bytes, at most %zu)", FPath.c_str(),
                    static_cast<long long>(st.st_size), kMaxFileSize));
  }
  FCache.reset();  // the old tree goes before the new one is built
  try {
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    while (const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer)) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Cannot("read", FPath, base::SystemErrorText(errno));
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > kMaxFileSize) {
        throw ERegistryFileError(rtl::Format("Registry file '%s' is too large", FPath.c_str()));
      }
    }
    FCache = std::make_unique<RegTree>(ParseRegistryText(text, FPath));
  } catch (const std::bad_alloc&) {
    Cannot("read", FPath,
           rtl::Format("not enough memory for its %lld bytes (raise the memory limit, or move "
                       "the file away)",
                       static_cast<long long>(st.st_size)));
  }
  FCacheIdentity = id;
  return *FCache;
}

void RegistryFile::CheckWritable() const {
  RequirePath(FPath);
  const rtl::UniqueFd probe(::open(FPath.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const int error = errno;
  if (!probe.Valid() && error == ELOOP) SymlinkRefused(FPath);
  if (!probe.Valid() && error != ENOENT) Cannot("write", FPath, base::SystemErrorText(error));
  // The file is replaced by renaming a new one into its directory. Only the usual place's
  // directories are made when missing (then the nearest existing one must be writable); a
  // place the user named must exist, or a typing error would make directories anywhere.
  std::string dir = DirectoryOf(FPath);
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 && errno == ENOENT && FPath != StandardPath()) {
    Cannot("write", FPath, "directory '" + dir + "' does not exist");
  }
  while (::stat(dir.c_str(), &st) != 0 && DirectoryOf(dir) != dir) dir = DirectoryOf(dir);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    Cannot("write", FPath,
           rtl::Format("directory '%s' is not writable (%s)", dir.c_str(),
                       base::SystemErrorText(errno).c_str()));
  }
}

std::optional<RegistryFile::Identity> RegistryFile::Replace(const RegTree& tree) const {
  std::string text;
  try {
    text = FormatRegistryText(tree);
  } catch (const ERegistryException& e) {
    Cannot("write", FPath, e.what());
  }
  RemoveStaleTemporaries(FPath);
  // A file-size limit makes the write below fail (EFBIG) instead of killing the writer; the
  // temporary file is then removed and the old file stays.
  const TNoFileSizeSignal noSignal;
  std::string tempPath = FPath + std::string(kTempInfix) + std::string(kTempRandom, 'X');
  rtl::UniqueFd fd(::mkostemp(tempPath.data(), O_CLOEXEC));
  auto fail = [&](const char* step) {
    const int err = errno;
    if (fd.Valid()) ::unlink(tempPath.c_str());
    Cannot("write", FPath, std::string(step) + ": " + base::SystemErrorText(err));
  };
  if (!fd.Valid()) fail("cannot create a temporary file");
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
  const bool known = ::fstat(fd.Get(), &st) == 0;
  // Make the rename itself durable.
  if (const rtl::UniqueFd dir(
          ::open(DirectoryOf(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      dir.Valid()) {
    ::fsync(dir.Get());
  }
  return known ? std::optional(IdentityOf(st)) : std::nullopt;
}

template <typename Change>
bool RegistryFile::Modify(HKEY root, Change&& change) {
  RootKeyName(root);  // refuses an unknown root before anything is written
  CheckWritable();
  MakeDirectories(FPath);
  const rtl::UniqueFd lock = LockWriters(FPath);
  try {
    // Under the lock: take what other writers left, then change it.
    RegTree& tree = Current();
    bool changed = false;
    const bool result = change(tree.Root(root), changed);
    if (changed) {
      FCacheIdentity = Replace(tree);
      if (!FCacheIdentity) FCache.reset();  // unknown identity: the next read takes the file
    }
    return result;
  } catch (const std::bad_alloc&) {
    FCache.reset();
    Cannot("write", FPath, "not enough memory (raise the memory limit)");
  } catch (...) {
    FCache.reset();  // the tree may hold a change that never reached the file
    throw;
  }
}

bool RegistryFile::KeyExists(HKEY root, std::string_view path) {
  return Walk(Current().Root(root), path) != nullptr;
}

std::optional<RegValue> RegistryFile::GetValue(HKEY root, std::string_view path,
                                               std::string_view name) {
  RegKeyNode* key = Walk(Current().Root(root), path);
  if (const RegValue* value = key ? key->FindValue(name) : nullptr) return *value;
  return std::nullopt;
}

std::optional<std::vector<std::string>> RegistryFile::KeyNames(HKEY root, std::string_view path) {
  const RegKeyNode* key = Walk(Current().Root(root), path);
  if (!key) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& [folded, sub] : key->subkeys) names.push_back(sub->name);
  return names;
}

std::optional<std::vector<std::pair<std::string, RegValue>>> RegistryFile::Values(
    HKEY root, std::string_view path) {
  const RegKeyNode* key = Walk(Current().Root(root), path);
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
  Modify(root, [&](RegKeyNode& top, bool& changed) {
    MakeKey(top, *names, true, [&] { changed = true; });
    return true;
  });
}

bool RegistryFile::DeleteKey(HKEY root, std::string_view path) {
  const auto names = SplitKeyPath(path);
  if (!names || names->empty()) return false;  // a root key cannot be deleted
  return Modify(root, [&](RegKeyNode& top, bool& changed) {
    RegKeyNode* parent = Descend(top, std::span(*names).first(names->size() - 1));
    changed = parent && parent->subkeys.erase(Fold(names->back())) > 0;
    return changed;
  });
}

bool RegistryFile::SetValue(HKEY root, std::string_view path, std::string_view name,
                            const RegValue& value) {
  RequireStorable(name, "value name");
  if (value.kind == RegValue::Kind::String) RequireStorable(value.text, "text");
  return Modify(root, [&](RegKeyNode& top, bool& changed) {
    RegKeyNode* key = Walk(top, path);
    if (!key) return false;
    if (RegValue* old = key->FindValue(name)) {
      changed = *old != value;
      *old = value;
    } else {
      key->values.emplace_back(std::string(name), value);
      changed = true;
    }
    return true;
  });
}

bool RegistryFile::DeleteValue(HKEY root, std::string_view path, std::string_view name) {
  return Modify(root, [&](RegKeyNode& top, bool& changed) {
    RegKeyNode* key = Walk(top, path);
    if (!key) return false;
    // Names are unique without regard to case: at most one goes.
    const auto same = [&](const auto& entry) { return rtl::SameText(entry.first, name); };
    changed = std::erase_if(key->values, same) > 0;
    return changed;
  });
}

}  // namespace veskmath::win
