// The script host of the terminal runner: PRINT lines go to the output stream one per line,
// CLS prints nothing, messages (message@$, run-time and compile errors) go to the error
// stream and the script goes on, INPUT prompts on the error stream and reads one line from
// the input stream, and the clipboard is a text buffer of the process.
//
// Threading: used by the thread that runs the script. The interrupt flag it watches may
// be set from anywhere, typically a SIGINT handler; periodic() then stops the engine.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "telvane/script/script_host.h"

namespace telvane::script {

class TDBasic;

class TerminalHost : public ScriptHost {
 public:
  TerminalHost(std::FILE* in, std::FILE* out, std::FILE* err) : in_(in), out_(out), err_(err) {}

  // While `flag` is set, every periodic() call asks `engine` to stop.
  void WatchInterrupt(const std::atomic<bool>& flag, TDBasic& engine) {
    interrupt_ = &flag;
    engine_ = &engine;
  }

  void showMessage(std::string_view text) override;
  bool inputBox(std::string_view caption, std::string_view prompt, std::string& answer) override;
  std::string clipboardText() override { return clipboard_; }
  void setClipboardText(std::string_view text) override { clipboard_.assign(text); }
  void outputLine(std::string_view line) override;
  void clearOutput() override {}
  void periodic() override;

 private:
  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  std::string clipboard_;
  const std::atomic<bool>* interrupt_ = nullptr;
  TDBasic* engine_ = nullptr;
};

}  // namespace telvane::script
