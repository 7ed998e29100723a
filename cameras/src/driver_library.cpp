#include "telvane/driver_library.h"

#include <cstdio>

namespace telvane {

DiagnosticSink StderrDiagnostics() {
  return [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

DriverLibrary::DriverLibrary(std::string owner, std::string file, DiagnosticSink diagnostics)
    : owner_(std::move(owner)), file_(std::move(file)), diagnostics_(std::move(diagnostics)) {
  if (!diagnostics_) diagnostics_ = StderrDiagnostics();
  handle_ = dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    diagnostics_(owner_ + ": cannot load " + file_ + ": " + (why ? why : "unknown error"));
  }
}

void* DriverLibrary::Symbol(const char* name, bool required) {
  if (!handle_) return nullptr;
  dlerror();  // clear a stale error so the one below belongs to this lookup
  void* symbol = dlsym(handle_, name);
  if (!symbol && required) {
    if (!missingRequired_) {
      const char* why = dlerror();
      diagnostics_(owner_ + ": " + file_ + " lacks " + name + ": " +
                   (why ? why : "symbol is null"));
    }
    missingRequired_ = true;
  }
  return symbol;
}

}  // namespace telvane
