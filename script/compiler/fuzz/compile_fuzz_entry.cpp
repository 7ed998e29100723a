#include "compile_fuzz_entry.h"

#include <string_view>
#include <vector>

#include "telvane/script/asm_parser.h"
#include "telvane/script/basic_manager.h"
#include "telvane/script/preprocess.h"

namespace telvane::script {
namespace {

// Lowest frame slot: (0 locals - 100) - 255, the last of 256 frame names.
constexpr long long kLowestSlot = -100 - static_cast<long long>(Tpreprocess::kMaxFrameNames - 1);

std::string CheckListing(const std::vector<std::string>& listing, std::size_t callables) {
  if (listing.empty()) return "empty listing";
  const long long lines = static_cast<long long>(listing.size());
  for (const std::string& line : listing) {
    TasmParser p(line);
    const AsmToken first = p.Next();
    const AsmToken operand = p.Next();
    if (first.Kind == AsmKind::Comma || first.Kind == AsmKind::Integer) continue;
    if (first.Kind != AsmKind::Instruction) return "not an instruction: " + line;
    // a stray ELSE (not the last of its block) is the one pseudo-instruction left over
    if (!AsmOpExecutable(first.Op) && first.Op != AsmOp::Else) return "unresolved: " + line;
    // only integer operands are used as slots, targets or handles (and only they fit)
    const long long v = operand.Kind == AsmKind::Integer ? static_cast<long long>(operand.Value) : 0;
    switch (first.Op) {
      case AsmOp::Err: return "ERR after success: " + line;
      case AsmOp::Jump:
      case AsmOp::Popnjump:
      case AsmOp::Call:
        if (operand.Kind != AsmKind::Integer || v < 0 || v >= lines) return "jump outside: " + line;
        break;
      case AsmOp::Push:
      case AsmOp::PushStr:
      case AsmOp::PushPtr:
      case AsmOp::Popstore:
      case AsmOp::PopstoreStr:
      case AsmOp::PopstorePtr:
      case AsmOp::Forcycle:
        if (operand.Kind != AsmKind::Integer || v >= static_cast<long long>(Tpreprocess::kMaxGlobals) ||
            v < kLowestSlot)
          return "slot outside: " + line;
        break;
      case AsmOp::Callex:
      case AsmOp::CallexStr:
      case AsmOp::CallexPtr:
        if (operand.Kind != AsmKind::Integer || v < 0 || v >= static_cast<long long>(callables))
          return "handle outside: " + line;
        break;
      case AsmOp::Pushc:
        if (operand.Kind != AsmKind::Integer && operand.Kind != AsmKind::Real) return "bad number: " + line;
        break;
      case AsmOp::PushcStr:
        if (operand.Kind != AsmKind::String) return "bad text: " + line;
        break;
      default: break;
    }
  }
  return {};
}

}  // namespace

std::string CompileOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  TBasicManager m;
  m.SetBuiltinTables({{"abs@n"}, {"rnd@"}, {"rnd@n"}, {"len@$"}}, {{"mid$@$n"}, {"chr$@n"}},
                     {{"item$@$n"}, {"pointer#@n"}, {"message@$"}});
  std::vector<std::string> listing;
  const int32_t result = m.Compile(source, {{"exposure@n"}, {"SaveFit@$"}}, false, listing);
  if (result > 0) return "positive result";
  if (result < 0) {
    if (m.ErrorReport().rfind("ERROR", 0) != 0) return "error without report";
    return {};
  }
  return CheckListing(listing, m.Callables().size());
}

}  // namespace telvane::script
