// The real program of a compiled expression: its evaluation list once more, compiled for the
// usual case that every value it reads is real. Internal to the engine (not installed): the
// expression object knows it only through an incomplete type, so its layout can change
// without touching the library's interface.
//
// Made in three passes over one expression's list (RealProgram.cpp drives them):
//   lowering   (RealLower.cpp)    each list node becomes one instruction: an opcode and its
//                                 operands (an earlier instruction's value or a value's storage);
//   fusion     (RealFusion.cpp)   named rewrite rules merge instructions ("a*x+b*y" -> one sum);
//   selection  (RealRoutines.cpp) each instruction left gets its routine from one table, and
//                                 the nodes are laid out in evaluation order.
//
// Every routine computes what the list's routines compute for real operands (long double
// arithmetic, rounded to double where a node of the list stores its value), so both answer the
// same bits. The program runs while its guard holds: no value it reads (a variable, a named
// constant) holds a complex value at that moment; otherwise the list runs. It is made only for
// expressions whose every routine has a real form (no assignment, no routine that refuses or
// makes a complex value of real operands, no string comparison, no caller's function).
#pragma once

#include <cstddef>
#include <cstdint>

#include "parser/QelParseClass.h"

namespace veskmath::qel {

// One node of a real program. Run stores the node's value, then runs Next when there is one
// (a jump, so a short program runs as one chain of routines) and answers the value of the last.
struct TRealNode {
  static constexpr int kMaxTerms = 6;
  enum TTerm : uint8_t { tmPlain, tmProduct, tmQuotient };
  double (*Run)(TRealNode& node);
  TRealNode* Next;
  double Value;
  int32_t N;  // terms of a sum, factors of a chain
  double (*F1)(double);
  double (*F2)(double, double);
  double (*G1)(double);          // the second function of "sin(x)*cos(y)"-like nodes
  double (*G2)(double, double);  // ... and of "x^y+y^x"-like ones
  // Operands. In a sum, term k is A[k], A[k] * B[k] or A[k] / B[k] (by Kind[k]), added to the
  // terms before it, or subtracted when Minus[k]; in a chain, factor k multiplies, or divides
  // when Minus[k].
  const double* A[kMaxTerms];
  const double* B[kMaxTerms];
  TTerm Kind[kMaxTerms];
  bool Minus[kMaxTerms];
};
using TRealRoutine = double (*)(TRealNode& node);

// The program: a head node whose routine runs the nodes behind it, then those nodes. Up to
// kChained nodes are chained instead and run from the first (Entry), without the head: in an
// optimised build each routine jumps to the next, and in a debug one the calls nest no deeper
// than that. A lone value is read where it lives.
struct TRealProgram {
  static constexpr int kChained = 16;
  TRealNode Head;            // Run: runs Nodes to End, answers the last value
  TRealNode* Nodes;          // storage behind the program, allocated with the list
  TRealNode* End = nullptr;  // past the last node in use
  // IsCplx of every value read that can change kind; an expression reading more such values
  // has no real program.
  static constexpr int kMaxGuarded = 16;
  const bool* Guard[kMaxGuarded];
  int32_t Guarded = 0;
  // What an evaluation reads: a lone value's storage, else Entry(*EntryNode).
  const double* Lone = nullptr;
  TRealNode* EntryNode = nullptr;
  TRealRoutine Entry = nullptr;

  bool Holds() const {
    for (int32_t i = 0; i < Guarded; ++i)
      if (*Guard[i]) return false;
    return true;
  }
  double Run() const { return Lone != nullptr ? *Lone : Entry(*EntryNode); }
};

// Storage for the real program of a list of count nodes (made at most once, later): its bytes,
// and the program placed into them.
std::size_t RealProgramBytes(int32_t count);
TRealProgram* PlaceRealProgram(void* storage);

// Makes the program of a linked list (count nodes) into program; false when it cannot have one.
bool MakeRealProgram(const TExpressionRec* nodes, int32_t count, TRealProgram& program);

namespace real {

// --- the instruction list: what lowering makes and fusion rewrites ------------------------

enum class TCode : uint8_t {
  Add,
  Sub,
  Mul,
  Div,
  Neg,
  Same,
  Percent,
  Gt,
  Ge,
  Le,
  Lt,
  Ne,
  Eq,
  Call1,     // F1(a)
  Call2,     // F2(a, b)
  IntPower,  // a^n, n = b rounded at run time
  PowerBy,   // a^N, N fixed and small
  // made by fusion
  Sum,        // N terms (plain, product, quotient), each rounded as its node would; F1 of it
  Chain,      // N factors joined by * and /
  CallPair1,  // F1(a) op G1(b)
  CallPair2,  // F2(a, b) op G2(c, d)
  OfSums,  // L op R, Join * or /; each side A[0] (+|-) A[1] or A[0] alone (N: bit 0 left, 1 right)
  Dead,    // merged into the instruction that reads it
};

// An operand: the value of an earlier instruction, or a value's own storage.
struct TOperand {
  int32_t Instr = -1;
  const double* Value = nullptr;
  bool IsInstr() const { return Instr >= 0; }
};

struct TInstr {
  TCode Code = TCode::Dead;
  TRealOp Join = TRealOp::None;  // the step between the two calls of a call pair
  bool OfSum = false;            // Sum: F1 is applied to the sum's value
  int32_t N = 0;                 // Sum terms, Chain factors, PowerBy exponent
  double (*F1)(double) = nullptr;
  double (*F2)(double, double) = nullptr;
  double (*G1)(double) = nullptr;
  double (*G2)(double, double) = nullptr;
  TOperand A[TRealNode::kMaxTerms];
  TOperand B[TRealNode::kMaxTerms];
  TRealNode::TTerm Kind[TRealNode::kMaxTerms] = {};
  bool Minus[TRealNode::kMaxTerms] = {};
};

// The instructions of one list, in the list's order (operands before their readers; the root
// last), and the guard being gathered.
struct TDraft {
  TInstr* Instrs;
  int32_t Count;
  TRealProgram& Program;
};

// Lowering: one instruction per list node; false when some node has no real form or the
// program would guard too many values. A lone value lowers to no instruction: *lone is its
// storage.
bool Lower(const TExpressionRec* nodes, int32_t count, TDraft& draft, const double*& lone);
// Fusion: applies the rewrite rules from the root down.
void Fuse(TDraft& draft);
// Selection: the routine of an instruction fusion left.
TRealRoutine Select(const TInstr& instr);
// Routines that run a program as a whole.
double RunNodes(TRealNode& head);  // the head of a program of several nodes

}  // namespace real
}  // namespace veskmath::qel
