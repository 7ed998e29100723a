#include "telvane/script/preprocess.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace telvane::script {
namespace {

// Frame slot numbers are stored as the frame offset minus this bias, so that every number
// below 0 is frame-relative and every other one a global slot.
constexpr int32_t kFrameBias = 100;
// Unassigned-variable messages show at most this much of the name.
constexpr std::size_t kShownNameLength = 20;

std::string UpperCopy(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

AsmToken Operand(std::string_view line) {
  TasmParser p(line);
  p.Next();
  return p.Next();
}

std::string OpLine(AsmOp op, long long operand) {
  std::string s(AsmOpName(op));
  s += ' ';
  s += std::to_string(operand);
  return s;
}

}  // namespace

std::string_view ResolveErrorMessage(ResolveError e) {
  switch (e) {
    case ResolveError::None: return "";
    case ResolveError::LabelNotFound: return "Unknown Label";
    case ResolveError::UnassignedVariable: return "Unknown variable";
    case ResolveError::UnknownFunction: return "Unknown function with such parameters";
    case ResolveError::TooManyVariables: return "Too many variables";
    case ResolveError::TooManyFrameNames: return "Too many parameters and locals";
  }
  return "";
}

ResolveError Tpreprocess::Resolve(std::vector<std::string>& listing, const CallableTable& callables) {
  listing_ = &listing;
  kinds_.clear();
  functions_.clear();
  error_ = ResolveError::None;
  errorIndex_ = 0;
  errorLine_ = 0;

  if (listing.size() < 2) {
    listing.assign(1, "END");
    return error_;
  }
  PassKinds();
  PassLineMarkers();
  PassVariables();
  PassLabels();
  PassSingleLineIf();
  PassBlockIf();
  PassBreakContinue();
  PassRepeat();
  PassWhile();
  PassCalls(callables);
  PassFunctions();

  if (error_ != ResolveError::None) {
    int32_t markers = 0;
    for (std::size_t i = 0; i <= errorIndex_ && i < kinds_.size(); ++i)
      if (kinds_[i].Kind == AsmKind::Comma) ++markers;
    errorLine_ = markers;
  }
  return error_;
}

void Tpreprocess::PassKinds() {
  kinds_.resize(listing_->size());
  for (std::size_t i = 0; i < listing_->size(); ++i) {
    const AsmToken t = TasmParser::First((*listing_)[i]);
    kinds_[i] = {t.Kind, t.Op};
  }
}

void Tpreprocess::PassLineMarkers() {
  long long k = 0;
  for (std::size_t i = 0; i < kinds_.size(); ++i)
    if (kinds_[i].Kind == AsmKind::Comma) (*listing_)[i] = ", " + std::to_string(++k);
}

void Tpreprocess::PassVariables() {
  std::vector<std::string>& L = *listing_;
  auto isStore = [](const LineKind& k) {
    return k.Is(AsmOp::Popstore) || k.Is(AsmOp::PopstoreStr) || k.Is(AsmOp::PopstorePtr);
  };

  std::vector<std::string> globals;
  std::unordered_set<std::string> seen;
  for (std::size_t i = 0; i < L.size(); ++i) {
    if (!isStore(kinds_[i])) continue;
    std::string key = UpperCopy(Operand(L[i]).Text);
    if (seen.insert(key).second) {
      // The 501st distinct name is where the program outgrows the global table.
      if (seen.size() == kMaxGlobals + 1) SetError(ResolveError::TooManyVariables, i);
      globals.push_back(std::move(key));
    }
  }
  std::sort(globals.begin(), globals.end());

  std::vector<std::string> frame;
  int32_t locals = 0;
  for (std::size_t i = 0; i < L.size(); ++i) {
    const LineKind k = kinds_[i];
    if (k.Is(AsmOp::Function)) {
      functions_.push_back({UpperCopy(Operand(L[i]).Text), i});
      const std::size_t s = i + 1;
      if (s < L.size() && kinds_[s].Kind == AsmKind::Symbol && TasmParser::First(L[s]).Text == "*") {
        TasmParser p(L[s]);
        p.Next();
        const AsmToken count = p.Next();
        locals = count.Kind == AsmKind::Integer ? static_cast<int32_t>(count.Value) : 0;
        if (locals >= kFrameBias) {
          // local j sits at frame offset +j, stored as j - 100: from 100 locals on it would
          // read as a global slot
          SetError(ResolveError::TooManyFrameNames, i);
          return;
        }
        for (AsmToken w = p.Next(); w.Kind != AsmKind::EndOfText && w.Text != "*"; w = p.Next()) {
          frame.push_back("@" + UpperCopy(w.Text));
          if (frame.size() > kMaxFrameNames) {
            frame.pop_back();
            // names left out would bind to globals or fail as unassigned: stop here
            SetError(ResolveError::TooManyFrameNames, i);
            return;
          }
        }
        L[s] = OpLine(AsmOp::Initfunc, locals);
      }
    } else if (k.Is(AsmOp::Endfunc)) {
      frame.clear();
    } else if (k.Is(AsmOp::Push) || k.Is(AsmOp::PushStr) || k.Is(AsmOp::PushPtr) || isStore(k) ||
               k.Is(AsmOp::Forcycle)) {
      const AsmToken operand = Operand(L[i]);
      const std::string key = UpperCopy(operand.Text);
      long long slot = -1;
      bool found = false;
      if (const auto f = std::find(frame.begin(), frame.end(), key); f != frame.end()) {
        slot = (locals - kFrameBias) - static_cast<long long>(f - frame.begin());
        found = true;
      } else if (const auto g = std::lower_bound(globals.begin(), globals.end(), key);
                 g != globals.end() && *g == key) {
        slot = g - globals.begin();
        found = true;
      }
      if (!found) {
        std::string_view name = operand.Text;
        if (!name.empty() && name[0] == '@') name.remove_prefix(1);
        L[i] = "ERR \"Unassigned variable " + std::string(name.substr(0, kShownNameLength)) + "\"";
        SetError(ResolveError::UnassignedVariable, i);
        return;  // later lines keep their names, and later FUNCTIONs stay unknown
      }
      L[i] = OpLine(k.Op, slot);
    }
  }
}

void Tpreprocess::PassLabels() {
  std::vector<std::string>& L = *listing_;
  std::unordered_map<int64_t, std::size_t> labels;
  for (std::size_t i = 0; i < L.size(); ++i) {
    if (kinds_[i].Kind != AsmKind::Integer) continue;
    const double v = TasmParser::First(L[i]).Value;
    if (v > 0) labels.emplace(static_cast<int64_t>(v), i);  // the first line with a number counts
  }
  for (std::size_t i = 0; i < L.size(); ++i) {
    if (!kinds_[i].Is(AsmOp::Jump) && !kinds_[i].Is(AsmOp::Call)) continue;
    const AsmToken t = Operand(L[i]);
    const auto it = t.Kind == AsmKind::Integer ? labels.find(static_cast<int64_t>(t.Value)) : labels.end();
    if (it == labels.end()) {
      L[i] = "ERR \"Label not found: " + std::to_string(i) + "\"";
      SetError(ResolveError::LabelNotFound, i);
    } else {
      L[i] = OpLine(kinds_[i].Op, static_cast<long long>(it->second));
    }
  }
}

void Tpreprocess::PassSingleLineIf() {
  std::vector<std::string>& L = *listing_;
  std::size_t nextMarker = L.size() - 1;
  for (std::size_t i = L.size(); i-- > 0;) {
    if (kinds_[i].Is(AsmOp::PopnjumpCrlf)) L[i] = OpLine(AsmOp::Popnjump, static_cast<long long>(nextMarker));
    if (kinds_[i].Kind == AsmKind::Comma) nextMarker = i;
  }
}

// The block passes pair openers and closers with a stack in one sweep; this finds the same
// partner as scanning forward with a depth count from each opener, without the quadratic
// cost of rescanning on long listings.
void Tpreprocess::PassBlockIf() {
  std::vector<std::string>& L = *listing_;
  struct Open {
    std::size_t If;
    std::optional<std::size_t> Else;
  };
  std::vector<Open> open;
  auto close = [&](const Open& o, std::size_t e) {
    if (o.Else) {
      L[*o.Else] = OpLine(AsmOp::Jump, static_cast<long long>(e));
      L[o.If] = OpLine(AsmOp::Popnjump, static_cast<long long>(*o.Else + 1));
    } else {
      L[o.If] = OpLine(AsmOp::Popnjump, static_cast<long long>(e));
    }
  };
  for (std::size_t j = 0; j < L.size(); ++j) {
    if (kinds_[j].Is(AsmOp::PopnjumpEndif)) {
      open.push_back({j, std::nullopt});
    } else if (kinds_[j].Is(AsmOp::Else)) {
      if (!open.empty()) open.back().Else = j;
    } else if (kinds_[j].Is(AsmOp::Endif)) {
      if (!open.empty()) {
        close(open.back(), j);
        open.pop_back();
      }
    }
  }
  for (const Open& o : open) close(o, L.size() - 1);  // unclosed: the scan ends at the last line
}

void Tpreprocess::PassBreakContinue() {
  std::vector<std::string>& L = *listing_;
  // Level 0 collects BREAK/CONTINUE lines met outside any loop opened after them; the next
  // closing line met at that level closes them.
  std::vector<std::vector<std::size_t>> levels(1);
  for (std::size_t j = 0; j < L.size(); ++j) {
    const LineKind k = kinds_[j];
    if (k.Is(AsmOp::While) || k.Is(AsmOp::Repeat)) {
      levels.emplace_back();
    } else if (k.Is(AsmOp::Break) || k.Is(AsmOp::Continue)) {
      levels.back().push_back(j);
    } else if (k.Is(AsmOp::Endwhile) || k.Is(AsmOp::Until)) {
      long long continueTarget = static_cast<long long>(j);
      if (k.Is(AsmOp::Until)) {
        const AsmToken u = Operand(L[j]);
        continueTarget = u.Kind == AsmKind::Integer ? static_cast<long long>(u.Value) : 0;
      }
      for (std::size_t b : levels.back())
        L[b] = OpLine(AsmOp::Jump, kinds_[b].Is(AsmOp::Break) ? static_cast<long long>(j + 1) : continueTarget);
      if (levels.size() > 1)
        levels.pop_back();
      else
        levels.back().clear();
    }
  }
}

void Tpreprocess::PassRepeat() {
  std::vector<std::string>& L = *listing_;
  std::vector<std::size_t> open;
  for (std::size_t j = 0; j < L.size(); ++j) {
    if (kinds_[j].Is(AsmOp::Repeat)) {
      open.push_back(j);
    } else if (kinds_[j].Is(AsmOp::Until) && !open.empty()) {
      L[j] = OpLine(AsmOp::Popnjump, static_cast<long long>(open.back()));
      open.pop_back();
    }
  }
}

void Tpreprocess::PassWhile() {
  std::vector<std::string>& L = *listing_;
  struct Open {
    std::size_t Line;
    long long Condition;
  };
  std::vector<Open> open;
  for (std::size_t j = 0; j < L.size(); ++j) {
    if (kinds_[j].Is(AsmOp::While)) {
      const AsmToken w = Operand(L[j]);
      open.push_back({j, w.Kind == AsmKind::Integer ? static_cast<long long>(w.Value) : 0});
    } else if (kinds_[j].Is(AsmOp::Endwhile) && !open.empty()) {
      L[open.back().Line] = OpLine(AsmOp::Popnjump, static_cast<long long>(j + 1));
      L[j] = OpLine(AsmOp::Jump, open.back().Condition);
      open.pop_back();
    }
  }
}

void Tpreprocess::PassCalls(const CallableTable& callables) {
  std::vector<std::string>& L = *listing_;
  std::unordered_map<std::string, std::size_t> user;
  for (const UserFunction& f : functions_) user.emplace(f.Key, f.Line);  // first one counts
  std::unordered_map<std::string, std::size_t> table;
  for (std::size_t h = 0; h < callables.size(); ++h) table.emplace(UpperCopy(callables[h].Name), h);

  for (std::size_t i = 0; i < L.size(); ++i) {
    const LineKind k = kinds_[i];
    if (!k.Is(AsmOp::Callex) && !k.Is(AsmOp::CallexStr) && !k.Is(AsmOp::CallexPtr)) continue;
    const AsmToken t = Operand(L[i]);
    if (t.Kind != AsmKind::String) {
      L[i] = "ERR \"Callex sintax\"";
      continue;
    }
    const std::string key = UpperCopy(t.Text);
    if (const auto u = user.find(key); u != user.end()) {
      L[i] = OpLine(AsmOp::Call, static_cast<long long>(u->second + 1));
    } else if (const auto c = table.find(key); c != table.end()) {
      L[i] = OpLine(k.Op, static_cast<long long>(c->second));
    } else {
      L[i] = "ERR \"Unknown function " + std::string(t.Text) + "\"";
      SetError(ResolveError::UnknownFunction, i);
    }
  }
}

void Tpreprocess::PassFunctions() {
  std::vector<std::string>& L = *listing_;
  std::size_t nextEndfunc = L.size() - 1;
  for (std::size_t i = L.size(); i-- > 0;) {
    if (kinds_[i].Is(AsmOp::Function)) L[i] = OpLine(AsmOp::Jump, static_cast<long long>(nextEndfunc));
    if (kinds_[i].Is(AsmOp::Endfunc)) nextEndfunc = i;
  }
}

}  // namespace telvane::script
