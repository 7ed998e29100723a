#include "telvane/script/terminal_host.h"

#include <cstdlib>

#include "telvane/script/dbasic.h"

namespace telvane::script {

void TerminalHost::showMessage(std::string_view text) {
  std::fflush(out_);  // keep the order of output and messages when both go to one terminal
  std::fwrite(text.data(), 1, text.size(), err_);
  std::fputc('\n', err_);
  std::fflush(err_);
}

bool TerminalHost::inputBox(std::string_view, std::string_view prompt, std::string& answer) {
  answer.clear();
  std::fflush(out_);
  std::fwrite(prompt.data(), 1, prompt.size(), err_);
  std::fputc(' ', err_);
  std::fflush(err_);
  char* line = nullptr;
  std::size_t capacity = 0;
  const ssize_t n = ::getline(&line, &capacity, in_);
  if (n < 0) {
    // end of input, or a read interrupted by Ctrl-C: the same as a cancelled box
    std::free(line);
    std::clearerr(in_);
    return false;
  }
  answer.assign(line, static_cast<std::size_t>(n));
  std::free(line);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  return true;
}

void TerminalHost::outputLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
}

void TerminalHost::periodic() {
  if (interrupt_ != nullptr && engine_ != nullptr && interrupt_->load(std::memory_order_relaxed)) engine_->Stop();
}

}  // namespace telvane::script
