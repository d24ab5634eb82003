#include "MathSession.h"

#include <libintl.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "host/Setup.h"

namespace veskmath::hostui {

namespace {

const char* _(const char* text) { return ::dgettext(kTextDomain, text); }
#define N_(text) text

std::string Format(const char* pattern, const std::string& value) {
  std::string out = pattern;
  const std::size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

// Code points of a UTF-8 text (a broken sequence counts as one byte).
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 1;
    if (at + length > text.size()) length = 1;
    out.push_back(text.substr(at, length));
    at += length;
  }
  return out;
}

std::string Join(const std::vector<std::string_view>& characters, std::size_t from,
                 std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to && i < characters.size(); ++i) out += characters[i];
  return out;
}

std::string Utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string Hex(std::int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string WithDetail(std::string message, const std::string& detail) {
  if (!detail.empty()) message += ": " + Shorten(TranslateEngineMessage(detail));
  return message;
}

constexpr std::int32_t kServerExecFailure = static_cast<std::int32_t>(0x80080005);

// What the user reads when the converter could not answer, and what to do.
std::string Describe(const TAnswer& answer) {
  switch (answer.Problem) {
    case TProblem::None:
      break;
    case TProblem::RegistryUnreadable:
      return WithDetail(_("cannot read the host's list in the registry"), answer.Detail);
    case TProblem::NotInstalled:
      return _("no conversion plug-in is installed: run `veskmath` and choose Install");
    case TProblem::ClassNotRegistered:
      return _("the plug-in is listed but not registered: run `veskmath /regserver`");
    case TProblem::ServerFailed:
      if (answer.HResult == kServerExecFailure) {
        const std::string program = host::RegisteredServerProgram();
        if (!program.empty() && ::access(program.c_str(), X_OK) != 0) {
          return Format(_("the registered server %s no longer exists: run `veskmath /regserver`"),
                        program);
        }
      }
      return WithDetail(Format(_("the conversion server cannot start (%s)"), Hex(answer.HResult)),
                        answer.Detail);
    case TProblem::NoAnswer:
      return _("the conversion server does not answer; the next key tries again");
    case TProblem::CallFailed:
      return WithDetail(
          Format(_("the conversion failed (%s); the next key tries again"), Hex(answer.HResult)),
          answer.Detail);
  }
  return {};
}

bool IsQuit(std::string_view text) { return text == "quit"; }
bool IsList(std::string_view text) { return text == "list"; }

}  // namespace

void TMathSession::Restart() {
  FText.clear();
  FCursor = 0;
  ++FGeneration;
  FWaiting = TWait::None;
  FSlow = FQuitArmed = FListing = FFailed = false;
  FResult.clear();
  FReason.clear();
  FNotice.clear();
  FProblem.clear();
  FCandidates.clear();
}

std::size_t TMathSession::CursorByte() const { return Join(Characters(FText), 0, FCursor).size(); }

TStep TMathSession::Key(TKey key, char32_t character) {
  TStep step;
  std::vector<std::string_view> chars = Characters(FText);
  switch (key) {
    case TKey::Character:
      FText = Join(chars, 0, FCursor) + Utf8(character) + Join(chars, FCursor, chars.size());
      ++FCursor;
      Edited(step);
      break;
    case TKey::BackSpace:
      if (FText.empty()) {
        step.Leave = true;
      } else if (FCursor > 0) {
        FText = Join(chars, 0, FCursor - 1) + Join(chars, FCursor, chars.size());
        --FCursor;
        Edited(step);
      }
      break;
    case TKey::Delete:
      if (FCursor < chars.size()) {
        FText = Join(chars, 0, FCursor) + Join(chars, FCursor + 1, chars.size());
        Edited(step);
      }
      break;
    case TKey::Left:
      if (FCursor > 0) --FCursor;
      break;
    case TKey::Right:
      if (FCursor < chars.size()) ++FCursor;
      break;
    case TKey::Home:
      FCursor = 0;
      break;
    case TKey::End:
      FCursor = chars.size();
      break;
    case TKey::Escape:
      step.Leave = true;
      break;
    case TKey::Enter:
      if (FText.empty()) {
        step.Leave = true;
      } else if (FWaiting == TWait::Take) {
        // already asked
      } else if (IsQuit(FText) && !FQuitArmed) {
        FQuitArmed = true;  // forgetting every definition is asked twice
      } else if (IsQuit(FText) || HasSideEffects(FText)) {
        step = Request(TRequestKind::Take);
      } else if (FWaiting == TWait::None && (FFailed || !FCandidates.empty())) {
        step = Choose(0);  // a failed answer commits nothing: the text stays for editing
      } else {
        step = Request(TRequestKind::Take);  // the answer commits when it comes
      }
      break;
  }
  return step;
}

void TMathSession::Edited(TStep& step) {
  ++FGeneration;
  FQuitArmed = FListing = FFailed = false;
  FResult.clear();
  FReason.clear();
  FNotice.clear();
  FCandidates.clear();
  FWaiting = TWait::None;
  FSlow = false;
  if (!FText.empty() && !HasSideEffects(FText) && !IsQuit(FText)) {
    step = Request(TRequestKind::Preview);
  }
}

TStep TMathSession::Request(TRequestKind kind) {
  TStep step;
  step.Submit = true;
  step.Kind = kind;
  step.Started = true;
  FWaiting = kind == TRequestKind::Take ? TWait::Take : TWait::Preview;
  FSlow = false;
  return step;
}

TStep TMathSession::Choose(std::size_t index) {
  TStep step;
  if (index >= FCandidates.size()) return step;
  if (FListing) {
    // A definition from the list becomes the text, to be used or edited.
    FText = FCandidates[index];
    FCursor = Characters(FText).size();
    Edited(step);
    return step;
  }
  if (FFailed) return step;
  // The result shown is the one taken (a second read could differ: "random").
  step.Commit = FCandidates[index];
  step.Leave = true;
  step.Submit = true;
  step.Kind = TRequestKind::Start;
  return step;
}

TStep TMathSession::Answer(std::uint64_t generation, TRequestKind kind, const TAnswer& answer) {
  TStep step;
  if (answer.Problem != TProblem::None) {
    // A problem concerns the server, not the text: shown even when the text changed since.
    FProblem = Describe(answer);
    if (generation == FGeneration) FWaiting = TWait::None;
    FSlow = false;
    return step;
  }
  if (kind == TRequestKind::Connect || kind == TRequestKind::Start) {
    FProblem.clear();
    return step;
  }
  if (generation != FGeneration) return step;
  FProblem.clear();
  FWaiting = TWait::None;
  FSlow = false;
  FFailed = IsFailedAnswer(answer.Result);
  FReason = FFailed ? Shorten(TranslateEngineMessage(answer.Detail)) : std::string();
  if (IsList(FText)) {
    ShowList(answer.Result);
    return step;
  }
  if (kind == TRequestKind::Take) {
    if (FFailed) {
      FCandidates = {answer.Result};
      return step;
    }
    if (!IsQuit(FText) && !HasSideEffects(FText)) {
      ShowResult(answer.Result);
      return Choose(0);
    }
    // A definition or "quit": stored or forgotten, nothing goes into the document.
    FNotice = IsQuit(FText) ? std::string(_("every definition is forgotten"))
                            : Format(_("stored: %s"), FText + " (" + answer.Result + ")");
    const std::string kept = FNotice;
    Restart();
    FNotice = kept;
    return step;
  }
  ShowResult(answer.Result);
  return step;
}

void TMathSession::ShowResult(const std::string& result) {
  FResult = result;
  FCandidates.clear();
  if (FFailed) {
    FCandidates.push_back(result);
    return;
  }
  const std::string shown = FValueForm == TValueForm::Value ? ValueAlone(FText, result) : result;
  const std::string wide = FullWidth(shown);
  if (wide == shown) {
    FCandidates.push_back(shown);
  } else if (TypedFullWidth(FText)) {
    FCandidates = {wide, shown};
  } else {
    FCandidates = {shown, wide};
  }
}

void TMathSession::ShowList(const std::string& result) {
  // "a:=2 b:=3 ": each definition followed by a blank.
  FListing = true;
  FCandidates.clear();
  std::size_t at = 0;
  while (at < result.size()) {
    const std::size_t blank = result.find(' ', at);
    const std::size_t end = blank == std::string::npos ? result.size() : blank;
    if (end > at) FCandidates.push_back(result.substr(at, end - at));
    at = end + 1;
  }
}

bool TMathSession::Slow(std::uint64_t generation) {
  if (generation != FGeneration || FWaiting == TWait::None || FSlow) return false;
  FSlow = true;
  return true;
}

std::string TMathSession::Aux() const {
  std::string aux = _("Math: ");
  if (!FProblem.empty()) return aux + FProblem;
  if (FSlow) return aux + _("converting...");
  if (!FNotice.empty() && FText.empty()) return aux + FNotice;
  if (FText.empty()) {
    return aux + _("type an expression (1+2=, sin(pi/6), a:=2), Enter takes the result");
  }
  if (IsQuit(FText)) {
    return aux + (FQuitArmed ? _("Enter again forgets every definition, Escape keeps them")
                             : _("Enter forgets every definition"));
  }
  if (HasSideEffects(FText)) return aux + _("Enter stores the definition");
  if (FFailed) {
    return aux + (FReason.empty() ? std::string(_("no result: edit the expression"))
                                  : Format(_("no result: %s"), FReason));
  }
  if (FListing && FCandidates.empty()) return aux + _("no definitions");
  if (FListing) return aux + _("choose a definition to insert it");
  return aux;
}

std::string FullWidth(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == ' ') {
      out += Utf8(0x3000);
    } else if (c > ' ' && c < 0x7F) {
      out += Utf8(static_cast<char32_t>(c) - 0x21 + 0xFF01);
    } else {
      out += c;
    }
  }
  return out;
}

bool TypedFullWidth(std::string_view text) {
  // U+FF01..U+FF5E: EF BC 81..EF BD 9E in UTF-8.
  for (std::size_t at = 0; at + 2 < text.size(); ++at) {
    const auto b0 = static_cast<unsigned char>(text[at]);
    const auto b1 = static_cast<unsigned char>(text[at + 1]);
    if (b0 == 0xEF && (b1 == 0xBC || b1 == 0xBD)) return true;
  }
  return false;
}

std::string TranslateEngineMessage(const std::string& message) {
  // The engine's messages about one word: the word, then a fixed text.
  static const char* const kWordTexts[][2] = {
      {" is an unknown function", N_("%s is an unknown function")},
      {" has too many arguments", N_("%s has too many arguments")},
      {" needs its arguments in brackets", N_("%s needs its arguments in brackets")},
      {" takes one operand only", N_("%s takes one operand only")},
  };
  for (const auto& [suffix, pattern] : kWordTexts) {
    const std::string_view tail = suffix;
    if (message.size() > tail.size() &&
        message.compare(message.size() - tail.size(), tail.size(), tail) == 0) {
      return Format(_(pattern), message.substr(0, message.size() - tail.size()));
    }
  }
  static const char* const kTexts[] = {
      N_("Empty brackets ()"),
      N_("Syntax error: function or operand has too few arguments"),
      N_("Syntax error: empty expression"),
      N_("No expression found!"),
  };
  for (const char* text : kTexts) {
    if (message == text) return _(text);
  }
  return message;
}

std::string Shorten(const std::string& text, std::size_t characters) {
  const std::vector<std::string_view> chars = Characters(text);
  if (chars.size() <= characters) return text;
  return "…" + Join(chars, chars.size() - (characters - 1), chars.size());
}

}  // namespace veskmath::hostui
