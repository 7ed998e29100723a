// The script compiler: source text -> intermediate listing -> (resolver) assembly listing.
//
// Not thread-safe: one TBasicManager compiles on one thread at a time (in the GUI, the
// user-interface thread). Compile errors never throw; they are returned and reported.
//
// Choices where the language leaves room or would misbehave:
// - error lines count CR, LF and CR LF alike, so a file with LF line ends reports the true
//   line (the resolver counts line markers, which agree);
// - a number literal beyond the double range is "Arithmetic overflow";
// - more than 500 distinct stored names ("Too many variables"), a function with more than
//   256 frame names or 100 LOCALs ("Too many parameters and locals") and nesting deeper
//   than kMaxNesting are compile errors, not wrong slots or a blown stack at run time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "telvane/script/basic_parser.h"
#include "telvane/script/callable.h"
#include "telvane/script/script_host.h"

namespace telvane::script {

class TBasicManager {
 public:
  // Deepest nesting of expressions, conditions and calls the compiler follows; deeper text
  // is refused with kTooDeep instead of exhausting the host's stack.
  static constexpr int kMaxNesting = 400;
  static constexpr std::string_view kTooDeep = "Expression too deeply nested";

  // The host shows compile errors when Compile is asked to; may be null.
  explicit TBasicManager(ScriptHost* host = nullptr) : host_(host) {}
  void SetHost(ScriptHost* host) { host_ = host; }

  // The built-in library's three tables, appended after the host's entries in this order.
  // Handed in by the owner so the compiler does not depend on the run-time library.
  void SetBuiltinTables(CallableTable numeric, CallableTable string, CallableTable other);

  // Compiles and resolves `source`. Returns 0 on success, the negated source line of the
  // first error, or -1 when the text ended with a block still open. On success `listing`
  // holds the assembly listing, whose CALLEX handles index Callables().
  int32_t Compile(std::string_view source, const CallableTable& hostEntries, bool showMessages,
                  std::vector<std::string>& listing);

  // The callable table of the last compile: host entries, then the built-ins.
  const CallableTable& Callables() const { return callables_; }
  // The listing as the compiler wrote it, before the resolver (for inspection).
  const std::vector<std::string>& IntermediateListing() const { return intermediate_; }
  // Of the last compile: the message alone ("Syntax"), the reported form
  // ("ERROR Line 3: Syntax", "ERROR:  FOR without NEXT"), and the line (0 when none or when
  // the end-of-text block check failed). All empty / 0 after a successful compile.
  const std::string& ErrorMessage() const { return errorMessage_; }
  const std::string& ErrorReport() const { return errorReport_; }
  int32_t ErrorLine() const { return errorLine_; }

 private:
  enum class Kind : uint8_t { Number, String, Pointer };

  // token access; positions past the end read the final end-of-text token
  const Token& Cur() const { return At(pos_); }
  const Token& At(std::size_t i) const;
  Tok CurKind() const { return Cur().Kind; }
  void Step() { ++pos_; }
  std::string CurText() const { return std::string(parser_.Text(Cur())); }

  void Emit(std::string line);
  void Error(std::string_view message);
  // An error was recorded by this statement (a pending FOR error does not count).
  bool Bad() const { return errors_ > pending_; }
  bool RefuseHuge();

  void Statement();
  void Assignment(Kind kind);
  void IfStatement();
  void ForStatement();
  void FunctionStatement();
  void EndfuncStatement();
  void PrintStatement();
  void InputStatement();
  void CheckOpenBlocks();

  void Condition();
  void Conjunction();
  void Negation();
  void Comparison();

  void NumExpr();
  void NumTerm();
  void NumPower();
  void NumPrimary();
  void StrExpr();
  void StrPrimary();
  void PtrExpr();
  void Expression(Kind kind);
  void Call(Kind kind);

  static bool StartsString(Tok t);
  static bool StartsPointer(Tok t);
  bool Enter();  // nesting guard; false (error recorded) when too deep
  int32_t LineOf(uint32_t offset) const;
  int32_t Fail(int32_t result, std::string report, bool showMessages);

  ScriptHost* host_ = nullptr;
  CallableTable builtins_[3];
  CallableTable callables_;
  TBasicParser parser_;
  std::string_view source_;
  std::size_t pos_ = 0;

  std::vector<std::string> intermediate_;
  int32_t openFor_ = 0, openIf_ = 0, openWhile_ = 0, openRepeat_ = 0;
  bool inFunction_ = false;
  Kind functionKind_ = Kind::Number;
  int32_t errors_ = 0;
  int32_t pending_ = 0;
  uint32_t errorOffset_ = 0;
  int depth_ = 0;
  bool ended_ = false;

  std::string errorMessage_;
  std::string errorReport_;
  int32_t errorLine_ = 0;
};

// A number as the listing carries it: general format, up to 15 significant digits, '.'.
std::string FormatListingNumber(double value);

}  // namespace telvane::script
