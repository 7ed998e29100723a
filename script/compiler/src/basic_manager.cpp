#include "telvane/script/basic_manager.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

#include "telvane/script/asm_parser.h"
#include "telvane/script/preprocess.h"

namespace telvane::script {
namespace {

// Trailing blanks the compiler writes after every line; they mean nothing to the resolver.
constexpr std::string_view kLinePad = "   ";
constexpr std::size_t kMaxArguments = 31;
constexpr double kMaxStringCut = 1000;  // largest k in  a$ - k

bool In(Tok t, std::initializer_list<Tok> set) { return std::find(set.begin(), set.end(), t) != set.end(); }

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

struct DepthGuard {
  int& Depth;
  explicit DepthGuard(int& d) : Depth(d) { ++Depth; }
  ~DepthGuard() { --Depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

}  // namespace

std::string FormatListingNumber(double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  // Within 15 digits of the largest double the rounded text lies beyond the double range
  // and would not read back; those few values keep the shortest text that does.
  double back = 0.0;
  if (ParseNumber(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), back) == NumberStatus::OutOfRange)
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general);
  std::string s(buf, r.ptr);
  // "1e+15" -> "1E15", "1e-05" -> "1E-5": short, and read back by the assembly tokenizer
  const std::size_t e = s.find('e');
  if (e != std::string::npos) {
    std::string out = s.substr(0, e) + "E";
    std::size_t i = e + 1;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      if (s[i] == '-') out += '-';
      ++i;
    }
    while (i + 1 < s.size() && s[i] == '0') ++i;
    out += s.substr(i);
    s = out;
  }
  return s;
}

void TBasicManager::SetBuiltinTables(CallableTable numeric, CallableTable string, CallableTable other) {
  builtins_[0] = std::move(numeric);
  builtins_[1] = std::move(string);
  builtins_[2] = std::move(other);
}

const Token& TBasicManager::At(std::size_t i) const {
  const std::vector<Token>& t = parser_.Tokens();
  return i < t.size() ? t[i] : t.back();
}

void TBasicManager::Emit(std::string line) {
  line += kLinePad;
  intermediate_.push_back(std::move(line));
}

void TBasicManager::Error(std::string_view message) {
  errorMessage_ = message;
  ++errors_;
  errorOffset_ = Cur().Offset;
}

bool TBasicManager::RefuseHuge() {
  if (CurKind() != Tok::HugeNumber) return false;
  Error("Arithmetic overflow");
  return true;
}

bool TBasicManager::StartsString(Tok t) { return In(t, {Tok::String, Tok::StrVar, Tok::StrIndexed, Tok::StrFunc}); }
bool TBasicManager::StartsPointer(Tok t) { return In(t, {Tok::PtrVar, Tok::PtrIndexed, Tok::PtrFunc}); }

bool TBasicManager::Enter() {
  if (depth_ <= kMaxNesting) return true;
  Error(kTooDeep);
  return false;
}

int32_t TBasicManager::LineOf(uint32_t offset) const {
  // CR, LF and CR LF each end one line, as the tokenizer counts them.
  int32_t line = 1;
  const std::size_t end = std::min<std::size_t>(offset, source_.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (source_[i] == '\r' || (source_[i] == '\n' && (i == 0 || source_[i - 1] != '\r'))) ++line;
  }
  return line;
}

int32_t TBasicManager::Fail(int32_t result, std::string report, bool showMessages) {
  errorReport_ = std::move(report);
  if (showMessages && host_ != nullptr) host_->showMessage(errorReport_);
  return result;
}

int32_t TBasicManager::Compile(std::string_view source, const CallableTable& hostEntries, bool showMessages,
                               std::vector<std::string>& listing) {
  openFor_ = openIf_ = openWhile_ = openRepeat_ = 0;
  inFunction_ = false;
  functionKind_ = Kind::Number;
  errors_ = pending_ = 0;
  errorOffset_ = 0;
  depth_ = 0;
  ended_ = false;
  errorMessage_.clear();
  errorReport_.clear();
  errorLine_ = 0;
  intermediate_.clear();
  callables_.clear();
  listing.clear();
  source_ = source;
  pos_ = 0;

  const bool fits = parser_.Tokenize(source);
  if (!fits) Error("Source too big");

  while (errors_ == 0) {
    if (CurKind() == Tok::LineEnd) Emit(",");
    Step();
    if (CurKind() == Tok::Integer && At(pos_ - 1).Kind == Tok::LineEnd) {
      Emit(std::to_string(static_cast<long long>(Cur().Value)));
      Step();
    }
    Statement();
    if (errors_ == 0 && !In(CurKind(), {Tok::EndOfText, Tok::Colon, Tok::LineEnd, Tok::Integer, Tok::KwThen}))
      Error("Syntax");
    if (errors_ > 0 || ended_) break;
  }
  if (errors_ > 0) {
    errorLine_ = LineOf(errorOffset_);
    return Fail(-errorLine_, "ERROR Line " + std::to_string(errorLine_) + ": " + errorMessage_, showMessages);
  }

  CheckOpenBlocks();
  if (errors_ > 0) return Fail(-1, "ERROR:  " + errorMessage_, showMessages);

  callables_.reserve(hostEntries.size() + builtins_[0].size() + builtins_[1].size() + builtins_[2].size());
  callables_.insert(callables_.end(), hostEntries.begin(), hostEntries.end());
  for (const CallableTable& t : builtins_) callables_.insert(callables_.end(), t.begin(), t.end());

  listing = intermediate_;
  Tpreprocess resolver;
  const ResolveError err = resolver.Resolve(listing, callables_);
  if (err != ResolveError::None) {
    errorMessage_ = ResolveErrorMessage(err);
    errorLine_ = std::max(1, resolver.ErrorLine());
    return Fail(-errorLine_, "ERROR Line " + std::to_string(errorLine_) + ": " + errorMessage_, showMessages);
  }
  return 0;
}

void TBasicManager::CheckOpenBlocks() {
  // Every open block is recorded; the last one recorded is the one reported.
  if (openFor_ > 0) Error("FOR without NEXT");
  if (openIf_ > 0) Error("IF without ENDIF");
  if (openWhile_ > 0) Error("WHILE without ENDWHILE");
  if (openRepeat_ > 0) Error("REPEAT without UNTIL");
}

void TBasicManager::Statement() {
  const Tok k = CurKind();
  switch (k) {
    case Tok::NumVar: Assignment(Kind::Number); return;
    case Tok::StrVar: Assignment(Kind::String); return;
    case Tok::PtrVar: Assignment(Kind::Pointer); return;
    case Tok::NumFunc:
    case Tok::StrFunc:
    case Tok::PtrFunc:
      Expression(k == Tok::NumFunc ? Kind::Number : k == Tok::StrFunc ? Kind::String : Kind::Pointer);
      if (!Bad()) Emit("POP");
      return;
    case Tok::Integer: {
      const long long n = static_cast<long long>(Cur().Value);
      if (At(pos_ - 1).Kind == Tok::KwThen) {
        if (n == 0)
          Error("Unknown Label");
        else
          Emit("JUMP " + std::to_string(n));
      } else {
        Emit(std::to_string(n));
      }
      return;  // the number stays current and ends the statement
    }
    case Tok::HugeNumber: RefuseHuge(); return;
    case Tok::KwGoto:
    case Tok::KwGosub: {
      const bool isGoto = k == Tok::KwGoto;
      if (inFunction_) {
        Error(isGoto ? "GOTO inside a function" : "GOSUB inside a function");
        return;
      }
      Step();
      if (RefuseHuge()) return;
      if (CurKind() != Tok::Integer) {
        Error("Label expected");
        return;
      }
      const long long n = static_cast<long long>(Cur().Value);
      if (n == 0) {
        Error("Unknown Label");
        return;
      }
      Emit((isGoto ? "JUMP " : "CALL ") + std::to_string(n));
      Step();
      return;
    }
    case Tok::KwReturn:
      Step();
      if (inFunction_) {
        Expression(functionKind_);
        if (!Bad()) Emit("RETFUNC");
      } else {
        Emit("RETURN");
      }
      return;
    case Tok::KwIf: IfStatement(); return;
    case Tok::KwElse:
      if (openIf_ == 0) return Error("ELSE without IF");
      Emit("ELSE");
      Step();
      return;
    case Tok::KwEndif:
      if (openIf_ == 0) return Error("ENDIF without IF");
      Emit("ENDIF");
      --openIf_;
      Step();
      return;
    case Tok::KwFor: ForStatement(); return;
    case Tok::KwNext:
      if (openFor_ == 0) return Error("NEXT without FOR");
      Emit("ENDWHILE");
      --openFor_;
      Step();
      if (CurKind() == Tok::NumVar) Step();  // not compared with the FOR variable
      return;
    case Tok::KwWhile: {
      Step();
      const std::size_t w = intermediate_.size();
      Condition();
      if (Bad()) return;
      Emit("WHILE " + std::to_string(w));
      ++openWhile_;
      return;
    }
    case Tok::KwEndwhile:
      if (openWhile_ == 0) return Error("ENDWHILE without WHILE");
      Emit("ENDWHILE");
      --openWhile_;
      Step();
      return;
    case Tok::KwRepeat:
      Emit("REPEAT");
      ++openRepeat_;
      Step();
      return;
    case Tok::KwUntil: {
      if (openRepeat_ == 0) return Error("UNTIL without REPEAT");
      Step();
      const std::size_t u = intermediate_.size();
      Condition();
      if (Bad()) return;
      Emit("UNTIL " + std::to_string(u));
      --openRepeat_;
      return;
    }
    case Tok::KwBreak:
    case Tok::KwContinue:
      if (openFor_ + openWhile_ + openRepeat_ == 0)
        return Error(k == Tok::KwBreak ? "Misplaced BREAK" : "Misplaced CONTINUE");
      Emit(k == Tok::KwBreak ? "BREAK" : "CONTINUE");
      Step();
      return;
    case Tok::KwFunction: FunctionStatement(); return;
    case Tok::KwEndfunc: EndfuncStatement(); return;
    case Tok::KwPrint: PrintStatement(); return;
    case Tok::KwInput: InputStatement(); return;
    case Tok::KwCls:
      Emit("CLS");
      Step();
      return;
    case Tok::KwEnd:
      Emit("END");
      Step();
      return;
    case Tok::Colon:
    case Tok::LineEnd: return;
    case Tok::EndOfText:
      Emit("END");
      ended_ = true;
      return;
    default: Error("Unknown instruction"); return;
  }
}

void TBasicManager::Assignment(Kind kind) {
  const std::string name = CurText();
  Step();
  if (CurKind() != Tok::Eq) return Error("= expected");
  Step();
  Expression(kind);
  if (Bad()) return;
  static constexpr std::string_view kStore[] = {"POPSTORE @", "POPSTORE$ @", "POPSTORE# @"};
  Emit(std::string(kStore[static_cast<int>(kind)]) + name);
}

void TBasicManager::IfStatement() {
  Step();
  Condition();
  if (Bad()) return;
  if (CurKind() != Tok::KwThen) return Error("THEN expected");
  // THEN last on the line opens a block; otherwise the rest of the line is the true branch
  const Tok next = At(pos_ + 1).Kind;
  if (next == Tok::LineEnd || next == Tok::EndOfText) {
    Emit("POPNJUMP_ENDIF");
    ++openIf_;
  } else {
    Emit("POPNJUMP_CRLF");
  }
}

void TBasicManager::ForStatement() {
  ++openFor_;
  Error("FOR Syntax");  // pending until the header has been read in full
  pending_ = 1;
  Step();
  if (CurKind() != Tok::NumVar) return;
  const std::string var = CurText();
  Step();
  if (CurKind() != Tok::Eq) return;
  Step();
  NumExpr();
  if (Bad()) return;
  Emit("xxxxxxxxxx");  // becomes PUSHC <step> once the step is known
  Emit("SUB");
  Emit("POPSTORE @" + var);
  const std::size_t t = intermediate_.size();
  if (CurKind() != Tok::KwTo) return;
  Step();
  NumExpr();
  if (Bad()) return;
  double k = 1;
  if (CurKind() == Tok::KwStep) {
    Step();
    double sign = 1;
    if (CurKind() == Tok::Minus) {
      sign = -1;
      Step();
    }
    if (RefuseHuge()) return;
    if (CurKind() != Tok::Integer && CurKind() != Tok::Real) return;
    k = sign * Cur().Value;
    Step();
    if (k == 0) return;
  }
  const std::string pushStep = "PUSHC " + FormatListingNumber(k);
  Emit(pushStep);
  Emit("FORCYCLE @" + var);
  Emit(k > 0 ? "GE" : "LE");
  Emit("WHILE " + std::to_string(t));
  intermediate_[t - 3] = pushStep + std::string(kLinePad);
  --errors_;
  pending_ = 0;
  errorOffset_ = Cur().Offset;
}

void TBasicManager::FunctionStatement() {
  if (inFunction_) return Error("Nested Functions");
  CheckOpenBlocks();  // no block may stay open across a function's start
  if (errors_ > 0) return;
  inFunction_ = true;
  Step();
  switch (CurKind()) {
    case Tok::NumFunc: functionKind_ = Kind::Number; break;
    case Tok::StrFunc: functionKind_ = Kind::String; break;
    case Tok::PtrFunc: functionKind_ = Kind::Pointer; break;
    default: return Error("Function declaration");
  }
  const std::string name = CurText();
  Step();
  std::vector<std::string> params;
  std::string signature;
  if (CurKind() != Tok::RParen) {
    while (true) {
      const Tok k = CurKind();
      if (k == Tok::NumVar) signature += 'n';
      else if (k == Tok::StrVar) signature += '$';
      else if (k == Tok::PtrVar) signature += '#';
      else return Error("Function parameters");
      params.push_back(CurText());
      Step();
      if (CurKind() == Tok::RParen) break;
      Step();  // the separator between two parameters, normally ','
    }
  }
  Step();
  Emit("FUNCTION " + name + "@" + signature);

  std::vector<std::string> locals;
  if (CurKind() == Tok::KwLocal) {
    Step();
    while (true) {
      if (!In(CurKind(), {Tok::NumVar, Tok::StrVar, Tok::PtrVar})) return Error("Variable expected");
      locals.push_back(CurText());
      Step();
      if (CurKind() != Tok::Comma) break;
      Step();
    }
  }
  std::string frame = "* " + std::to_string(locals.size());
  for (auto it = locals.rbegin(); it != locals.rend(); ++it) frame += " " + *it;
  frame += " @0 @1 @2";
  for (auto it = params.rbegin(); it != params.rend(); ++it) frame += " " + *it;
  frame += " *";
  Emit(std::move(frame));
}

void TBasicManager::EndfuncStatement() {
  if (!inFunction_) return Error("Misplaced Endfunc");
  CheckOpenBlocks();
  if (errors_ > 0) return;
  inFunction_ = false;
  Emit(functionKind_ == Kind::String ? "PUSHC$ \"\"" : "PUSHC 0");
  Emit("RETFUNC");
  Emit("ENDFUNC");
  Step();
}

void TBasicManager::PrintStatement() {
  Step();
  auto endsList = [this] { return In(CurKind(), {Tok::EndOfText, Tok::Colon, Tok::LineEnd}); };
  if (endsList()) {
    Emit("PUSHC 0");
    Emit("PRINT");
    return;
  }
  long long count = 0;
  while (true) {
    if (StartsString(CurKind()))
      StrExpr();
    else
      NumExpr();
    if (Bad()) return;
    ++count;
    if (CurKind() != Tok::Comma && CurKind() != Tok::Semicolon) break;
    Emit(CurKind() == Tok::Comma ? "PUSHC$ \",\"" : "PUSHC$ \";\"");
    ++count;
    Step();
    if (endsList()) {
      Emit("PUSHC$ \"\"");
      ++count;
      break;
    }
  }
  Emit("PUSHC " + std::to_string(count));
  Emit("PRINT");
}

void TBasicManager::InputStatement() {
  Step();
  if (In(CurKind(), {Tok::String, Tok::StrIndexed, Tok::StrFunc})) {
    StrExpr();
    if (Bad()) return;
    if (CurKind() != Tok::Comma) return Error(" , Expected");
    Step();
  } else if (In(CurKind(), {Tok::NumVar, Tok::StrVar})) {
    Emit("PUSHC$ " + Quoted(CurText() + " ?"));
  }
  if (!In(CurKind(), {Tok::NumVar, Tok::StrVar})) return Error("Variable expected");
  const bool text = CurKind() == Tok::StrVar;
  Emit(text ? "INPUT$" : "INPUT");
  Emit((text ? "POPSTORE$ @" : "POPSTORE @") + CurText());
  Step();
}

void TBasicManager::Condition() {
  Conjunction();
  while (!Bad()) {
    if (CurKind() == Tok::KwOr) {
      Step();
      Conjunction();
      if (Bad()) return;
      Emit("OR");
      continue;
    }
    if (!In(CurKind(), {Tok::Colon, Tok::LineEnd, Tok::KwThen})) Error("Condition expected");
    return;
  }
}

void TBasicManager::Conjunction() {
  Negation();
  while (!Bad() && CurKind() == Tok::KwAnd) {
    Step();
    Negation();
    if (Bad()) return;
    Emit("AND");
  }
}

void TBasicManager::Negation() {
  DepthGuard guard(depth_);
  if (!Enter()) return;
  if (CurKind() == Tok::KwNot) {
    Step();
    Negation();
    if (!Bad()) Emit("NOT");
    return;
  }
  Comparison();
}

void TBasicManager::Comparison() {
  const bool text = StartsString(CurKind());
  text ? StrExpr() : NumExpr();
  if (Bad()) return;
  std::string rel;
  switch (CurKind()) {
    case Tok::Eq: rel = "EQ"; break;
    case Tok::Ne: rel = "NE"; break;
    case Tok::Gt: rel = "GT"; break;
    case Tok::Ge: rel = "GE"; break;
    case Tok::Lt: rel = "LT"; break;
    case Tok::Le: rel = "LE"; break;
    default: return Error("Logic operator expected");
  }
  Step();
  text ? StrExpr() : NumExpr();
  if (Bad()) return;
  if (text) rel += '$';
  Emit(std::move(rel));
}

void TBasicManager::Expression(Kind kind) {
  switch (kind) {
    case Kind::Number: NumExpr(); return;
    case Kind::String: StrExpr(); return;
    case Kind::Pointer: PtrExpr(); return;
  }
}

void TBasicManager::NumExpr() {
  NumTerm();
  while (!Bad()) {
    const char* op = nullptr;
    switch (CurKind()) {
      case Tok::Plus: op = "ADD"; break;
      case Tok::Minus: op = "SUB"; break;
      case Tok::Max: op = "MAX"; break;
      case Tok::Min: op = "MIN"; break;
      default: break;
    }
    if (op != nullptr) {
      Step();
      NumTerm();
      if (Bad()) return;
      Emit(op);
      continue;
    }
    if (!In(CurKind(), {Tok::EndOfText, Tok::KwAnd, Tok::Colon, Tok::Comma, Tok::LineEnd, Tok::Eq, Tok::Gt,
                        Tok::Ge, Tok::Lt, Tok::Le, Tok::Ne, Tok::KwOr, Tok::RParen, Tok::Semicolon,
                        Tok::RBracket, Tok::KwStep, Tok::KwThen, Tok::KwTo}))
      Error("Arithmetic operator expected");
    return;
  }
}

void TBasicManager::NumTerm() {
  NumPower();
  while (!Bad()) {
    const Tok k = CurKind();
    if (k != Tok::Star && k != Tok::Slash && k != Tok::KwMod) return;
    Step();
    NumPower();
    if (Bad()) return;
    Emit(k == Tok::Star ? "MUL" : k == Tok::Slash ? "DIV" : "MOD");
  }
}

void TBasicManager::NumPower() {
  DepthGuard guard(depth_);
  if (!Enter()) return;
  NumPrimary();
  if (Bad() || CurKind() != Tok::Caret) return;
  Step();
  NumPower();  // '^' groups from the right
  if (!Bad()) Emit("POW");
}

void TBasicManager::NumPrimary() {
  DepthGuard guard(depth_);
  if (!Enter()) return;
  switch (CurKind()) {
    case Tok::Integer:
    case Tok::Real:
      Emit("PUSHC " + FormatListingNumber(Cur().Value));
      Step();
      return;
    case Tok::HugeNumber: RefuseHuge(); return;
    case Tok::NumVar:
      Emit("PUSH @" + CurText());
      Step();
      return;
    case Tok::Minus:
      Step();
      NumPrimary();
      if (!Bad()) Emit("INV");
      return;
    case Tok::NumFunc: Call(Kind::Number); return;
    case Tok::LParen:
      Step();
      NumExpr();
      if (Bad()) return;
      if (CurKind() != Tok::RParen) return Error(") expected");
      Step();
      return;
    default: Error("Value expected"); return;
  }
}

void TBasicManager::StrExpr() {
  StrPrimary();
  while (!Bad()) {
    const Tok k = CurKind();
    if (k == Tok::Plus || k == Tok::Slash) {
      Step();
      StrPrimary();
      if (Bad()) return;
      Emit(k == Tok::Plus ? "ADD$" : "ADDCRLF$");
      continue;
    }
    if (k == Tok::Minus) {
      Step();
      if (RefuseHuge()) return;
      if (CurKind() != Tok::Integer) return Error("Invalid number");
      if (Cur().Value > kMaxStringCut) return Error("Parameter out of bounds");
      Emit("PUSHC " + FormatListingNumber(Cur().Value));
      Emit("SUB$");
      Step();
      continue;
    }
    if (!In(k, {Tok::EndOfText, Tok::KwAnd, Tok::Colon, Tok::Comma, Tok::LineEnd, Tok::Eq, Tok::Gt, Tok::Ge,
                Tok::Lt, Tok::Le, Tok::Ne, Tok::KwOr, Tok::RParen, Tok::Semicolon, Tok::KwThen}))
      Error("String operator expected");
    return;
  }
}

void TBasicManager::StrPrimary() {
  DepthGuard guard(depth_);
  if (!Enter()) return;
  switch (CurKind()) {
    case Tok::String:
      Emit("PUSHC$ " + Quoted(parser_.Text(Cur())));
      Step();
      return;
    case Tok::StrVar:
      Emit("PUSH$ @" + CurText());
      Step();
      return;
    case Tok::StrIndexed:
      Emit("PUSH$ @" + CurText());
      Step();
      NumExpr();
      if (Bad()) return;
      if (CurKind() != Tok::RBracket) return Error("] expected");
      Step();
      Emit("PUSHC 2");
      Emit("CALLEX$ \"item$@$n\"");
      return;
    case Tok::StrFunc: Call(Kind::String); return;
    case Tok::LParen:
      Step();
      StrExpr();
      if (Bad()) return;
      if (CurKind() != Tok::RParen) return Error(") expected");
      Step();
      return;
    default: Error("String expected"); return;
  }
}

void TBasicManager::PtrExpr() {
  DepthGuard guard(depth_);
  if (!Enter()) return;
  switch (CurKind()) {
    case Tok::PtrFunc: Call(Kind::Pointer); return;
    case Tok::PtrVar: {
      const std::string name = CurText();
      std::string upper = name;
      for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      Emit(upper == "THIS#" ? std::string("PUSH#_TAG") : "PUSH# @" + name);
      Step();
      return;
    }
    case Tok::LParen:
      Step();
      PtrExpr();
      if (Bad()) return;
      if (CurKind() != Tok::RParen) return Error(") expected");
      Step();
      return;
    default: Error("Pointer expected"); return;
  }
}

void TBasicManager::Call(Kind kind) {
  DepthGuard guard(depth_);
  if (!Enter()) return;
  const std::string name = CurText();
  Step();  // the call token holds the '('
  std::string signature;
  if (CurKind() != Tok::RParen) {
    while (true) {
      const Tok k = CurKind();
      if (StartsString(k)) {
        signature += '$';
        StrExpr();
      } else if (StartsPointer(k)) {
        signature += '#';
        PtrExpr();
      } else {
        signature += 'n';
        NumExpr();
      }
      if (Bad()) return;
      if (CurKind() != Tok::Comma || signature.size() >= kMaxArguments) break;
      Step();
    }
  }
  if (CurKind() != Tok::RParen) return Error("Syntax");
  Step();
  Emit("PUSHC " + std::to_string(signature.size()));
  static constexpr std::string_view kCall[] = {"CALLEX ", "CALLEX$ ", "CALLEX# "};
  Emit(std::string(kCall[static_cast<int>(kind)]) + Quoted(name + "@" + signature));
}

}  // namespace telvane::script
