// How fast the executive runs a loop-heavy script (nested FOR, arithmetic, MOD, a user
// function call and string building per inner pass), against yabasic and bwbasic running
// the same program (programs/loop.*; PASSES is the outer loop count).
//
// Every figure is CPU time, so that other work on a shared machine does not count: the
// executive's run is timed with the thread's CPU clock, an interpreter by the child
// process's user + system time, less that of the same interpreter running an empty
// program (its start-up). All three are reported per 1,000 outer passes, so the times
// compare directly; the ratios against the executive are printed at the end.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "telvane/script/dbasic.h"

using namespace telvane::script;

namespace {

constexpr int kReportPasses = 1000;
// Sized so that each interpreter runs for about a second per measurement.
constexpr int kYabasicPasses = 10000;
constexpr int kBwbasicPasses = 400;
// Each outer pass adds sum over i = 1..100 of (i*i + 1) mod 7.
constexpr long kTotalPerPass = 301;

std::string LoadProgram(const char* name, int passes) {
  std::ifstream in(std::string(BENCH_PROGRAMS_DIR) + "/" + name, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t at = text.find("PASSES");
  if (at != std::string::npos) text.replace(at, 6, std::to_string(passes));
  return text;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class CaptureHost : public ScriptHost {
 public:
  void showMessage(std::string_view text) override { output.append("message: ").append(text) += '\n'; }
  bool inputBox(std::string_view, std::string_view, std::string&) override { return false; }
  std::string clipboardText() override { return {}; }
  void setClipboardText(std::string_view) override {}
  void outputLine(std::string_view line) override { output.append(line) += '\n'; }
  void clearOutput() override { output.clear(); }
  std::string output;
};

void BM_Executive(benchmark::State& state) {
  CaptureHost host;
  TDBasic engine(host);
  if (engine.Compile(SplitLines(LoadProgram("loop.tvs", kReportPasses)), {}) != 0) {
    state.SkipWithError("loop.tvs does not compile");
    return;
  }
  uint64_t instructions = 0;
  double seconds = 0;
  for (auto _ : state) {
    host.output.clear();
    const double t0 = ThreadCpuSeconds();
    const RunResult r = engine.Run();
    const double t = ThreadCpuSeconds() - t0;
    state.SetIterationTime(t);
    seconds += t;
    instructions += r.Instructions;
  }
  if (host.output.find(std::to_string(kTotalPerPass * kReportPasses)) == std::string::npos)
    state.SkipWithError(("wrong result: " + host.output).c_str());
  state.counters["instructions"] = static_cast<double>(instructions) / static_cast<double>(state.iterations());
  state.counters["ns_per_instruction"] = seconds * 1e9 / static_cast<double>(instructions);
}

// Runs `exe file` with no input; returns the child's CPU seconds, its stdout in `out`.
double RunInterpreter(const char* exe, const std::string& file, std::string* out) {
  int pipeOut[2];
  if (::pipe(pipeOut) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(pipeOut[1], 1);
    ::dup2(null, 2);
    ::close(pipeOut[0]);
    ::execl(exe, exe, file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeOut[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeOut[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(pipeOut[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (out != nullptr) *out = text;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string WriteTemp(const std::string& text, const char* suffix) {
  std::string path = std::string("/tmp/telvane-bench-XXXXXX") + suffix;
  const int fd = ::mkstemps(path.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
  if (fd < 0) return {};
  const ssize_t n = ::write(fd, text.data(), text.size());
  ::close(fd);
  return n == static_cast<ssize_t>(text.size()) ? path : std::string();
}

void BM_Interpreter(benchmark::State& state, const char* exe, const char* loop, const char* empty, int passes,
                    const char* suffix) {
  if (::access(exe, X_OK) != 0) {
    state.SkipWithError((std::string(exe) + " is not installed").c_str());
    return;
  }
  const std::string loopFile = WriteTemp(LoadProgram(loop, passes), suffix);
  const std::string emptyFile = WriteTemp(LoadProgram(empty, passes), suffix);
  std::string out;
  for (auto _ : state) {
    const double startup = RunInterpreter(exe, emptyFile, nullptr);
    const double total = RunInterpreter(exe, loopFile, &out);
    if (startup < 0 || total < 0) {
      state.SkipWithError("interpreter failed");
      break;
    }
    state.SetIterationTime(std::max(0.0, total - startup) * kReportPasses / passes);
  }
  if (out.find(std::to_string(kTotalPerPass * passes)) == std::string::npos)
    state.SkipWithError(("wrong result: " + out).c_str());
  ::unlink(loopFile.c_str());
  ::unlink(emptyFile.c_str());
}

BENCHMARK(BM_Executive)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Interpreter, yabasic, "/usr/bin/yabasic", "loop.yab", "empty.yab", kYabasicPasses, ".yab")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_Interpreter, bwbasic, "/usr/bin/bwbasic", "loop.bas", "empty.bas", kBwbasicPasses, ".bas")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Console output plus the ratio of each benchmark's time to the executive's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto base = times_.find("BM_Executive/manual_time");
    if (base == times_.end() || base->second <= 0) return;
    std::printf("\nCPU time per %d outer passes, relative to the executive:\n", kReportPasses);
    for (const auto& [name, t] : times_) std::printf("  %-40s %8.2fx\n", name.c_str(), t / base->second);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
