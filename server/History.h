// The history file: the definitions the user typed, one per line, replayed before every
// conversion. ANSI text, CR LF after every line (the last included), no header; an empty
// history is a file of 0 bytes. It lives in the user's temporary directory as "log.txt" and
// is shared by every conversion object and every server process of the user.
//
// Readers never lock: writers replace the file atomically, so a reader sees either the old
// or the new contents. Writers serialise on an exclusive lock of the file itself (waiting at
// most win::LockTimeoutMs(), then failing with a message naming the file), re-read it
// under the lock and write the new contents to a temporary file that is renamed over it; two
// processes appending at once both keep their lines, and a crash mid-write leaves the old
// file in place. The file is never written through a symbolic link, never when something
// other than a regular file of this user stands at its path, and never when it could not be
// read first. The file and its temporaries are private (0600); an older file open to others is
// made private by the next writer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veskmath::server {

inline constexpr const char* kHistoryFileName = "log.txt";
// The most the history file may hold (about 10,000 definitions of a hundred characters): every
// conversion replays all of it.
inline constexpr std::size_t kMaxHistoryBytes = 1024 * 1024;

// The user's temporary directory followed by "log.txt"; empty when the system reports no
// usable temporary directory.
std::string HistoryFilePath();

class THistoryFile {
 public:
  // An empty path stands for "no history file": it reads as empty and refuses writes.
  explicit THistoryFile(std::string path) : FPath(std::move(path)) {}

  const std::string& Path() const { return FPath; }

  // Fills lines (cleared first) from the file. Lines end at CR LF, CR or LF; a last line
  // without a break counts, a final break adds no empty line. Answers false, leaving lines
  // empty, when the file is missing or cannot be read, or is not a regular file of this
  // user (a symbolic link, a directory, another user's file). Raises rtl::EReadError, naming
  // the file and what to do, when it holds more than kMaxHistoryBytes.
  bool Load(std::vector<std::string>& lines) const;

  // Adds one line: the whole list (the lines as Load reads them, then the new one) is saved
  // again, each line followed by CR LF. Temporary files that killed writers left are removed,
  // and a write beyond the file-size limit is a write error, not a fatal signal. Raises
  // rtl::EStreamError descendants when the file cannot be opened, locked, read or replaced, and
  // rtl::EWriteError for a line holding a CR or LF (it would come back as two lines) or one
  // that would take the file beyond kMaxHistoryBytes; the file is then unchanged.
  void Append(std::string_view line) const;

  // Leaves the file empty (0 bytes), creating it when missing, whatever its size was. Raises as
  // Append does.
  void Clear() const;

 private:
  template <class Edit>
  void Rewrite(bool readsOld, Edit&& edit) const;

  std::string FPath;
};

// Splits text into lines as Load does (exposed for the tests of odd line breaks).
void SplitHistoryText(std::string_view text, std::vector<std::string>& lines);

}  // namespace veskmath::server
