// ANSI code page configuration and the conversions, on iconv with per-thread descriptors.
#include "platform/win/CodePage.h"
#include "platform/win/TestHooks.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace veskmath::win {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the UTF-16 buffers are handed to iconv as UTF-16LE");
constexpr const char* kWide = "UTF-16LE";
constexpr const char* kDefaultCodePage = "CP932";
constexpr char16_t kReplacement = 0xFFFD;

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

bool IsUtf8Name(std::string_view name) {
  return rtl::SameText(name, "UTF-8") || rtl::SameText(name, "UTF8");
}

// "932" -> "CP932", "65001" -> "UTF-8", "utf8" -> "UTF-8"; other names stay as written.
std::string NormalizeName(std::string_view name) {
  if (IsUtf8Name(name) || name == "65001" || rtl::SameText(name, "CP65001")) return "UTF-8";
  const bool allDigits =
      !name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos;
  if (allDigits) return "CP" + std::string(name);
  return std::string(name);
}

// The system texts rely on ASCII meaning ASCII ("=", ":", digits, letters); a code page
// that moves any of the bytes 0x01..0x7F elsewhere (UTF-16, EBCDIC) is refused.
bool KeepsAscii(const std::string& name) {
  iconv_t cd = iconv_open(kWide, name.c_str());
  if (cd == kNoIconv) return false;
  char bytes[127];
  for (int i = 0; i < 127; ++i) bytes[i] = static_cast<char>(i + 1);
  char16_t units[128] = {};
  char* in = bytes;
  std::size_t inLeft = sizeof bytes;
  char* out = reinterpret_cast<char*>(units);
  std::size_t outLeft = sizeof units;
  const std::size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1) || inLeft != 0 || outLeft != sizeof(char16_t)) {
    return false;
  }
  for (int i = 0; i < 127; ++i) {
    if (units[i] != static_cast<char16_t>(i + 1)) return false;
  }
  return true;
}

struct Config {
  std::string name = kDefaultCodePage;
  bool utf8 = false;
};

std::mutex gConfigMutex;
Config gConfig;
std::atomic<std::uint64_t> gGeneration{0};  // 0: not configured yet
std::once_flag gEnvironmentOnce;

std::string gEnvironmentProblem;  // written once, under gEnvironmentOnce

enum class TConfigured { Yes, Unknown, MovesAscii };

TConfigured Configure(std::string_view requested) {
  // iconv would take "" as the C locale's charset
  if (requested.empty()) return TConfigured::Unknown;
  const std::string name = NormalizeName(requested);
  Config next;
  next.name = name;
  next.utf8 = IsUtf8Name(name);
  if (!next.utf8) {
    iconv_t probe = iconv_open(kWide, name.c_str());
    if (probe == kNoIconv) return TConfigured::Unknown;
    iconv_close(probe);
    if (!KeepsAscii(name)) return TConfigured::MovesAscii;
  }
  const std::lock_guard<std::mutex> lock(gConfigMutex);
  gConfig = next;
  gGeneration.fetch_add(1, std::memory_order_release);
  return TConfigured::Yes;
}

void ConfigureFromEnvironment() {
  std::call_once(gEnvironmentOnce, [] {
    const char* requested = std::getenv("VESKMATH_ACP");
    const TConfigured answer =
        requested == nullptr || *requested == '\0' ? TConfigured::Unknown : Configure(requested);
    if (answer == TConfigured::Yes) return;
    Configure(kDefaultCodePage);
    if (requested == nullptr || *requested == '\0') return;
    gEnvironmentProblem =
        std::string("VESKMATH_ACP=") + requested + ": \"" + requested +
        (answer == TConfigured::Unknown ? "\" is not a known code page (e.g. CP932, CP1252, UTF-8)"
                                        : "\" does not keep ASCII characters as they are");
  });
}

Config CurrentConfig() {
  ConfigureFromEnvironment();
  const std::lock_guard<std::mutex> lock(gConfigMutex);
  return gConfig;
}

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsAscii(std::u16string_view text) {
  for (const char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Runs one iconv conversion to completion. On input the descriptor cannot convert (or an
// incomplete sequence at the end), `onBad(in, inLeft, replacement)` sets the text to write
// instead and returns how many input bytes to skip (0 stops the conversion).
template <class OnBad>
void RunIconv(iconv_t cd, const char* input, std::size_t inputSize, std::string& out,
              std::size_t unitSize, OnBad onBad) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  char* in = const_cast<char*>(input);
  std::size_t inLeft = inputSize;
  std::size_t used = 0;
  out.resize(inputSize * 2 + 16);
  auto step = [&](char** src, std::size_t* srcLeft) {
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    const std::size_t r = iconv(cd, src, srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    return r == static_cast<std::size_t>(-1) ? errno : 0;
  };
  while (inLeft > 0) {
    const int error = step(&in, &inLeft);
    if (error == 0) break;
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ (not convertible) or EINVAL (incomplete sequence at the end).
    if (out.size() - used < 8) out.resize(out.size() * 2);
    std::string replacement;
    const std::size_t skip = onBad(in, inLeft, replacement);
    out.replace(used, replacement.size(), replacement);
    used += replacement.size();
    if (skip == 0) break;
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush a final shift sequence of stateful code pages.
  for (;;) {
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    const std::size_t r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<std::size_t>(-1) || errno != E2BIG) break;
    out.resize(out.size() * 2);
  }
  out.resize(used - used % unitSize);
}

// One iconv descriptor of the calling thread, for the UTF-8 conversions (glibc's own, which
// refuses overlong forms, surrogates and values above U+10FFFF as UTF-8 requires).
struct TDescriptor {
  iconv_t cd;
  TDescriptor(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  ~TDescriptor() {
    if (cd != kNoIconv) iconv_close(cd);
  }
};
thread_local TDescriptor tFromUtf8(kWide, "UTF-8");
thread_local TDescriptor tToUtf8("UTF-8", kWide);

// The calling thread's descriptors for the configured code page, reopened when the
// configuration changes; none under UTF-8.
struct ThreadConverters {
  std::uint64_t generation = 0;
  std::unique_ptr<TDescriptor> toWide, fromWide;
};
thread_local ThreadConverters tConverters;

// The descriptor from (toWide) or to the ANSI code page. Under UTF-8, or when the thread's
// descriptors could not be opened (out of resources), the UTF-8 one: texts are then read and
// written as UTF-8 rather than fail.
iconv_t AnsiDescriptor(bool toWide) {
  ConfigureFromEnvironment();
  ThreadConverters& t = tConverters;
  if (const std::uint64_t generation = gGeneration.load(std::memory_order_acquire);
      generation != t.generation) {
    const Config config = CurrentConfig();
    t.toWide.reset(config.utf8 ? nullptr : new TDescriptor(kWide, config.name.c_str()));
    t.fromWide.reset(config.utf8 ? nullptr : new TDescriptor(config.name.c_str(), kWide));
    t.generation = generation;
  }
  if (t.toWide && t.toWide->cd != kNoIconv && t.fromWide->cd != kNoIconv) {
    return toWide ? t.toWide->cd : t.fromWide->cd;
  }
  return toWide ? tFromUtf8.cd : tToUtf8.cd;
}

// Bytes of the descriptor's source code page -> UTF-16; one U+FFFD per byte that does not
// form a character.
std::u16string ToWide(iconv_t cd, std::string_view text) {
  std::string bytes;
  RunIconv(cd, text.data(), text.size(), bytes, sizeof(char16_t),
           [](const char*, std::size_t, std::string& replacement) {
             const char16_t r = kReplacement;
             replacement.assign(reinterpret_cast<const char*>(&r), sizeof r);
             return std::size_t{1};
           });
  std::u16string out(bytes.size() / sizeof(char16_t), u'\0');
  bytes.copy(reinterpret_cast<char*>(out.data()), out.size() * sizeof(char16_t));
  return out;
}

// UTF-16 -> the descriptor's target; `replacement` for each character it cannot represent
// (a surrogate pair is one character) and each lone surrogate.
std::string FromWide(iconv_t cd, std::u16string_view text, std::string_view replacement,
                     bool* usedDefaultChar) {
  std::string out;
  RunIconv(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t), out, 1,
           [&](const char* in, std::size_t inLeft, std::string& written) {
             written = replacement;
             if (usedDefaultChar) *usedDefaultChar = true;
             char16_t first = 0;
             char16_t second = 0;
             std::copy_n(in, sizeof first, reinterpret_cast<char*>(&first));
             if (inLeft >= 4) std::copy_n(in + 2, sizeof second, reinterpret_cast<char*>(&second));
             if (IsHighSurrogate(first) && IsLowSurrogate(second)) return std::size_t{4};
             return inLeft >= 2 ? std::size_t{2} : std::size_t{0};
           });
  return out;
}

}  // namespace

std::string AnsiCodePageName() { return CurrentConfig().name; }

std::string AnsiCodePageProblem() {
  ConfigureFromEnvironment();
  return gEnvironmentProblem;
}

bool SetAnsiCodePage(std::string_view name) {
  ConfigureFromEnvironment();  // so a later first use does not override the choice
  return Configure(name) == TConfigured::Yes;
}

std::u16string Utf8ToWide(std::string_view text) {
  if (IsAscii(text)) return std::u16string(text.begin(), text.end());
  return ToWide(tFromUtf8.cd, text);
}

std::size_t FirstInvalidUtf8(std::string_view text) {
  std::size_t bad = std::string_view::npos;
  std::string ignored;
  RunIconv(tFromUtf8.cd, text.data(), text.size(), ignored, sizeof(char16_t),
           [&](const char* in, std::size_t, std::string&) {
             bad = static_cast<std::size_t>(in - text.data());
             return std::size_t{0};
           });
  return bad;
}

std::string WideToUtf8(std::u16string_view text) {
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  return FromWide(tToUtf8.cd, text, "\xEF\xBF\xBD", nullptr);
}

std::u16string AnsiToWide(std::string_view text) {
  if (IsAscii(text)) return std::u16string(text.begin(), text.end());
  return ToWide(AnsiDescriptor(true), text);
}

std::string WideToAnsi(std::u16string_view text, bool* usedDefaultChar) {
  if (usedDefaultChar) *usedDefaultChar = false;
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  return FromWide(AnsiDescriptor(false), text, "?", usedDefaultChar);
}

std::u16string FirstUnrepresentable(std::u16string_view text) {
  bool lost = false;
  WideToAnsi(text, &lost);
  if (!lost) return {};  // the usual case: one conversion decides
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length =
        IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
    const std::u16string_view character = text.substr(i, length);
    WideToAnsi(character, &lost);
    if (lost) return std::u16string(character);
    i += length;
  }
  return {};
}

std::string AnsiToUtf8(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return WideToUtf8(AnsiToWide(text));
}

std::string Utf8ToAnsi(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return WideToAnsi(Utf8ToWide(text));
}

}  // namespace veskmath::win
