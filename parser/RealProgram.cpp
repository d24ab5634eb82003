// The real program's making: lowering, fusion and selection in turn (parser/RealProgram.h),
// then the nodes laid out in evaluation order in the storage the compile left behind the list.
#include "parser/RealProgram.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "parser/QelParseExpr.h"

namespace veskmath::qel {

namespace {

// Lays out the instructions fusion left as nodes, operands before their readers.
bool Emit(const real::TDraft& draft, int32_t* nodeOf, TRealProgram& program) {
  for (int32_t i = 0; i < draft.Count; ++i) {
    const real::TInstr& instr = draft.Instrs[i];
    if (instr.Code == real::TCode::Dead) continue;
    const TRealRoutine run = real::Select(instr);
    if (run == nullptr) return false;
    nodeOf[i] = static_cast<int32_t>(program.End - program.Nodes);
    TRealNode& node = *new (program.End++) TRealNode{};
    node.Run = run;
    node.N = instr.N;
    node.F1 = instr.F1;
    node.F2 = instr.F2;
    node.G1 = instr.G1;
    node.G2 = instr.G2;
    const auto at = [&](const real::TOperand& o) {
      return o.IsInstr() ? &program.Nodes[nodeOf[o.Instr]].Value : o.Value;
    };
    for (int k = 0; k < TRealNode::kMaxTerms; ++k) {
      node.A[k] = at(instr.A[k]);
      node.B[k] = at(instr.B[k]);
      node.Kind[k] = instr.Kind[k];
      node.Minus[k] = instr.Minus[k];
    }
  }
  return program.End != program.Nodes;
}

}  // namespace

std::size_t RealProgramBytes(int32_t count) {
  static_assert(alignof(TRealProgram) <= alignof(std::max_align_t));
  return sizeof(TRealProgram) + static_cast<std::size_t>(count) * sizeof(TRealNode);
}

TRealProgram* PlaceRealProgram(void* storage) {
  auto* program = new (storage) TRealProgram{};
  program->Nodes = reinterpret_cast<TRealNode*>(program + 1);
  program->End = program->Nodes;
  return program;
}

bool MakeRealProgram(const TExpressionRec* nodes, int32_t count, TRealProgram& program) {
  program.End = program.Nodes;
  program.Guarded = 0;
  program.Lone = nullptr;
  const auto instrs = std::make_unique<real::TInstr[]>(static_cast<std::size_t>(count));
  const auto nodeOf = std::make_unique<int32_t[]>(static_cast<std::size_t>(count));
  real::TDraft draft{instrs.get(), count, program};
  const double* lone = nullptr;
  if (!real::Lower(nodes, count, draft, lone)) return false;
  if (lone != nullptr) {
    program.Lone = lone;
    return true;
  }
  real::Fuse(draft);
  if (!Emit(draft, nodeOf.get(), program)) return false;
  // A short program runs as a chain from its first node; a long one through the head, which
  // runs the nodes in order. Either way the root's value, laid out last, is the answer.
  const bool chained = program.End - program.Nodes <= TRealProgram::kChained;
  if (chained)
    for (TRealNode* n = program.Nodes; n + 1 != program.End; ++n) n->Next = n + 1;
  program.Head.Run = real::RunNodes;
  program.EntryNode = chained ? program.Nodes : &program.Head;
  program.Entry = program.EntryNode->Run;
  return true;
}

void TQelExpression1::Promote() {
  TCompiled* const compiled = FWaiting;
  compiled->Promoted = true;
  compiled->HasReal = compiled->Real != nullptr &&
                      MakeRealProgram(compiled->Nodes.get(), compiled->Count, *compiled->Real);
  SetCurrent(compiled);
}

}  // namespace veskmath::qel
