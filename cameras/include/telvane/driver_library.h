// Run-time binding of one camera driver library (libcamdrv2.so, ...).
//
// The library is opened by file name with dlopen(RTLD_NOW | RTLD_LOCAL), looked up in the
// program's own search path (LD_LIBRARY_PATH, the program's RUNPATH: <build>/lib in the
// build tree, <prefix>/lib/telvane once installed, then the system directories) and finally
// the linker's cache. A missing library or export does not stop
// the program: the binding reports one clear line through the diagnostic sink (stderr by
// default) and stays unavailable.
//
// A loaded library is never unloaded: its readout worker threads are detached and may still
// be running when the binding object goes away.
//
// Threading: construct and resolve on one thread; afterwards the object is read-only.
#pragma once

#include <dlfcn.h>

#include <functional>
#include <string>

namespace telvane {

// Receives one-line diagnostics ("VER2: cannot load libcamdrv2.so: ...").
using DiagnosticSink = std::function<void(const std::string&)>;
DiagnosticSink StderrDiagnostics();

class DriverLibrary {
 public:
  // owner names the binding in messages ("VER2"); file is the library's file name.
  DriverLibrary(std::string owner, std::string file, DiagnosticSink diagnostics);
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  // True while the library is loaded and every required export was found.
  bool Usable() const { return handle_ != nullptr && !missingRequired_; }
  const std::string& File() const { return file_; }

  // Resolves an export into a function pointer. A missing required export makes the library
  // unusable and is reported; a missing optional one only leaves fn null.
  template <typename Fn>
  bool Resolve(const char* name, Fn& fn, bool required = true) {
    fn = reinterpret_cast<Fn>(Symbol(name, required));
    return fn != nullptr;
  }

 private:
  void* Symbol(const char* name, bool required);

  std::string owner_;
  std::string file_;
  DiagnosticSink diagnostics_;
  void* handle_ = nullptr;
  bool missingRequired_ = false;
};

}  // namespace telvane
