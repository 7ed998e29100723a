// What the capture engine asks of its surroundings. The GUI implements these with Qt
// (queued signals, BlockingQueuedConnection, QMessageBox); the headless front end and the
// tests implement them directly.
#pragma once

#include <string>

namespace telvane {

// Window messages posted to the main window; both parameters are always 0.
inline constexpr int MSG_CAPTURE_SAVED = 0x1400;
inline constexpr int MSG_PREVIEW_RESIZED = 0x1401;
inline constexpr int MSG_TEMPERATURE_UPDATED = 0x1410;

// Receives posted messages. Called from any thread; must not block.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void post(int message) = 0;
};

// Shows a modal message to the user. Called from any thread; an implementation marshals to
// the UI thread and may return before the user has closed the box.
class MessageBoxHost {
 public:
  virtual ~MessageBoxHost() = default;
  virtual void showMessage(const std::string& text) = 0;
};

}  // namespace telvane
