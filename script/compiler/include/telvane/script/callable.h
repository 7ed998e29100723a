// Functions a script can call by name: the built-in library and the host's own commands.
//
// An entry is found by its "<name>@<signature>" text (signature: one letter per argument,
// `n` number, `$` string, `#` pointer; matched without regard to case). The resolver binds
// each call to an entry's position in the callable table, which is the call's handle; the
// executive then calls `Fn` directly, so a call costs one indirect call and no lookup.
//
// Threading: entries are called on the thread that runs the script, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::script {

class ScriptHost;

enum class ValueKind : uint8_t { Number, Pointer, String };

// One argument as the executive hands it over. `Text` is NUL-terminated and lives for the
// duration of the call; `Length` counts its bytes (a script string may hold a NUL itself).
struct CallArg {
  ValueKind Kind = ValueKind::Number;
  double Number = 0.0;
  int32_t Pointer = 0;
  const char* Text = "";
  std::size_t Length = 0;

  std::string_view View() const { return {Text, Length}; }
};

// What a callable function sees. Arguments come in source order; the resolver has matched
// the signature letter by letter, so a function may trust the kinds it declared.
//
// Results, by the kind of the call:
//   CALLEX   (name without suffix): set `Number`;
//   CALLEX#  (name ending in '#'):  set `Pointer`;
//   CALLEX$  (name ending in '$'):  write into `Text`, which the executive empties before
//                                   the call and pushes afterwards.
struct CallContext {
  std::span<const CallArg> Args;
  void* Data = nullptr;          // the entry's own Data
  ScriptHost* Host = nullptr;    // message box, input, clipboard of the running host; may be null
  double Number = 0.0;
  int32_t Pointer = 0;
  std::string& Text;

  double Num(std::size_t i) const { return Args[i].Number; }
  int32_t Ptr(std::size_t i) const { return Args[i].Pointer; }
  std::string_view Str(std::size_t i) const { return Args[i].View(); }
  const char* CStr(std::size_t i) const { return Args[i].Text; }
};

// A plain function pointer keeps the call cheap; per-entry state travels in `Data`.
// A function may throw (e.g. a floating-point fault it detects); the exception ends the run
// and reaches the host.
using CallableFn = void (*)(CallContext&);

struct CallableEntry {
  std::string Name;  // "<name>@<signature>", e.g. "mid$@$nn"
  CallableFn Fn = nullptr;
  void* Data = nullptr;
};

using CallableTable = std::vector<CallableEntry>;

}  // namespace telvane::script
