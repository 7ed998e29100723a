// The built-in function library: mathematics, strings, text files, the clipboard, folder
// listings, a message box and a pause. Three tables, always handed to the compiler in this
// order after the host's own entries: numeric functions, string functions, other functions.
//
// The functions run on the thread that runs the script. A floating-point fault (logarithm
// of 0, square root of a negative number, overflow) throws ScriptFault, ending the run.
#pragma once

#include "telvane/script/callable.h"

namespace telvane::script {

struct BuiltinTables {
  CallableTable Numeric;
  CallableTable String;
  CallableTable Other;

  // The three tables joined in their fixed order.
  CallableTable Joined() const;
};

// The library as shipped.
const BuiltinTables& Builtins();

// The library with everything that reaches outside the process made harmless: the file
// functions answer "ERROR" (or the empty string) without touching the file system and
// pause returns at once. For unattended runs of untrusted scripts such as the fuzzer.
BuiltinTables SandboxedBuiltins();

}  // namespace telvane::script
