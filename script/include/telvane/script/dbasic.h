// The script engine as its host sees it: compile the editor's lines, run, stop.
//
// TDBasic owns the compiler and the executive. The host (the script window, the terminal
// runner) lends itself for the engine's whole life: it shows compile and run-time
// messages, answers INPUT, holds the clipboard, receives PRINT/CLS output through
// outputLine/clearOutput and gets its periodic() call every 16 instructions.
//
// Threading: Compile and Run on the host's thread. Stop from any thread or from a signal
// handler (it sets an atomic flag); a run ends after the instruction in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "telvane/script/basic_manager.h"
#include "telvane/script/builtins.h"
#include "telvane/script/callable.h"
#include "telvane/script/executive.h"
#include "telvane/script/script_host.h"

namespace telvane::script {

class TDBasic {
 public:
  explicit TDBasic(ScriptHost& host, const BuiltinTables& builtins = Builtins());
  TDBasic(const TDBasic&) = delete;
  TDBasic& operator=(const TDBasic&) = delete;

  // Joins the lines with CR LF line ends, compiles them with messages shown and, on
  // success, assembles the result. Returns 0, the negated line of the first error, or -1
  // for a block left open at the end. A failed compile keeps the previous program. While
  // a program runs (Compile called from a callable or the periodic handler) the new
  // program is checked but not assembled, so the running one is left undisturbed.
  int32_t Compile(std::span<const std::string> lines, const CallableTable& hostEntries);

  // Runs the last successfully compiled program (an empty one before the first).
  RunResult Run();
  void Stop() { executive_.Stop(); }

  // Pushed by PUSH#_TAG (THIS#); 0 unless the host sets it.
  void SetTag(int32_t tag) { executive_.SetTag(tag); }

  bool Running() const { return running_.load(std::memory_order_relaxed); }
  // Assembly listing of the last successful compile.
  const std::vector<std::string>& Listing() const { return listing_; }
  TBasicManager& Manager() { return manager_; }
  Texecutive& Executive() { return executive_; }

 private:
  ScriptHost& host_;
  TBasicManager manager_;
  Texecutive executive_;
  std::vector<std::string> listing_;
  std::atomic<bool> running_{false};
};

// The lines of a script file's text: LF, CR and CR LF all end a line; a last line without
// a line end counts, an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace telvane::script
