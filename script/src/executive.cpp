#include "telvane/script/executive.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <string>

#include "number_text.h"
#include "telvane/script/asm_parser.h"

namespace telvane::script {
namespace {

constexpr std::string_view kStackOverflow = "Stack overflow";
constexpr std::string_view kStackWrongType = "stack wrong type";
constexpr std::string_view kPrintStackOverflow = "Print Stack overflow";
constexpr std::string_view kPrintSyntax = "Print syntax";
constexpr std::string_view kInternalError = "INTERNAL ERROR: ";
constexpr std::string_view kUnknownAsmInstruction = "Unknown asm instruction";
constexpr std::string_view kReturnWithoutGosub = "RETURN without GOSUB";
constexpr std::string_view kReturnWithoutCall = "RETURN without function call";
constexpr std::string_view kInputCaption = "INPUT";

// PRINT: numbers carry 13 significant digits; a ',' pads to the next multiple of 14
// characters counted from the start of the item before it.
constexpr int kPrintDigits = 13;
constexpr long long kPrintZone = 14;

// Items taken at creation; a longer listing enlarges the array to its line count + 1.
constexpr std::size_t kInitialCodeItems = 1001;

// Round half to even, the conversion of every count and length operand. Out-of-range
// values come back as `outside`, which every caller refuses.
long long RoundCount(double x, long long outside) {
  const double r = std::nearbyint(x);
  if (!(r >= -1e15 && r <= 1e15)) return outside;
  return static_cast<long long>(r);
}

std::atomic<std::size_t> g_stringLimit{kMaxStringLength};

void CheckLength(std::size_t n) {
  if (n > g_stringLimit.load(std::memory_order_relaxed)) throw ScriptFault(std::string(kFaultStringTooLong));
}

}  // namespace

std::size_t StringLimit() { return g_stringLimit.load(std::memory_order_relaxed); }
void SetStringLimit(std::size_t bytes) { g_stringLimit.store(std::min(bytes, kMaxStringLength), std::memory_order_relaxed); }

// The stack helpers run in almost every instruction: keep them inline and their faults cold.
[[gnu::cold, gnu::noinline]] void Texecutive::Fault(std::string_view message) {
  throw ScriptFault(std::string(message));
}

[[gnu::cold, gnu::noinline]] void Texecutive::Show(std::string_view message) {
  if (host_ != nullptr) host_->showMessage(message);
}

[[gnu::always_inline]] inline Texecutive::Slot& Texecutive::PushSlot(ValueKind kind) {
  // The top may not reach the last slot: that is the overflow, and it ends the run.
  if (top_ >= kStackSlots - 1) [[unlikely]]
    Fault(kStackOverflow);
  Slot& s = stack_[++top_];
  s.Kind = kind;
  return s;
}

[[gnu::always_inline]] inline Texecutive::Slot& Texecutive::PopSlot() {
  if (top_ < 1) [[unlikely]]
    Fault(kStackOverflow);
  return stack_[top_--];
}

[[gnu::always_inline]] inline Texecutive::Slot& Texecutive::PopTyped(ValueKind kind) {
  Slot& s = PopSlot();
  if (s.Kind != kind) [[unlikely]]
    Show(kStackWrongType);
  return s;
}

[[gnu::always_inline]] inline Texecutive::Slot& Texecutive::FrameVar(int32_t operand) {
  const int64_t i = int64_t{base_} + operand + kFrameBias;
  if (i < 1 || i >= kStackSlots) [[unlikely]]
    Fault(kStackOverflow);
  return stack_[static_cast<std::size_t>(i)];
}

// The instruction handlers. Each runs one code item; jumps set the program counter to the
// target minus 1 because the run loop advances it after every item.
struct Texecutive::Ops {
  using Ex = Texecutive;
  using Item = CodeItem;

  static void Nop(Ex&, const Item&) {}

  // Two-operand instructions: b is popped, a stays in place and takes the result.
  static std::pair<Slot&, Slot&> Binary(Ex& ex) {
    if (ex.top_ < 2) Fault(kStackOverflow);
    --ex.top_;
    return {ex.stack_[ex.top_], ex.stack_[ex.top_ + 1]};
  }
  static void SetNumber(Slot& s, double v) {
    // Every number in the machine is finite, so a non-finite result is an overflow.
    if (!std::isfinite(v)) Fault(kFaultOverflow);
    s.Number = v;
    s.Kind = ValueKind::Number;
  }

  // Variable operands: globals are range-checked at assembly, frame slots here.
  template <bool Frame>
  static Slot& Var(Ex& ex, const Item& it) {
    if constexpr (Frame) {
      return ex.FrameVar(it.Int);
    } else {
      return ex.globals_[static_cast<std::size_t>(it.Int)];
    }
  }

  static void Pushc(Ex& ex, const Item& it) { ex.PushSlot(ValueKind::Number).Number = it.Num; }
  static void PushcStr(Ex& ex, const Item& it) {
    ex.PushSlot(ValueKind::String).Text.assign(ex.pool_.data() + it.Int, it.Length);
  }
  template <bool Frame>
  static void Push(Ex& ex, const Item& it) {
    const double v = Var<Frame>(ex, it).Number;
    ex.PushSlot(ValueKind::Number).Number = v;
  }
  template <bool Frame>
  static void PushStr(Ex& ex, const Item& it) {
    Slot& v = Var<Frame>(ex, it);
    Slot& s = ex.PushSlot(ValueKind::String);
    if (&s != &v) s.Text = v.Text;
  }
  template <bool Frame>
  static void PushPtr(Ex& ex, const Item& it) {
    const int32_t v = Var<Frame>(ex, it).Pointer;
    ex.PushSlot(ValueKind::Pointer).Pointer = v;
  }
  static void PushPtrTag(Ex& ex, const Item&) { ex.PushSlot(ValueKind::Pointer).Pointer = ex.tag_; }
  static void Pop(Ex& ex, const Item&) { ex.PopSlot(); }

  template <bool Frame>
  static void Popstore(Ex& ex, const Item& it) {
    const double v = ex.PopTyped(ValueKind::Number).Number;
    Slot& d = Var<Frame>(ex, it);
    d.Number = v;
    d.Kind = ValueKind::Number;
  }
  template <bool Frame>
  static void PopstoreStr(Ex& ex, const Item& it) {
    Slot& s = ex.PopTyped(ValueKind::String);
    Slot& d = Var<Frame>(ex, it);
    // The popped slot is dead: hand its text over instead of copying it.
    d.Text.swap(s.Text);
    d.Kind = ValueKind::String;
  }
  template <bool Frame>
  static void PopstorePtr(Ex& ex, const Item& it) {
    const int32_t v = ex.PopTyped(ValueKind::Pointer).Pointer;
    Slot& d = Var<Frame>(ex, it);
    d.Pointer = v;
    d.Kind = ValueKind::Pointer;
  }

  static void Add(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    SetNumber(a, a.Number + b.Number);
  }
  static void Sub(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    SetNumber(a, a.Number - b.Number);
  }
  static void Mul(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    SetNumber(a, a.Number * b.Number);
  }
  static void CheckDivisor(double a, double b) {
    if (b == 0.0) Fault(a == 0.0 ? kFaultInvalid : kFaultDivisionByZero);
  }
  static void Div(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    CheckDivisor(a.Number, b.Number);
    SetNumber(a, a.Number / b.Number);
  }
  static void Mod(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    CheckDivisor(a.Number, b.Number);
    // The exact remainder with the sign of a; frac(a / b) * b would carry the rounding of
    // the division (10 MOD 3 would not equal 1). Whole numbers, the usual case, take the
    // integer path because fmod is slow.
    constexpr double kExact = 0x1.0p53;
    const double x = a.Number, y = b.Number;
    if (x == std::trunc(x) && y == std::trunc(y) && std::fabs(x) < kExact && std::fabs(y) < kExact) {
      const int64_t r = static_cast<int64_t>(x) % static_cast<int64_t>(y);
      // keep the sign of a zero remainder as fmod would give it; PRINT shows both as 0
      SetNumber(a, r == 0 ? std::copysign(0.0, x) : static_cast<double>(r));
    } else {
      SetNumber(a, std::fmod(x, y));
    }
  }
  static void Pow(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    const double r = std::pow(a.Number, b.Number);
    if (std::isnan(r)) Fault(kFaultInvalid);
    if (std::isinf(r)) Fault(a.Number == 0.0 ? kFaultDivisionByZero : kFaultOverflow);
    SetNumber(a, r);
  }
  static void Max(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    if (b.Number > a.Number) a.Number = b.Number;
    a.Kind = ValueKind::Number;
  }
  static void Min(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    if (b.Number < a.Number) a.Number = b.Number;
    a.Kind = ValueKind::Number;
  }
  static void Inv(Ex& ex, const Item&) {
    if (ex.top_ < 1) Fault(kStackOverflow);
    ex.stack_[ex.top_].Number = -ex.stack_[ex.top_].Number;
  }
  static void And(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    SetNumber(a, a.Number * b.Number);
  }
  static void Or(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    SetNumber(a, a.Number + b.Number);
  }
  static void Not(Ex& ex, const Item&) {
    if (ex.top_ < 1) Fault(kStackOverflow);
    Slot& s = ex.stack_[ex.top_];
    s.Number = s.Number == 0.0 ? 1.0 : 0.0;
    s.Kind = ValueKind::Number;
  }

  template <typename Rel>
  static void Compare(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    a.Number = Rel{}(a.Number, b.Number) ? 1.0 : 0.0;
    a.Kind = ValueKind::Number;
  }
  template <typename Rel>
  static void CompareStr(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    // std::string compares bytes as unsigned values, and a prefix is the smaller string.
    a.Number = Rel{}(a.Text.compare(b.Text), 0) ? 1.0 : 0.0;
    a.Kind = ValueKind::Number;
  }

  static void AddStr(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    CheckLength(a.Text.size() + b.Text.size());
    a.Text += b.Text;
    a.Kind = ValueKind::String;
  }
  static void AddCrlfStr(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    CheckLength(a.Text.size() + 2 + b.Text.size());
    a.Text += "\r\n";
    a.Text += b.Text;
    a.Kind = ValueKind::String;
  }
  static void SubStr(Ex& ex, const Item&) {
    auto [a, b] = Binary(ex);
    const long long n = RoundCount(b.Number, 0);
    if (n > 0) a.Text.resize(a.Text.size() - std::min<std::size_t>(a.Text.size(), static_cast<std::size_t>(n)));
    a.Kind = ValueKind::String;
  }

  static void Jump(Ex& ex, const Item& it) { ex.pc_ = it.Int - 1; }
  static void Popnjump(Ex& ex, const Item& it) {
    if (ex.PopTyped(ValueKind::Number).Number == 0.0) ex.pc_ = it.Int - 1;
  }
  static void Call(Ex& ex, const Item& it) {
    ex.PushSlot(ValueKind::Pointer).Pointer = ex.pc_ + 1;
    ex.pc_ = it.Int - 1;
  }
  static bool IsCodeIndex(const Ex& ex, int32_t r) {
    return r >= 0 && static_cast<std::size_t>(r) < ex.code_.size();
  }
  static void Return(Ex& ex, const Item&) {
    // Only an index that CALL pushed may be jumped to; anything else (a RETURN reached
    // without GOSUB) ends the run rather than continuing at an arbitrary place.
    if (ex.top_ < 1 || ex.stack_[ex.top_].Kind != ValueKind::Pointer) Fault(kReturnWithoutGosub);
    const int32_t r = ex.stack_[ex.top_--].Pointer;
    if (!IsCodeIndex(ex, r)) Fault(kReturnWithoutGosub);
    ex.pc_ = r - 1;
  }
  static void Initfunc(Ex& ex, const Item& it) {
    ex.PushSlot(ValueKind::Pointer).Pointer = ex.base_;
    ex.base_ = ex.top_;
    if (ex.top_ + it.Int >= kStackSlots) Fault(kStackOverflow);
    // Locals start as 0 and "" instead of whatever an earlier call left in their slots.
    for (int32_t i = 1; i <= it.Int; ++i) {
      Slot& s = ex.stack_[ex.top_ + i];
      s.Number = 0.0;
      s.Pointer = 0;
      s.Text.clear();
      s.Kind = ValueKind::Number;
    }
    ex.top_ += it.Int;
  }
  static void Retfunc(Ex& ex, const Item&) {
    // Frame below base b: b saved base, b-1 return index, b-2 argument count, then the
    // arguments. Every value is checked before it moves the top, base or program counter.
    const int32_t r = ex.top_;
    const int32_t b = ex.base_;
    if (b < 3 || r < b) Fault(kReturnWithoutCall);
    const Slot& saved = ex.stack_[b];
    const Slot& ret = ex.stack_[b - 1];
    const Slot& count = ex.stack_[b - 2];
    if (saved.Kind != ValueKind::Pointer || ret.Kind != ValueKind::Pointer || count.Kind != ValueKind::Number)
      Fault(kReturnWithoutCall);
    const long long c = RoundCount(count.Number, -1);
    if (saved.Pointer < 0 || saved.Pointer > b - 3 || !IsCodeIndex(ex, ret.Pointer) || c < 0 || c > b - 3)
      Fault(kReturnWithoutCall);
    ex.base_ = saved.Pointer;
    ex.pc_ = ret.Pointer - 1;
    const int32_t t = b - 2 - static_cast<int32_t>(c);
    ex.top_ = t;
    if (t != r) {
      Slot& dst = ex.stack_[t];
      Slot& src = ex.stack_[r];
      dst.Number = src.Number;
      dst.Pointer = src.Pointer;
      dst.Kind = src.Kind;
      dst.Text.swap(src.Text);  // r lies above the new top and is dead
    }
  }
  template <bool Frame>
  static void Forcycle(Ex& ex, const Item& it) {
    if (ex.top_ < 1) Fault(kStackOverflow);
    Slot& v = Var<Frame>(ex, it);
    Slot& top = ex.stack_[ex.top_];
    const double n = v.Number + top.Number;
    if (!std::isfinite(n)) Fault(kFaultOverflow);
    v.Number = n;
    top.Number = n;
    top.Kind = ValueKind::Number;
  }

  template <ValueKind Result>
  static void Callex(Ex& ex, const Item& it) {
    const long long k = RoundCount(ex.PopTyped(ValueKind::Number).Number, -1);
    if (k < 0 || k > ex.top_) Fault(kStackOverflow);
    const int32_t first = ex.top_ - static_cast<int32_t>(k) + 1;
    for (int32_t i = 0; i < k; ++i) {
      const Slot& s = ex.stack_[first + i];
      CallArg& a = ex.args_[static_cast<std::size_t>(i)];
      a.Kind = s.Kind;
      a.Number = s.Number;
      a.Pointer = s.Pointer;
      a.Text = s.Text.c_str();
      a.Length = s.Text.size();
    }
    const CallableEntry& entry = ex.callables_[static_cast<std::size_t>(it.Int)];
    ex.callResult_.clear();
    CallContext ctx{std::span<const CallArg>(ex.args_.data(), static_cast<std::size_t>(k)), entry.Data, ex.host_,
                    0.0, 0, ex.callResult_};
    entry.Fn(ctx);
    ex.top_ = first - 1;
    Slot& r = ex.PushSlot(Result);
    if constexpr (Result == ValueKind::Number) {
      if (std::isnan(ctx.Number)) Fault(kFaultInvalid);
      if (std::isinf(ctx.Number)) Fault(kFaultOverflow);
      r.Number = ctx.Number;
    } else if constexpr (Result == ValueKind::Pointer) {
      r.Pointer = ctx.Pointer;
    } else {
      CheckLength(ex.callResult_.size());
      r.Text.swap(ex.callResult_);
    }
  }

  static void Print(Ex& ex, const Item&) {
    const long long c = RoundCount(ex.PopTyped(ValueKind::Number).Number, -1);
    if (c == 0) {
      ex.host_->outputLine("");
      return;
    }
    if (c < 0 || c > ex.top_) {
      ex.Show(kPrintStackOverflow);
      return;
    }
    const int32_t first = ex.top_ - static_cast<int32_t>(c) + 1;
    const int32_t last = ex.top_;
    ex.top_ = first - 1;
    std::string line;
    for (int32_t j = first; j <= last; j += 2) {
      const Slot& item = ex.stack_[j];
      std::size_t itemLength;
      if (item.Kind == ValueKind::String) {
        itemLength = item.Text.size();
        CheckLength(line.size() + itemLength);
        line += item.Text;
      } else {
        const double v = item.Kind == ValueKind::Pointer ? item.Pointer : item.Number;
        const std::string digits = detail::FormatGeneral(v, kPrintDigits);
        itemLength = digits.size() + 2;
        line += ' ';
        line += digits;
        line += ' ';
      }
      if (j == last) break;
      const Slot& sep = ex.stack_[j + 1];
      const bool comma = sep.Kind == ValueKind::String && sep.Text == ",";
      const bool semicolon = sep.Kind == ValueKind::String && sep.Text == ";";
      if (!comma && !semicolon) {
        ex.Show(kPrintSyntax);
        return;
      }
      if (comma) {
        long long blanks = kPrintZone - static_cast<long long>(itemLength);
        if (blanks < 0) blanks = ((blanks % kPrintZone) + kPrintZone) % kPrintZone;
        line.append(static_cast<std::size_t>(blanks), ' ');
      }
    }
    ex.host_->outputLine(line);
  }

  static std::string PopPrompt(Ex& ex) { return ex.PopTyped(ValueKind::String).Text; }
  static void Input(Ex& ex, const Item&) {
    const std::string prompt = PopPrompt(ex);
    std::string answer;
    if (!ex.host_->inputBox(kInputCaption, prompt, answer)) answer.clear();
    ex.PushSlot(ValueKind::Number).Number = ParseInput(answer);
  }
  static void InputStr(Ex& ex, const Item&) {
    const std::string prompt = PopPrompt(ex);
    std::string answer;
    if (!ex.host_->inputBox(kInputCaption, prompt, answer)) answer.clear();
    CheckLength(answer.size());
    ex.PushSlot(ValueKind::String).Text.swap(answer);
  }
  // The whole answer, less surrounding blanks and control characters, must read as a
  // number; anything else (empty, cancelled, "12abc", beyond the double range) gives 0.
  static double ParseInput(std::string_view answer) {
    while (!answer.empty() && static_cast<unsigned char>(answer.front()) <= 32) answer.remove_prefix(1);
    while (!answer.empty() && static_cast<unsigned char>(answer.back()) <= 32) answer.remove_suffix(1);
    std::string text;
    const std::string sep = detail::SystemDecimalSeparator();
    const std::size_t at = sep == "." ? std::string_view::npos : answer.find(sep);
    if (at == std::string_view::npos) {
      text.assign(answer);
    } else {
      text.append(answer.substr(0, at)).append(".").append(answer.substr(at + sep.size()));
    }
    const detail::ParsedNumber p = detail::ParseNumberPrefix(text);
    return (p.Status == detail::ParseStatus::Ok && p.Used == text.size()) ? p.Value : 0.0;
  }

  static void Cls(Ex& ex, const Item&) { ex.host_->clearOutput(); }
  static void End(Ex& ex, const Item&) {
    ex.ended_ = true;
    ex.Stop();
  }
  static void Err(Ex& ex, const Item& it) {
    Fault(std::string(kInternalError).append(ex.pool_.data() + it.Int, it.Length));
  }
};

Texecutive::Texecutive() : globals_(kGlobalSlots) {
  code_.reserve(kInitialCodeItems);
  code_.push_back(CodeItem{&Ops::End, 0, 0, 0.0});
  pool_.push_back('\0');
}

void Texecutive::Assemble(std::span<const std::string> listing, const CallableTable& callables, ScriptHost* host) {
  code_.clear();
  if (listing.size() + 1 > code_.capacity()) code_.reserve(listing.size() + 1);
  pool_.clear();
  callables_.assign(callables.begin(), callables.end());

  // An operand that the resolver cannot have produced runs as ERR with this text, so a
  // damaged listing stops with a message instead of touching memory it does not own.
  auto addText = [&](std::string_view text, CodeItem& item) {
    item.Int = static_cast<int32_t>(pool_.size());
    item.Length = static_cast<uint32_t>(text.size());
    pool_.append(text);
    pool_.push_back('\0');
  };
  const int32_t endIndex = static_cast<int32_t>(listing.size());

  for (std::size_t line = 0; line < listing.size(); ++line) {
    TasmParser parser(listing[line]);
    const AsmToken first = parser.Next();
    const AsmToken operand = parser.Next();
    CodeItem item{&Ops::Nop, 0, 0, 0.0};
    if (operand.Kind == AsmKind::Integer) {
      item.Int = static_cast<int32_t>(operand.Value);
      item.Num = operand.Value;
    } else if (operand.Kind == AsmKind::Real) {
      item.Num = operand.Value;
    }
    const bool isInt = operand.Kind == AsmKind::Integer;
    auto bad = [&] {
      item = CodeItem{&Ops::Err, 0, 0, 0.0};
      addText("bad operand in listing line " + std::to_string(line), item);
    };
    // Variable instructions get a global or a frame handler by the operand's sign.
    auto var = [&](Handler global, Handler frame) {
      if (!isInt) return bad();
      if (item.Int < 0) {
        item.Fn = frame;
        return;
      }
      // A resolver gives each stored name its own slot, so a listing never names more
      // globals than it has lines; the table grows past 500 for such a program.
      if (static_cast<std::size_t>(item.Int) >= globals_.size()) {
        if (static_cast<std::size_t>(item.Int) >= std::max<std::size_t>(listing.size(), kGlobalSlots)) return bad();
        globals_.resize(static_cast<std::size_t>(item.Int) + 1);
      }
      item.Fn = global;
    };
    auto jump = [&](Handler h) {
      if (!isInt || item.Int < 0 || item.Int > endIndex) return bad();
      item.Fn = h;
    };
    auto callex = [&](Handler h) {
      if (!isInt || item.Int < 0 || static_cast<std::size_t>(item.Int) >= callables_.size() ||
          callables_[static_cast<std::size_t>(item.Int)].Fn == nullptr)
        return bad();
      item.Fn = h;
    };

    if (first.Kind == AsmKind::Comma || first.Kind == AsmKind::Integer) {
      // line marker or label line: nothing to do
    } else if (first.Kind != AsmKind::Instruction || !AsmOpExecutable(first.Op)) {
      if (host != nullptr) host->showMessage(kUnknownAsmInstruction);
    } else {
      switch (first.Op) {
        case AsmOp::Pushc: item.Fn = &Ops::Pushc; break;
        case AsmOp::PushcStr:
          item.Fn = &Ops::PushcStr;
          addText(operand.Kind == AsmKind::String ? operand.Text : std::string_view{}, item);
          break;
        case AsmOp::Push: var(&Ops::Push<false>, &Ops::Push<true>); break;
        case AsmOp::PushStr: var(&Ops::PushStr<false>, &Ops::PushStr<true>); break;
        case AsmOp::PushPtr: var(&Ops::PushPtr<false>, &Ops::PushPtr<true>); break;
        case AsmOp::PushPtrTag: item.Fn = &Ops::PushPtrTag; break;
        case AsmOp::Pop: item.Fn = &Ops::Pop; break;
        case AsmOp::Popstore: var(&Ops::Popstore<false>, &Ops::Popstore<true>); break;
        case AsmOp::PopstoreStr: var(&Ops::PopstoreStr<false>, &Ops::PopstoreStr<true>); break;
        case AsmOp::PopstorePtr: var(&Ops::PopstorePtr<false>, &Ops::PopstorePtr<true>); break;
        case AsmOp::Add: item.Fn = &Ops::Add; break;
        case AsmOp::Sub: item.Fn = &Ops::Sub; break;
        case AsmOp::Mul: item.Fn = &Ops::Mul; break;
        case AsmOp::Div: item.Fn = &Ops::Div; break;
        case AsmOp::Mod: item.Fn = &Ops::Mod; break;
        case AsmOp::Pow: item.Fn = &Ops::Pow; break;
        case AsmOp::Max: item.Fn = &Ops::Max; break;
        case AsmOp::Min: item.Fn = &Ops::Min; break;
        case AsmOp::Inv: item.Fn = &Ops::Inv; break;
        case AsmOp::And: item.Fn = &Ops::And; break;
        case AsmOp::Or: item.Fn = &Ops::Or; break;
        case AsmOp::Not: item.Fn = &Ops::Not; break;
        case AsmOp::Eq: item.Fn = &Ops::Compare<std::equal_to<>>; break;
        case AsmOp::Ne: item.Fn = &Ops::Compare<std::not_equal_to<>>; break;
        case AsmOp::Gt: item.Fn = &Ops::Compare<std::greater<>>; break;
        case AsmOp::Ge: item.Fn = &Ops::Compare<std::greater_equal<>>; break;
        case AsmOp::Lt: item.Fn = &Ops::Compare<std::less<>>; break;
        case AsmOp::Le: item.Fn = &Ops::Compare<std::less_equal<>>; break;
        case AsmOp::EqStr: item.Fn = &Ops::CompareStr<std::equal_to<>>; break;
        case AsmOp::NeStr: item.Fn = &Ops::CompareStr<std::not_equal_to<>>; break;
        case AsmOp::GtStr: item.Fn = &Ops::CompareStr<std::greater<>>; break;
        case AsmOp::GeStr: item.Fn = &Ops::CompareStr<std::greater_equal<>>; break;
        case AsmOp::LtStr: item.Fn = &Ops::CompareStr<std::less<>>; break;
        case AsmOp::LeStr: item.Fn = &Ops::CompareStr<std::less_equal<>>; break;
        case AsmOp::AddStr: item.Fn = &Ops::AddStr; break;
        case AsmOp::AddCrlfStr: item.Fn = &Ops::AddCrlfStr; break;
        case AsmOp::SubStr: item.Fn = &Ops::SubStr; break;
        case AsmOp::Jump: jump(&Ops::Jump); break;
        case AsmOp::Popnjump: jump(&Ops::Popnjump); break;
        case AsmOp::Call: jump(&Ops::Call); break;
        case AsmOp::Return: item.Fn = &Ops::Return; break;
        case AsmOp::Initfunc:
          if (!isInt || item.Int < 0 || item.Int >= kStackSlots) {
            bad();
          } else {
            item.Fn = &Ops::Initfunc;
          }
          break;
        case AsmOp::Retfunc: item.Fn = &Ops::Retfunc; break;
        case AsmOp::Forcycle: var(&Ops::Forcycle<false>, &Ops::Forcycle<true>); break;
        case AsmOp::Callex: callex(&Ops::Callex<ValueKind::Number>); break;
        case AsmOp::CallexStr: callex(&Ops::Callex<ValueKind::String>); break;
        case AsmOp::CallexPtr: callex(&Ops::Callex<ValueKind::Pointer>); break;
        case AsmOp::Print: item.Fn = &Ops::Print; break;
        case AsmOp::Input: item.Fn = &Ops::Input; break;
        case AsmOp::InputStr: item.Fn = &Ops::InputStr; break;
        case AsmOp::Cls: item.Fn = &Ops::Cls; break;
        case AsmOp::End: item.Fn = &Ops::End; break;
        case AsmOp::Err:
          item.Fn = &Ops::Err;
          addText(operand.Kind == AsmKind::String ? operand.Text : std::string_view{}, item);
          break;
        default: break;  // ENDIF, ENDFUNC, REPEAT: nothing at run time
      }
    }
    code_.push_back(item);
  }
  code_.push_back(CodeItem{&Ops::End, 0, 0, 0.0});
}

RunResult Texecutive::Run(ScriptHost& host) {
  host_ = &host;
  top_ = 0;
  pc_ = 0;
  base_ = 0;
  ended_ = false;
  stop_.store(false, std::memory_order_relaxed);
  // Numbers and pointers start at 0; string globals keep the previous run's texts.
  for (Slot& g : globals_) {
    g.Number = 0.0;
    g.Pointer = 0;
  }

  RunResult result;
  uint64_t count = 0;
  try {
    const CodeItem* code = code_.data();
    for (;;) {
      const CodeItem& item = code[pc_];
      item.Fn(*this, item);
      ++pc_;
      ++count;
      if ((count & (kPeriodicInterval - 1)) == 0) {
        host.periodic();
        if (budget_ != 0 && count >= budget_) Stop();
      }
      if (stop_.load(std::memory_order_relaxed)) break;
    }
  } catch (const std::exception& e) {
    result.Status = RunStatus::Fault;
    result.Message = e.what();
  } catch (...) {
    result.Status = RunStatus::Fault;
    result.Message = "Unknown error";
  }
  result.Instructions = count;
  if (result.Status == RunStatus::Fault) {
    Show(result.Message);
  } else {
    result.Status = ended_ ? RunStatus::Ended : RunStatus::Stopped;
  }
  host_ = nullptr;
  return result;
}

}  // namespace telvane::script
