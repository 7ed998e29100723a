#include "telvane/driver_library.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <vector>

namespace telvane {
namespace {

// The directories the dynamic linker searches for the program itself (LD_LIBRARY_PATH, its
// RUNPATH, the system directories), in order. A plain dlopen(name) would search the caller's
// RUNPATH, and the caller is not always the program: a sanitizer's dlopen interceptor, for
// one, has none.
std::vector<std::string> ProgramSearchPath() {
  std::vector<std::string> dirs;
  void* program = dlopen(nullptr, RTLD_NOW);
  if (!program) return dirs;
  Dl_serinfo size{};
  if (dlinfo(program, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
    std::vector<std::max_align_t> storage((size.dls_size + sizeof(std::max_align_t) - 1) /
                                          sizeof(std::max_align_t));
    auto* info = reinterpret_cast<Dl_serinfo*>(storage.data());
    info->dls_size = size.dls_size;
    info->dls_cnt = size.dls_cnt;
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, info) == 0 &&
        dlinfo(program, RTLD_DI_SERINFO, info) == 0) {
      for (unsigned i = 0; i < info->dls_cnt; ++i) dirs.emplace_back(info->dls_serpath[i].dls_name);
    }
  }
  dlclose(program);
  return dirs;
}

void* Load(const std::string& file) {
  if (file.find('/') == std::string::npos) {
    for (const std::string& dir : ProgramSearchPath()) {
      const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + file;
      // The first copy found is the one the linker would take, even if it fails to load.
      if (access(path.c_str(), F_OK) == 0) return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
  }
  // Not in those directories: the linker's cache, or a path given by the caller.
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

DiagnosticSink StderrDiagnostics() {
  return [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

DriverLibrary::DriverLibrary(std::string owner, std::string file, DiagnosticSink diagnostics)
    : owner_(std::move(owner)), file_(std::move(file)), diagnostics_(std::move(diagnostics)) {
  if (!diagnostics_) diagnostics_ = StderrDiagnostics();
  handle_ = Load(file_);
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
