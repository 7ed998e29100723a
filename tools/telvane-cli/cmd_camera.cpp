// telvane-cli cameras / capture: the Camera menu and the "FIT" button without a screen.
//
// `cameras` lists the entries the Camera menu would show, numbered from 1 in menu order.
// `capture` connects the chosen entry the way the main window does (Open, mode menu,
// gain and offset), runs the capture thread with the preview stopped, takes the exposures
// and prints the name of each saved FITS file on stdout. Progress of exposures longer than a
// second goes to stderr. Ctrl-C cancels the running exposure; that frame is still saved (its
// EXPOSURE reads 0), as the "Cancel Exposure(s)" button does, and the command exits 130.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "telvane/camera_registry.h"
#include "telvane/display.h"
#include "telvane/host.h"
#include "telvane/sim/bus.h"
#include "telvane/video_capture.h"

namespace telvane::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// The register block carries the exposure time in 24 bits.
constexpr int64_t kMaxExposureMs = 16'777'215;
// The Resolution menu has five entries; the camera's own count is checked once it is open.
constexpr int64_t kMenuModes = 5;
// The capture thread treats larger counts as a wrapped abort.
constexpr int64_t kMaxCount = 9'999'999;
// Gain and offset sliders of the main window.
constexpr int64_t kMaxGain = 100;
constexpr int64_t kMaxOffset = 100;
constexpr int32_t kDefaultGain = 50;
constexpr int32_t kDefaultOffset = 50;
// The main window's progress bar shows only exposures longer than this.
constexpr int32_t kProgressMinMs = 1000;
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// A frame that has not arrived this long after its exposure should have ended is lost.
constexpr auto kFrameGrace = std::chrono::seconds(60);

constexpr const char* kCamerasUsage = "usage: telvane-cli cameras [--simulate]\n";
constexpr const char* kCaptureUsage =
    "usage: telvane-cli capture [--simulate] --camera <entry> --mode <m> --exposure <ms>\n"
    "                           --count <k> [--gain <0..100>] [--offset <0..100>]\n"
    "                           --out <base>.FIT\n"
    "  <entry>  number of the camera in the list of 'telvane-cli cameras' (1..4), or its text\n"
    "  <m>      readout mode, 1..number of modes of the camera\n"
    "  files are named <base>_00000.FIT, <base>_00001.FIT, ... skipping existing names\n";

std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int) { gInterrupts.fetch_add(1); }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int UsageError(const char* usage, const std::string& message) {
  std::fprintf(stderr, "telvane-cli: %s\n%s", message.c_str(), usage);
  return kExitUsage;
}

std::optional<int64_t> ParseInteger(std::string_view text, int64_t lo, int64_t hi) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
    return std::nullopt;
  return value;
}

// "--name value" or "--name=value".
struct OptionReader {
  OptionReader(int count, char** args) : argc(count), argv(args) {}
  int argc;
  char** argv;
  int i = 0;
  std::string name, value;
  bool hasInlineValue = false;

  bool Next() {
    if (i >= argc) return false;
    std::string_view arg = argv[i++];
    const size_t eq = arg.find('=');
    hasInlineValue = arg.starts_with("--") && eq != std::string_view::npos;
    name = hasInlineValue ? std::string(arg.substr(0, eq)) : std::string(arg);
    value = hasInlineValue ? std::string(arg.substr(eq + 1)) : std::string();
    return true;
  }
  bool TakeValue() {
    if (hasInlineValue) return true;
    if (i >= argc) return false;
    value = argv[i++];
    return true;
  }
};

void EnableSimulatorIf(bool simulate) {
  if (simulate) sim::Bus::Instance().Enable();
}

// Headless hosts of the capture thread.
class CaptureEvents : public MessageSink, public MessageBoxHost {
 public:
  explicit CaptureEvents(TVideoCapture*& capture) : capture_(capture) {}

  // Capture thread: right after SaveFits, so the last saved name belongs to this message.
  void post(int message) override {
    if (message != MSG_CAPTURE_SAVED || !capture_) return;
    std::lock_guard lock(mutex_);
    saved_.push_back(capture_->LastSavedFile());
    changed_.notify_all();
  }
  void showMessage(const std::string& text) override {
    std::fprintf(stderr, "telvane-cli: %s\n", text.c_str());
  }

  // Saved names since the last call ("" for a file that could not be written).
  std::vector<std::string> Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return !saved_.empty(); });
    std::vector<std::string> out(saved_.begin(), saved_.end());
    saved_.clear();
    return out;
  }

 private:
  TVideoCapture*& capture_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> saved_;
};

class NoDisplay : public DisplayHost {
 public:
  void UpdateDisplay(const DisplayInputs&, const DisplayFrame&) override {}
};

// Percentage line of the main window's progress bar, on stderr.
class Progress {
 public:
  Progress() : tty_(isatty(STDERR_FILENO) == 1) {}

  void Update(const TVideoCapture& vc, TCamera& cam, uint32_t frame, uint32_t total) {
    const uint32_t end = vc.ExposureEndTick.load();
    const int32_t duration = vc.ExposureDuration.load();
    if (end == kNoExposureTick || duration <= kProgressMinMs || !vc.IsCapture.load()) return;
    const int32_t factor = std::max(1, cam.ExposureTimeFactor());
    const uint32_t elapsed = TickCount() - vc.ExposureStartTick.load();
    const int pct =
        std::min(100, int(std::nearbyint(100.0 / factor * double(elapsed) / double(duration))));
    if (pct == last_) return;
    if (tty_) {
      std::fprintf(stderr, "\rexposure %u/%u: %3d%%", frame, total, pct);
      shown_ = true;
    } else if (last_ < 0 || pct / 25 != last_ / 25) {  // a log wants few lines
      std::fprintf(stderr, "exposure %u/%u: %d%%\n", frame, total, pct);
    }
    last_ = pct;
  }
  // Before anything else is printed, and when a frame has been saved.
  void Clear() {
    if (tty_ && shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
    last_ = -1;
  }

 private:
  bool tty_;
  bool shown_ = false;
  int last_ = -1;
};

bool ParentFolderExists(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;
  const std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasFitExtension(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".FIT";
}

// Releases the capture thread and ends the process when it cannot be stopped: a camera that
// never returns from its exposure must not keep the command from exiting.
int Finish(const std::shared_ptr<TVideoCapture>& vc, int code) {
  const bool stopped = vc->Shutdown();
  std::fflush(stdout);
  std::fflush(stderr);
  if (!stopped) {
    std::fputs("telvane-cli: the camera did not stop; exiting anyway\n", stderr);
    std::fflush(stderr);
    std::_Exit(code == kExitOk ? kExitFailed : code);
  }
  return code;
}

}  // namespace

int RunCamerasCommand(int argc, char** argv) {
  bool simulate = false;
  OptionReader opts(argc, argv);
  while (opts.Next()) {
    if (opts.name == "--simulate" && !opts.hasInlineValue)
      simulate = true;
    else if (opts.name == "-h" || opts.name == "--help")
      return std::fputs(kCamerasUsage, stdout), kExitOk;
    else
      return UsageError(kCamerasUsage,
                        "cameras: unknown argument '" + std::string(argv[opts.i - 1]) + "'");
  }
  EnableSimulatorIf(simulate);
  CameraRegistry registry;
  const auto& entries = registry.Scan();
  if (entries.empty()) {
    std::fputs("telvane-cli: no camera found\n", stderr);
    return kExitFailed;
  }
  for (size_t k = 0; k < entries.size(); ++k)
    std::printf("%zu: %s\n", k + 1, entries[k].caption.c_str());
  return kExitOk;
}

int RunCaptureCommand(int argc, char** argv) {
  bool simulate = false;
  std::string cameraArg, out;
  std::optional<int64_t> mode, exposure, count;
  int64_t gain = kDefaultGain, offset = kDefaultOffset;

  OptionReader opts(argc, argv);
  while (opts.Next()) {
    const std::string name = opts.name;
    if (name == "-h" || name == "--help") return std::fputs(kCaptureUsage, stdout), kExitOk;
    if (name == "--simulate" && !opts.hasInlineValue) {
      simulate = true;
      continue;
    }
    struct Numeric {
      const char* name;
      std::optional<int64_t>* target;
      int64_t* plain;
      int64_t lo, hi;
    };
    const Numeric numerics[] = {
        {"--mode", &mode, nullptr, 1, kMenuModes},
        {"--exposure", &exposure, nullptr, 0, kMaxExposureMs},
        {"--count", &count, nullptr, 1, kMaxCount},
        {"--gain", nullptr, &gain, 0, kMaxGain},
        {"--offset", nullptr, &offset, 0, kMaxOffset},
    };
    bool known = false;
    for (const Numeric& n : numerics) {
      if (name != n.name) continue;
      known = true;
      if (!opts.TakeValue()) return UsageError(kCaptureUsage, name + " needs a value");
      const auto v = ParseInteger(opts.value, n.lo, n.hi);
      if (!v)
        return UsageError(kCaptureUsage, name + " wants a whole number from " +
                                             std::to_string(n.lo) + " to " + std::to_string(n.hi) +
                                             ", not '" + opts.value + "'");
      if (n.target) *n.target = *v;
      if (n.plain) *n.plain = *v;
    }
    if (known) continue;
    if (name == "--camera" || name == "--out") {
      if (!opts.TakeValue() || opts.value.empty())
        return UsageError(kCaptureUsage, name + " needs a value");
      (name == "--camera" ? cameraArg : out) = opts.value;
      continue;
    }
    return UsageError(kCaptureUsage,
                      "capture: unknown argument '" + std::string(argv[opts.i - 1]) + "'");
  }
  if (cameraArg.empty()) return UsageError(kCaptureUsage, "capture: --camera is required");
  if (!mode) return UsageError(kCaptureUsage, "capture: --mode is required");
  if (!exposure) return UsageError(kCaptureUsage, "capture: --exposure is required");
  if (!count) return UsageError(kCaptureUsage, "capture: --count is required");
  if (out.empty()) return UsageError(kCaptureUsage, "capture: --out is required");
  if (!HasFitExtension(out))
    return UsageError(kCaptureUsage, "capture: the file name must end in .FIT: '" + out + "'");
  if (!ParentFolderExists(out))
    return UsageError(kCaptureUsage, "capture: the folder of '" + out + "' does not exist");

  EnableSimulatorIf(simulate);
  CameraRegistry registry;
  const auto& entries = registry.Scan();
  if (entries.empty()) {
    std::fputs("telvane-cli: no camera found\n", stderr);
    return kExitFailed;
  }
  std::optional<CameraMenuEntry> entry;
  if (const auto k = ParseInteger(cameraArg, 1, CameraRegistry::kMaxEntries)) {
    if (*k <= int64_t(entries.size())) entry = entries[size_t(*k - 1)];
  } else {
    for (const auto& e : entries)
      if (e.caption == cameraArg) entry = e;
  }
  if (!entry)
    return UsageError(kCaptureUsage, "capture: no camera entry '" + cameraArg + "' (" +
                                         std::to_string(entries.size()) +
                                         " found; see telvane-cli cameras)");

  std::unique_ptr<TCamera> camera = registry.Take(*entry);
  if (!camera) {
    std::fprintf(stderr, "telvane-cli: %s is not available\n", entry->caption.c_str());
    return kExitFailed;
  }
  TVideoCapture* capturePtr = nullptr;
  CaptureEvents events(capturePtr);
  NoDisplay display;
  auto vc = std::make_shared<TVideoCapture>(events, display, events);
  capturePtr = vc.get();

  // Connect as the main window does: camera and device index, offset then gain, open,
  // gain and offset to the camera, the mode menu, mode 1 current.
  vc->Camera = camera.get();
  vc->DeviceIndex = entry->DeviceIndex();
  vc->SetOffset(int32_t(offset));
  vc->SetGain(int32_t(gain));
  if (!vc->OpenCamera()) {
    std::fprintf(stderr, "telvane-cli: cannot open %s\n", entry->caption.c_str());
    return Finish(vc, kExitFailed);
  }
  vc->ApplyGainOffset();
  std::vector<std::string> modeNames;
  const int32_t modeCount = camera->ModeCount();
  for (int32_t k = 1; k <= modeCount; ++k) {
    std::string modeName;
    int32_t w = 0, h = 0, bin = 0;
    bool colour = false;
    camera->SelectMode(k, modeName, w, h, bin, colour);
    modeNames.push_back(modeName);
  }
  {
    std::string modeName;
    int32_t w = 0, h = 0, bin = 0;
    bool colour = false;
    camera->SelectMode(1, modeName, w, h, bin, colour);
  }
  if (*mode > modeCount) {
    UsageError(kCaptureUsage, "capture: " + entry->caption + " has modes 1.." +
                                  std::to_string(modeCount) + ", not " + std::to_string(*mode));
    return Finish(vc, kExitUsage);
  }

  InstallInterruptHandler();
  vc->Start();
  vc->Idle = true;  // no preview frames: only the captures
  vc->RequestMode(int32_t(*mode));
  std::fprintf(stderr, "%s, mode %lld \"%s\", %lld ms x %lld\n", entry->caption.c_str(),
               static_cast<long long>(*mode), modeNames[size_t(*mode - 1)].c_str(),
               static_cast<long long>(*exposure), static_cast<long long>(*count));
  vc->StartCapture(out, int32_t(*exposure), uint32_t(*count));

  Progress progress;
  uint32_t saved = 0, failed = 0;
  auto takeSaved = [&](std::chrono::milliseconds wait) {
    for (const std::string& name : events.Wait(wait)) {
      progress.Clear();
      if (name.empty()) {
        ++failed;
      } else {
        ++saved;
        std::printf("%s\n", name.c_str());
        std::fflush(stdout);
      }
    }
  };
  const auto frameBudget = [&] {
    const int32_t factor = std::max(1, camera->ExposureTimeFactor());
    return std::chrono::milliseconds(*exposure * factor) + kFrameGrace;
  };
  auto deadline = std::chrono::steady_clock::now() + frameBudget();
  while (saved + failed < *count && gInterrupts.load() == 0) {
    const uint32_t before = saved + failed;
    takeSaved(kPollInterval);
    if (saved + failed != before) deadline = std::chrono::steady_clock::now() + frameBudget();
    if (std::chrono::steady_clock::now() > deadline) {
      progress.Clear();
      std::fputs("telvane-cli: the camera delivered no frame in time\n", stderr);
      vc->AbortCapture();
      return Finish(vc, kExitFailed);
    }
    progress.Update(*vc, *camera, saved + failed + 1, uint32_t(*count));
  }
  progress.Clear();

  if (gInterrupts.load() > 0) {
    // As "Cancel Exposure(s)": no further captures, the running one ends early and is still
    // saved. The loop parks only after that frame's save, so every name is printed.
    std::fputs("telvane-cli: cancelling the exposure\n", stderr);
    vc->AbortCapture();
    vc->RequestPause();
    const auto giveUp = std::chrono::steady_clock::now() + kFrameGrace;
    while (!vc->WaitPaused(kPollInterval)) {
      takeSaved(std::chrono::milliseconds(0));
      if (gInterrupts.load() >= 2 || std::chrono::steady_clock::now() > giveUp) break;
    }
    takeSaved(std::chrono::milliseconds(0));
    return Finish(vc, kExitInterrupted);
  }
  return Finish(vc, failed ? kExitFailed : kExitOk);
}

}  // namespace telvane::cli
