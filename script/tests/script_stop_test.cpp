// Stop is the one engine call made from another thread (the GUI's Stop button handler may
// run there, the terminal runner's SIGINT handler anywhere): it must end a running script
// promptly and race-free.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "telvane/script/dbasic.h"

using namespace telvane::script;

namespace {

class QuietHost : public ScriptHost {
 public:
  void showMessage(std::string_view text) override { messages.emplace_back(text); }
  bool inputBox(std::string_view, std::string_view, std::string&) override { return false; }
  std::string clipboardText() override { return {}; }
  void setClipboardText(std::string_view) override {}
  void outputLine(std::string_view) override {}
  void clearOutput() override {}
  void periodic() override { running.store(true); }

  std::atomic<bool> running{false};
  std::vector<std::string> messages;
};

TEST(ScriptStop, StopFromAnotherThreadEndsAnEndlessLoop) {
  QuietHost host;
  TDBasic engine(host);
  const std::vector<std::string> lines = {"x = 0", "WHILE 1 = 1", "x = x + 1", "ENDWHILE"};
  ASSERT_EQ(engine.Compile(lines, {}), 0);

  std::thread stopper([&] {
    while (!host.running.load()) std::this_thread::yield();
    engine.Stop();
  });
  const RunResult r = engine.Run();
  stopper.join();
  EXPECT_EQ(r.Status, RunStatus::Stopped);
  EXPECT_TRUE(host.messages.empty());

  // A stop request made while nothing runs is forgotten by the next run.
  engine.Stop();
  const std::vector<std::string> once = {"PRINT 1"};
  ASSERT_EQ(engine.Compile(once, {}), 0);
  EXPECT_EQ(engine.Run().Status, RunStatus::Ended);
}

}  // namespace
