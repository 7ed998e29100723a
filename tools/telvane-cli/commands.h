// Sub-commands of telvane-cli. Each receives the arguments after its own name and returns
// the process exit status (2 for a usage error).
#pragma once

namespace telvane::cli {

int RunCamerasCommand(int argc, char** argv);
int RunCaptureCommand(int argc, char** argv);
int RunScriptCommand(int argc, char** argv);
int RunFocusCommand(int argc, char** argv);

}  // namespace telvane::cli
