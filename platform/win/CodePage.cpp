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
#include <numeric>

namespace veskmath::win {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the UTF-16 buffers are handed to iconv as UTF-16LE");
constexpr const char* kWide = "UTF-16LE";
constexpr const char* kDefaultCodePage = "CP932";
constexpr const char* kUtf8 = "UTF-8";
constexpr char16_t kReplacement = 0xFFFD;

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// The units of the character at `at`: 2 for a surrogate pair, else 1.
std::size_t UnitsAt(std::u16string_view text, std::size_t at) {
  const bool pair = at + 1 < text.size() && text[at] >= 0xD800 && text[at] <= 0xDBFF &&
                    text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
  return pair ? 2 : 1;
}

template <class Text>
bool IsAscii(const Text& text) {
  return std::ranges::all_of(text, [](auto c) { return static_cast<std::uint32_t>(c) < 0x80; });
}

// Converts `input` with `cd`, appending to `out`. Where iconv stops at input it cannot
// convert (or at an incomplete sequence at the end), `onBad(at, left, out)` may append a
// replacement and returns how many input bytes to skip; 0 ends the conversion there.
template <class Char, class OnBad>
void RunIconv(iconv_t cd, std::string_view input, std::basic_string<Char>& out, OnBad onBad) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  Char chunk[1024];
  for (bool flushed = false; !flushed;) {
    char* dst = reinterpret_cast<char*>(chunk);
    std::size_t dstLeft = sizeof chunk;
    // Once the input is used up, a null source writes a final shift sequence.
    flushed = inLeft == 0;
    const bool stopped =
        iconv(cd, flushed ? nullptr : &in, &inLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1);
    const int error = stopped ? errno : 0;
    out.append(chunk, (sizeof chunk - dstLeft) / sizeof(Char));  // iconv writes whole characters
    if (error == E2BIG) {
      flushed = false;
    } else if (stopped && !flushed) {  // EILSEQ, or EINVAL for a sequence cut off at the end
      const std::size_t skip = std::min(onBad(in, inLeft, out), inLeft);
      in += skip;
      inLeft = skip == 0 ? 0 : inLeft - skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

// Source code page -> UTF-16; one U+FFFD per byte that forms no character.
std::u16string ToWide(iconv_t cd, std::string_view text) {
  std::u16string out;
  RunIconv(cd, text, out, [](const char*, std::size_t, std::u16string& written) {
    written.push_back(kReplacement);
    return std::size_t{1};
  });
  return out;
}

// UTF-16 -> the descriptor's target; `replacement` for each character it cannot represent
// (a surrogate pair is one character) and each lone surrogate.
std::string FromWide(iconv_t cd, std::u16string_view text, std::string_view replacement,
                     bool* usedDefaultChar) {
  const std::string_view bytes(reinterpret_cast<const char*>(text.data()),
                               text.size() * sizeof(char16_t));
  std::string out;
  RunIconv(cd, bytes, out, [&](const char* in, std::size_t, std::string& written) {
    written += replacement;
    if (usedDefaultChar) *usedDefaultChar = true;
    const std::size_t at = static_cast<std::size_t>(in - bytes.data()) / sizeof(char16_t);
    return UnitsAt(text, at) * sizeof(char16_t);
  });
  return out;
}

// An iconv descriptor that closes itself.
struct TDescriptor {
  iconv_t cd;
  TDescriptor(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  ~TDescriptor() {
    if (cd != kNoIconv) iconv_close(cd);
  }
};

// The calling thread's descriptors for the UTF-8 conversions (glibc's own, which refuses
// overlong forms, surrogates and values above U+10FFFF as UTF-8 requires).
thread_local TDescriptor tFromUtf8(kWide, "UTF-8");
thread_local TDescriptor tToUtf8("UTF-8", kWide);

// "932" -> "CP932", "65001" -> "UTF-8", "utf8" -> "UTF-8"; other names stay as written.
std::string NormalizeName(std::string_view name) {
  for (const char* utf8 : {"UTF-8", "UTF8", "65001", "CP65001"}) {
    if (rtl::SameText(name, utf8)) return kUtf8;
  }
  const bool allDigits =
      !name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos;
  return (allDigits ? "CP" : "") + std::string(name);
}

std::mutex gConfigMutex;
std::string gCodePage = kDefaultCodePage;   // as NormalizeName writes it
std::atomic<std::uint64_t> gGeneration{1};  // a thread's descriptors start at 0: none
std::once_flag gEnvironmentOnce;

std::string gEnvironmentProblem;  // written once, under gEnvironmentOnce

enum class TConfigured { Yes, Unknown, MovesAscii };

TConfigured Configure(std::string_view requested) {
  // iconv would take "" as the C locale's charset
  if (requested.empty()) return TConfigured::Unknown;
  const std::string name = NormalizeName(requested);
  if (name != kUtf8) {
    const TDescriptor probe(kWide, name.c_str());
    if (probe.cd == kNoIconv) return TConfigured::Unknown;
    // The system texts rely on ASCII meaning ASCII ("=", ":", digits, letters); a code page
    // that moves any of the bytes 0x01..0x7F elsewhere (UTF-16, EBCDIC) is refused.
    std::string ascii(127, '\0');
    std::iota(ascii.begin(), ascii.end(), '\x01');
    if (ToWide(probe.cd, ascii) != std::u16string(ascii.begin(), ascii.end())) {
      return TConfigured::MovesAscii;
    }
  }
  const std::lock_guard<std::mutex> lock(gConfigMutex);
  gCodePage = name;
  gGeneration.fetch_add(1, std::memory_order_release);
  return TConfigured::Yes;
}

void ConfigureFromEnvironment() {
  std::call_once(gEnvironmentOnce, [] {
    const char* requested = std::getenv("VESKMATH_ACP");
    if (requested == nullptr || *requested == '\0') return;
    const TConfigured answer = Configure(requested);
    if (answer == TConfigured::Yes) return;  // otherwise CP932 stays
    gEnvironmentProblem =
        std::string("VESKMATH_ACP=") + requested + ": \"" + requested +
        (answer == TConfigured::Unknown ? "\" is not a known code page (e.g. CP932, CP1252, UTF-8)"
                                        : "\" does not keep ASCII characters as they are");
  });
}

// The calling thread's descriptors for the configured code page, reopened when the
// configuration changes; none under UTF-8.
struct ThreadConverters {
  std::uint64_t generation = 0;
  std::unique_ptr<TDescriptor> toWide, fromWide;
};
thread_local ThreadConverters tConverters;

// The descriptor from (toWide) or to the ANSI code page; the UTF-8 one under UTF-8 or when
// the thread's could not be opened (out of resources): texts are then UTF-8 rather than fail.
iconv_t AnsiDescriptor(bool toWide) {
  ConfigureFromEnvironment();
  ThreadConverters& t = tConverters;
  if (const std::uint64_t generation = gGeneration.load(std::memory_order_acquire);
      generation != t.generation) {
    const std::string name = AnsiCodePageName();
    t.toWide.reset(name == kUtf8 ? nullptr : new TDescriptor(kWide, name.c_str()));
    t.fromWide.reset(name == kUtf8 ? nullptr : new TDescriptor(name.c_str(), kWide));
    t.generation = generation;
  }
  if (t.toWide && t.toWide->cd != kNoIconv && t.fromWide->cd != kNoIconv) {
    return toWide ? t.toWide->cd : t.fromWide->cd;
  }
  return toWide ? tFromUtf8.cd : tToUtf8.cd;
}

}  // namespace

std::string AnsiCodePageName() {
  ConfigureFromEnvironment();
  const std::lock_guard<std::mutex> lock(gConfigMutex);
  return gCodePage;
}

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
  std::u16string ignored;
  RunIconv(tFromUtf8.cd, text, ignored, [&](const char* in, std::size_t, std::u16string&) {
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
    const std::u16string_view character = text.substr(i, UnitsAt(text, i));
    WideToAnsi(character, &lost);
    if (lost) return std::u16string(character);
    i += character.size();
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
