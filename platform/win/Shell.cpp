// ShellExecuteA over StartDetached: no shell, no wait.
#include "platform/win/Shell.h"

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/SysUtils.h"
#include "platform/win/Automation.h"
#include "platform/win/Process.h"

namespace veskmath::win {

namespace {

HINSTANCE FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return SE_ERR_FNF;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return SE_ERR_PNF;
    case EACCES:
    case EPERM:
      return SE_ERR_ACCESSDENIED;
    case ENOEXEC:
    case EISDIR:
      return ERROR_BAD_FORMAT;
    default:
      return SE_ERR_OOM;  // EAGAIN, ENOMEM: no room for another process
  }
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*owner*/, const char* verb, const char* file, const char* parameters,
                        const char* directory, int /*showCmd*/) {
  if (verb != nullptr && *verb != '\0' && rtl::LowerCase(verb) != "open") return SE_ERR_NOASSOC;
  if (file == nullptr || *file == '\0') return SE_ERR_FNF;
  std::vector<std::string> args = {file};
  if (parameters != nullptr) {
    // "/UnRegserver" -> {"/UnRegserver"}; "\"a b" -> refused: the quote never closes.
    const std::optional<std::vector<std::string>> split = SplitCommandLine(parameters);
    if (!split) return ERROR_BAD_FORMAT;
    args.insert(args.end(), split->begin(), split->end());
  }
  TStartOptions options;
  options.searchPath = std::string_view(file).find('/') == std::string_view::npos;
  if (directory != nullptr) options.directory = directory;
  if (StartDetached(args, options) < 0) return FromErrno(errno);
  return 42;
}

}  // namespace veskmath::win
