// What the fuzz targets share: reading settings and parts from the input bytes, and the rule
// that only the library's own exceptions (rtl::Exception and its descendants) may leave a
// call. Anything else, like a broken invariant, is named on stderr and aborts the process, so
// that libFuzzer (or the replay program under ctest) reports the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <typeinfo>

#include <unistd.h>

#include "platform/rtl/SysUtils.h"

namespace veskmath::fuzz {

[[noreturn]] inline void Fault(std::string_view where, std::string_view what) {
  std::fprintf(stderr, "FUZZ FAULT in %.*s: %.*s\n", static_cast<int>(where.size()), where.data(),
               static_cast<int>(what.size()), what.data());
  std::fflush(stderr);
  std::abort();
}

inline void Require(bool condition, std::string_view where, std::string_view what) {
  if (!condition) Fault(where, what);
}

// Runs body and answers whether it returned normally; a library exception answers false.
template <class Body>
bool LibraryCall(std::string_view where, Body&& body) {
  try {
    body();
    return true;
  } catch (const rtl::Exception&) {
    return false;
  } catch (const std::exception& e) {
    Fault(where, std::string("foreign exception ") + typeid(e).name() + ": " + e.what());
  } catch (...) {
    Fault(where, "foreign exception of an unknown type");
  }
}

// Reads an input front to back; past its end reads answer zeros and empty texts.
class TInput {
 public:
  TInput(const uint8_t* data, size_t size)
      : FText(reinterpret_cast<const char*>(data), data ? size : 0) {}

  bool AtEnd() const { return FPos >= FText.size(); }
  uint8_t Byte() { return AtEnd() ? 0 : static_cast<uint8_t>(FText[FPos++]); }
  uint16_t U16() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }
  uint64_t U64() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t{Byte()} << (8 * i);
    return v;
  }
  // Up to n bytes.
  std::string_view Bytes(size_t n) {
    const std::string_view part = FText.substr(FPos, n);
    FPos += part.size();
    return part;
  }
  // The bytes up to the next delimiter (consumed, not included) or to the end.
  std::string_view Line(char delimiter = '\n') {
    const size_t end = FText.find(delimiter, FPos);
    const std::string_view line =
        FText.substr(FPos, end == std::string_view::npos ? std::string_view::npos : end - FPos);
    FPos = end == std::string_view::npos ? FText.size() : end + 1;
    return line;
  }
  std::string_view Rest() { return Bytes(std::string_view::npos); }

 private:
  std::string_view FText;
  size_t FPos = 0;
};

// A character setting taken from one input byte: below 0x80 mostly the usual choice
// (`usual` for even bytes, `other` for odd ones), so that most inputs run with settings a
// caller would use; from 0x80 on, the byte's low seven bits as they are.
inline char SettingChar(uint8_t b, char usual, char other) {
  if (b & 0x80) return static_cast<char>(b & 0x7F);
  return (b & 1) ? other : usual;
}

// Sets the process-wide decimal separator for one input and puts the old one back.
class TDecimalSeparatorScope {
 public:
  explicit TDecimalSeparatorScope(char separator) : FOld(rtl::DecimalSeparator()) {
    rtl::SetDecimalSeparator(separator);
  }
  TDecimalSeparatorScope(const TDecimalSeparatorScope&) = delete;
  TDecimalSeparatorScope& operator=(const TDecimalSeparatorScope&) = delete;
  ~TDecimalSeparatorScope() { rtl::SetDecimalSeparator(FOld); }

 private:
  char FOld;
};

// A private directory made once per process below $TMPDIR (or /tmp) and removed at exit, for
// targets that need files.
inline const std::string& PrivateDirectory() {
  struct TDirectory {
    std::string path;
    TDirectory() {
      const char* base = std::getenv("TMPDIR");
      std::string pattern = std::string(base && *base ? base : "/tmp") + "/veskmath-fuzz-XXXXXX";
      if (::mkdtemp(pattern.data()) == nullptr) Fault("PrivateDirectory", "mkdtemp failed");
      path = pattern;
    }
    ~TDirectory() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const TDirectory directory;
  return directory.path;
}

// Replaces the file's contents with bytes.
inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fault("WriteFile", path);
}

}  // namespace veskmath::fuzz
