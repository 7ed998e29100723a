#include "telvane/script/dbasic.h"

namespace telvane::script {

TDBasic::TDBasic(ScriptHost& host, const BuiltinTables& builtins) : host_(host), manager_(&host) {
  manager_.SetBuiltinTables(builtins.Numeric, builtins.String, builtins.Other);
}

int32_t TDBasic::Compile(std::span<const std::string> lines, const CallableTable& hostEntries) {
  std::string source;
  for (const std::string& line : lines) {
    source += line;
    source += "\r\n";
  }
  std::vector<std::string> listing;
  const int32_t result = manager_.Compile(source, hostEntries, true, listing);
  if (result != 0 || Running()) return result;
  executive_.Assemble(listing, manager_.Callables(), &host_);
  listing_ = std::move(listing);
  return 0;
}

RunResult TDBasic::Run() {
  if (running_.exchange(true)) return RunResult{RunStatus::Fault, "A script is already running", 0};
  RunResult result = executive_.Run(host_);
  running_.store(false);
  return result;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace telvane::script
