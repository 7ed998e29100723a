// Runs every script in cases/ and compares what it did with the directives written beside
// the code as comments:
//
//   ' expect: <line>      a line of the final output (CLS clears the lines before it)
//   ' message: <text>     a message the host had to show (compile errors, run-time messages)
//   ' input: <answer>     the next answer to INPUT; when they run out INPUT is cancelled
//   ' exit: <n>           0 ended, 2 compile error, 3 run-time error ended the run
//   ' runs: <n>           run the compiled program n times in one engine
//   ' --- <name>          starts another independent case in the same file
//
// Output lines are compared without trailing blanks (cases use a "|" to show blanks that
// matter). Each case runs in the engine in-process, then through `telvane-cli script` for
// its exit status and, unless the script clears its output, its stdout. Both run in a
// fresh temporary folder, so file built-ins only touch that.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "telvane/script/dbasic.h"

namespace fs = std::filesystem;
using namespace telvane::script;

namespace {

struct Case {
  std::string Name;
  std::vector<std::string> Lines;
  std::vector<std::string> Output;
  std::vector<std::string> Messages;
  std::vector<std::string> Inputs;
  int Exit = 0;
  int Runs = 1;
};

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// "' expect: text" -> ("expect", "text"); anything else -> empty key.
std::pair<std::string, std::string> Directive(const std::string& line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '\'') return {};
  i = line.find_first_not_of(' ', i + 1);
  if (i == std::string::npos) return {};
  if (line.compare(i, 3, "---") == 0) return {"---", TrimRight(line.substr(std::min(line.size(), i + 4)))};
  const std::size_t colon = line.find(':', i);
  if (colon == std::string::npos) return {};
  const std::string key = line.substr(i, colon - i);
  if (key != "expect" && key != "message" && key != "input" && key != "exit" && key != "runs") return {};
  std::string value = line.substr(colon + 1);
  if (!value.empty() && value[0] == ' ') value.erase(0, 1);
  return {key, TrimRight(value)};
}

std::vector<Case> LoadCases(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<Case> cases(1);
  for (const std::string& line : SplitLines(text.str())) {
    const auto [key, value] = Directive(line);
    if (key == "---") {
      if (!cases.back().Lines.empty() || !cases.back().Name.empty()) cases.emplace_back();
      cases.back().Name = value;
      continue;
    }
    Case& c = cases.back();
    c.Lines.push_back(line);
    if (key == "expect") c.Output.push_back(value);
    if (key == "message") c.Messages.push_back(value);
    if (key == "input") c.Inputs.push_back(value);
    if (key == "exit") c.Exit = std::stoi(value);
    if (key == "runs") c.Runs = std::stoi(value);
  }
  return cases;
}

class RecordingHost : public ScriptHost {
 public:
  explicit RecordingHost(std::vector<std::string> inputs) : inputs_(inputs.begin(), inputs.end()) {}
  void showMessage(std::string_view text) override { Messages.emplace_back(text); }
  bool inputBox(std::string_view caption, std::string_view, std::string& answer) override {
    EXPECT_EQ(caption, "INPUT");
    answer.clear();
    if (inputs_.empty()) return false;
    answer = inputs_.front();
    inputs_.pop_front();
    return true;
  }
  std::string clipboardText() override { return clipboard_; }
  void setClipboardText(std::string_view text) override { clipboard_.assign(text); }
  void outputLine(std::string_view line) override { Output.emplace_back(line); }
  void clearOutput() override {
    Output.clear();
    Cleared = true;
  }

  std::vector<std::string> Output;
  std::vector<std::string> Messages;
  bool Cleared = false;

 private:
  std::deque<std::string> inputs_;
  std::string clipboard_;
};

// A fresh folder as the working directory for one case.
class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/telvane-script-case-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

struct CliResult {
  int Exit = -1;
  std::vector<std::string> Stdout;
};

CliResult RunCli(const Case& c, const fs::path& dir) {
  const fs::path script = dir / "case.tvs";
  {
    std::ofstream out(script, std::ios::binary);
    for (const std::string& line : c.Lines) out << line << "\r\n";
    std::ofstream answers(dir / "stdin.txt", std::ios::binary);
    for (const std::string& a : c.Inputs) answers << a << "\n";
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int in = ::open("stdin.txt", O_RDONLY);
    const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open("/dev/null", O_WRONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execl(TELVANE_CLI_PATH, TELVANE_CLI_PATH, "script", "case.tvs", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  CliResult r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream out(dir / "stdout.txt", std::ios::binary);
  std::stringstream text;
  text << out.rdbuf();
  r.Stdout = SplitLines(text.str());
  return r;
}

int ExitCode(const RunResult& r) {
  switch (r.Status) {
    case RunStatus::Ended: return 0;
    case RunStatus::Fault: return 3;
    case RunStatus::Stopped: return 130;
  }
  return -1;
}

std::vector<std::string> Trimmed(std::vector<std::string> lines) {
  for (std::string& l : lines) l = TrimRight(l);
  return lines;
}

// A runaway script in a broken build ends the test instead of hanging it.
constexpr uint64_t kInstructionBudget = 50'000'000;

void RunCase(const Case& c) {
  SCOPED_TRACE("case '" + c.Name + "'");
  bool cleared = false;
  {
    ScratchDir dir;
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.Path());
    RecordingHost host(c.Inputs);
    TDBasic engine(host);
    engine.Executive().SetInstructionBudget(kInstructionBudget);
    int exit = engine.Compile(c.Lines, {}) == 0 ? 0 : 2;
    for (int run = 0; exit == 0 && run < c.Runs; ++run) exit = ExitCode(engine.Run());
    fs::current_path(cwd);
    EXPECT_EQ(exit, c.Exit);
    EXPECT_EQ(Trimmed(host.Output), c.Output);
    EXPECT_EQ(host.Messages, c.Messages);
    cleared = host.Cleared;
  }
  if (c.Runs != 1) return;
  ScratchDir dir;
  const CliResult cli = RunCli(c, dir.Path());
  EXPECT_EQ(cli.Exit, c.Exit) << "telvane-cli exit status";
  if (!cleared) {
    EXPECT_EQ(Trimmed(cli.Stdout), c.Output) << "telvane-cli stdout";
  }
}

std::vector<fs::path> CaseFiles() {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(TVS_CASES_DIR))
    if (e.path().extension() == ".tvs") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class ScriptCase : public testing::TestWithParam<fs::path> {};

TEST_P(ScriptCase, BehavesAsWritten) {
  for (const Case& c : LoadCases(GetParam())) RunCase(c);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptCase, testing::ValuesIn(CaseFiles()),
                         [](const testing::TestParamInfo<fs::path>& info) {
                           std::string name = info.param.stem().string();
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// ---- the runner's own behaviour --------------------------------------------------------

int RunCliArgs(std::vector<const char*> args, std::string* stdoutText = nullptr) {
  int pipeOut[2];
  if (::pipe(pipeOut) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeOut[1], 1);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 2);
    ::close(pipeOut[0]);
    args.insert(args.begin(), TELVANE_CLI_PATH);
    args.push_back(nullptr);
    ::execv(TELVANE_CLI_PATH, const_cast<char* const*>(args.data()));
    ::_exit(127);
  }
  ::close(pipeOut[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeOut[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(pipeOut[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (stdoutText != nullptr) *stdoutText = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ScriptCli, UsageErrorsExitWith2) {
  ScratchDir dir;
  const std::string script = (dir.Path() / "a.tvs").string();
  std::ofstream(script) << "PRINT 1\n";
  EXPECT_EQ(RunCliArgs({"script"}), 2);
  EXPECT_EQ(RunCliArgs({"script", "--bogus", script.c_str()}), 2);
  EXPECT_EQ(RunCliArgs({"script", script.c_str(), script.c_str()}), 2);
  EXPECT_EQ(RunCliArgs({"script", (dir.Path() / "missing.tvs").c_str()}), 2);
}

TEST(ScriptCli, ListingPrintsTheAssemblyWithoutRunning) {
  ScratchDir dir;
  const std::string script = (dir.Path() / "a.tvs").string();
  // LF, CR and CR LF line ends are all accepted; the listing shows three source lines.
  std::ofstream(script, std::ios::binary) << "x = 1\nPRINT x\rEND\r\n";
  std::string out;
  ASSERT_EQ(RunCliArgs({"script", "--listing", script.c_str()}, &out), 0);
  EXPECT_EQ(out, ", 1\nPUSHC 1\nPOPSTORE 0\n, 2\nPUSH 0\nPUSHC 1\nPRINT\n, 3\nEND\n, 4\nEND\n");
}

TEST(ScriptCli, CtrlCStopsARunningScript) {
  ScratchDir dir;
  const std::string script = (dir.Path() / "loop.tvs").string();
  std::ofstream(script) << "x = message(\"ready\")\nWHILE 1 = 1\nx = x + 1\nENDWHILE\n";
  int pipeErr[2];
  ASSERT_EQ(::pipe(pipeErr), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeErr[1], 2);
    ::close(pipeErr[0]);
    ::execl(TELVANE_CLI_PATH, TELVANE_CLI_PATH, "script", script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeErr[1]);
  // The message is written after the handler is installed and the run has begun.
  std::string err;
  char ch;
  while (err.find("ready\n") == std::string::npos && ::read(pipeErr[0], &ch, 1) == 1) err.push_back(ch);
  ASSERT_EQ(err, "ready\n");
  ::kill(pid, SIGINT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(pipeErr[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
}

}  // namespace
