// What the script engine asks of its surroundings. The Qt script window and the terminal
// runner implement it; tests implement it with a recorder.
//
// Threading: every call comes from the thread that compiles or runs the script (in the GUI
// the user-interface thread), never from two threads at once. An implementation that is
// driven from another thread marshals to its own UI thread and blocks until done, because
// the engine needs the answer (input, clipboard) before it goes on.
#pragma once

#include <string>
#include <string_view>

namespace telvane::script {

class ScriptHost {
 public:
  virtual ~ScriptHost() = default;

  // Modal message box: compile errors ("ERROR Line 3: Syntax"), run-time messages
  // ("Stack overflow") and the script's own message@$. Returns after the user closed it.
  virtual void showMessage(std::string_view text) = 0;

  // Modal input box with a caption, a label and an empty default. Returns false when the
  // user cancelled; `answer` is then left empty.
  virtual bool inputBox(std::string_view caption, std::string_view prompt, std::string& answer) = 0;

  // Clipboard text; empty when the clipboard holds no text.
  virtual std::string clipboardText() = 0;
  virtual void setClipboardText(std::string_view text) = 0;

  // Output sink of PRINT: one finished line per call.
  virtual void outputLine(std::string_view line) = 0;
  // CLS: forget every line output so far.
  virtual void clearOutput() = 0;

  // Called after every 16th executed instruction so the host can process its events; a
  // stop request reaches the running script from here. The default does nothing.
  virtual void periodic() {}
};

}  // namespace telvane::script
