// The stack machine that runs an assembly listing: a code array of items with a direct
// handler each, a pool of string literals, 500 global variable slots and a 200-slot value
// stack with a frame base for user functions.
//
// Threading: Assemble and Run are called by one thread (the one that owns the script
// window, or the terminal runner's main thread). Stop may be called from any thread and
// from a signal handler: it only sets an atomic flag that the run loop reads after every
// instruction.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "telvane/script/callable.h"
#include "telvane/script/script_host.h"

namespace telvane::script {

// A fault that ends a run (a floating-point fault, a string beyond the size limit, a file
// that fails after it was opened). Callable functions throw it; the executive turns any
// exception from a callable into the end of the run with its message.
class ScriptFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Run-time texts that end a run besides the executive's own ones.
inline constexpr std::string_view kFaultDivisionByZero = "Floating point division by zero";
inline constexpr std::string_view kFaultOverflow = "Floating point overflow";
inline constexpr std::string_view kFaultInvalid = "Invalid floating point operation";
inline constexpr std::string_view kFaultStringTooLong = "String too long";

// Longest string a script may build. opentext$ reads at most 99,000,000 bytes; a text
// twice as long would only be a runaway concatenation loop eating the machine's memory.
inline constexpr std::size_t kMaxStringLength = 100'000'000;

// The limit in force for every engine of the process (kMaxStringLength unless lowered, as
// the fuzzer does to keep each input fast). Any thread; takes effect for the next check.
std::size_t StringLimit();
void SetStringLimit(std::size_t bytes);

enum class RunStatus : uint8_t {
  Ended,    // END, or the end of the program
  Stopped,  // Stop() was called
  Fault,    // a run-time error ended the run; Message says which
};

struct RunResult {
  RunStatus Status = RunStatus::Ended;
  std::string Message;
  uint64_t Instructions = 0;  // executed instructions, the periodic handler's count
};

class Texecutive {
 public:
  static constexpr int kStackSlots = 200;
  static constexpr int kGlobalSlots = 500;
  // A variable operand below 0 names the stack slot frame base + operand + kFrameBias.
  static constexpr int kFrameBias = 100;
  static constexpr uint32_t kPeriodicInterval = 16;

  struct Slot {
    double Number = 0.0;
    int32_t Pointer = 0;
    ValueKind Kind = ValueKind::Number;
    std::string Text;
  };

  struct CodeItem;
  using Handler = void (*)(Texecutive&, const CodeItem&);
  struct CodeItem {
    Handler Fn = nullptr;
    int32_t Int = 0;      // integer operand: number, slot, jump target, handle or pool offset
    uint32_t Length = 0;  // byte length of a pool text
    double Num = 0.0;     // float operand
  };

  Texecutive();
  Texecutive(const Texecutive&) = delete;
  Texecutive& operator=(const Texecutive&) = delete;

  // Builds the code array from the resolved listing. `callables` is the table the resolver
  // bound the CALLEX handles to; its functions are copied, so it need not outlive the call.
  // "Unknown asm instruction" goes to `host` once per offending line.
  void Assemble(std::span<const std::string> listing, const CallableTable& callables, ScriptHost* host);

  // Runs the code array from item 0 until END, a stop request or a fault. Messages,
  // PRINT/CLS output, INPUT and the periodic handler go to `host`. A fault's message is
  // shown through the host before Run returns it.
  RunResult Run(ScriptHost& host);

  void Stop() { stop_.store(true, std::memory_order_relaxed); }
  void SetTag(int32_t tag) { tag_ = tag; }

  // Stops the run once this many instructions have been executed (0: no limit); checked
  // at the periodic handler's pace. For unattended runs such as the fuzzer.
  void SetInstructionBudget(uint64_t budget) { budget_ = budget; }

  std::size_t CodeSize() const { return code_.size(); }
  // Global variable slot, for tests and hosts that inspect a finished run.
  const Slot& Global(std::size_t i) const { return globals_.at(i); }

 private:
  struct Ops;
  friend struct Ops;

  [[noreturn]] static void Fault(std::string_view message);
  void Show(std::string_view message);

  Slot& PushSlot(ValueKind kind);
  Slot& PopSlot();
  Slot& PopTyped(ValueKind kind);
  Slot& FrameVar(int32_t operand);

  std::vector<CodeItem> code_;
  std::string pool_;
  std::vector<CallableEntry> callables_;
  std::vector<Slot> globals_;
  std::array<Slot, kStackSlots + 1> stack_;  // slot 0 is never used, so top 0 means empty
  std::array<CallArg, kStackSlots> args_;
  std::string callResult_;
  int32_t top_ = 0;
  int32_t pc_ = 0;
  int32_t base_ = 0;
  int32_t tag_ = 0;
  uint64_t budget_ = 0;
  std::atomic<bool> stop_{false};
  bool ended_ = false;
  ScriptHost* host_ = nullptr;
};

}  // namespace telvane::script
