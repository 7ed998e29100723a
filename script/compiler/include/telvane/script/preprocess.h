// The listing resolver: rewrites the compiler's intermediate listing in place into the
// assembly listing (variable slots, label and block jumps, bound calls).
//
// Reentrant; one object per compile, used by one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telvane/script/asm_parser.h"
#include "telvane/script/callable.h"

namespace telvane::script {

enum class ResolveError : uint8_t {
  None = 0,
  LabelNotFound = 1,
  UnassignedVariable = 2,
  UnknownFunction = 3,
  // Beyond what the executive can hold; compile errors rather than wrong slots at run time.
  TooManyVariables = 4,
  TooManyFrameNames = 5,
};

// Message reported for a resolver error ("Unknown Label", ...).
std::string_view ResolveErrorMessage(ResolveError e);

class Tpreprocess {
 public:
  // The executive's global table; more distinct stored names cannot get a slot.
  static constexpr std::size_t kMaxGlobals = 500;
  // A function's frame names: its LOCALs, three placeholders and its parameters.
  static constexpr std::size_t kMaxFrameNames = 256;

  // Runs every pass over `listing`. Returns the error reported last (None on success);
  // ErrorLine() is then the 1-based source line, counted by line markers.
  ResolveError Resolve(std::vector<std::string>& listing, const CallableTable& callables);

  int32_t ErrorLine() const { return errorLine_; }

 private:
  struct LineKind {
    AsmKind Kind = AsmKind::EndOfText;
    AsmOp Op = AsmOp::End;
    bool Is(AsmOp op) const { return Kind == AsmKind::Instruction && Op == op; }
  };

  void SetError(ResolveError e, std::size_t line) {
    error_ = e;
    errorIndex_ = line;
  }
  void PassKinds();
  void PassLineMarkers();
  void PassVariables();
  void PassLabels();
  void PassSingleLineIf();
  void PassBlockIf();
  void PassBreakContinue();
  void PassRepeat();
  void PassWhile();
  void PassCalls(const CallableTable& callables);
  void PassFunctions();

  std::vector<std::string>* listing_ = nullptr;
  std::vector<LineKind> kinds_;
  struct UserFunction {
    std::string Key;  // upper-cased "<name>@<signature>"
    std::size_t Line;
  };
  std::vector<UserFunction> functions_;
  ResolveError error_ = ResolveError::None;
  std::size_t errorIndex_ = 0;
  int32_t errorLine_ = 0;
};

}  // namespace telvane::script
