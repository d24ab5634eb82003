// What a key does in math mode, for every input-method host (the Fcitx5 add-on and the IBus
// engine): the text and its cursor, the candidates, the auxiliary text, what is asked of the
// converter and what is committed. No framework header is needed; a host maps its keys to TKey,
// hands the answers back, shows Preedit/Cursor/Aux/Candidates and carries out the TStep returned.
//
// Defaults a user meets: a definition ("a:=2") or "quit" is converted only on Enter and
// commits nothing (the auxiliary text says what happened; "quit" asks for a second Enter);
// "list" offers the definitions as candidates, choosing one inserts its text; a full-width
// expression is offered in full width first and half width second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Converter.h"

namespace veskmath::hostui {

// The gettext domain of the hosts' texts (veskmath.mo), which each host binds to its folder.
inline constexpr const char* kTextDomain = "veskmath";

enum class TKey { Character, BackSpace, Delete, Left, Right, Home, End, Enter, Escape };

// What the host does after a key, an answer or a choice.
struct TStep {
  bool Leave = false;   // leave math mode (after committing Commit, when set)
  std::string Commit;   // put this text into the document
  bool Submit = false;  // ask the converter: Kind for Notation(), answer for Generation()
  TRequestKind Kind = TRequestKind::Preview;
  bool Started = false;  // a request is now on its way: the host starts its "slow" timer
};

enum class TValueForm { Result, Value };  // what a result commits: as returned, or its value

class TMathSession {
 public:
  // Entering (or leaving) math mode: an empty text; every answer on its way is stale.
  void Restart();
  TStep Key(TKey key, char32_t character = 0);
  // Takes the candidate `index` (a click, or Enter on the first).
  TStep Choose(std::size_t index);
  TStep Answer(std::uint64_t generation, TRequestKind kind, const TAnswer& answer);
  // The host's timer: the answer for `generation` is late; true when the aux changed.
  bool Slow(std::uint64_t generation);

  void SetValueForm(TValueForm form) { FValueForm = form; }

  const std::string& Notation() const { return FText; }
  std::uint64_t Generation() const { return FGeneration; }
  std::size_t CursorByte() const;
  // The auxiliary text (translated), never empty in math mode.
  std::string Aux() const;
  const std::vector<std::string>& Candidates() const { return FCandidates; }
  // The problem the last failing answer reported, for the host's log; empty when none.
  const std::string& Problem() const { return FProblem; }

 private:
  enum class TWait { None, Preview, Take };
  void Edited(TStep& step);
  TStep Request(TRequestKind kind);
  void ShowResult(const std::string& result);
  void ShowList(const std::string& result);

  std::string FText;              // UTF-8
  std::size_t FCursor = 0;        // in characters
  std::uint64_t FGeneration = 0;  // counts changes of the text: older answers are stale
  TWait FWaiting = TWait::None;
  bool FSlow = false;       // the answer is late (the host's timer said so)
  bool FQuitArmed = false;  // "quit" and Enter once: the next Enter forgets
  bool FListing = false;    // the candidates are the definitions of "list"
  bool FFailed = false;     // the answer was "?": nothing to commit
  std::string FResult;      // the answer for the current text, as returned
  std::string FReason;      // why it failed, translated
  std::string FNotice;      // the problem, or what Enter did
  std::string FProblem;
  std::vector<std::string> FCandidates;
  TValueForm FValueForm = TValueForm::Result;
};

// Full-width forms of a text's ASCII characters ("1+2= 3" -> "１＋２＝　３"); true when a
// text holds any full-width form, so that its results are offered in full width first.
std::string FullWidth(std::string_view text);
bool TypedFullWidth(std::string_view text);
// The engine's fixed messages in the user's language ("sni is an unknown function" ->
// "sni は未知の関数です"); other texts unchanged.
std::string TranslateEngineMessage(const std::string& message);
// A text for one line of the panel: longer ones keep their end (where the reason is).
std::string Shorten(const std::string& text, std::size_t characters = 80);

}  // namespace veskmath::hostui
