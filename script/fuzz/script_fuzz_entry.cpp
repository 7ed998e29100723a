#include "script_fuzz_entry.h"

#include <string>
#include <string_view>
#include <vector>

#include "telvane/script/builtins.h"
#include "telvane/script/dbasic.h"

namespace telvane::script::fuzz {
namespace {

class SilentHost : public ScriptHost {
 public:
  void showMessage(std::string_view) override {}
  bool inputBox(std::string_view, std::string_view, std::string& answer) override {
    answer = "1";  // answered, so INPUT and INPUT$ push a value
    return true;
  }
  std::string clipboardText() override { return clipboard_; }
  void setClipboardText(std::string_view text) override { clipboard_.assign(text.substr(0, 4096)); }
  void outputLine(std::string_view) override {}
  void clearOutput() override {}

 private:
  std::string clipboard_;
};

constexpr std::string_view kAsmPrefix = "#asm";

}  // namespace

void RunScriptInput(const uint8_t* data, std::size_t size) {
  static const BuiltinTables sandbox = SandboxedBuiltins();
  SetStringLimit(kFuzzStringLimit);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SilentHost host;
  TDBasic engine(host, sandbox);
  engine.Executive().SetInstructionBudget(kInstructionBudget);

  if (text.substr(0, kAsmPrefix.size()) == kAsmPrefix) {
    std::vector<std::string> listing = SplitLines(text);
    listing.erase(listing.begin());
    engine.Executive().Assemble(listing, sandbox.Joined(), &host);
    engine.Executive().Run(host);
    return;
  }
  if (engine.Compile(SplitLines(text), {}) == 0) engine.Run();
}

}  // namespace telvane::script::fuzz
