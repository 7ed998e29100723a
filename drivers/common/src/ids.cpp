// TELVANE_USB_IDS parsing and the TransferError name table.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "telvane/usb/transport.h"

namespace telvane::usb {

const char* TransferErrorName(int error) {
  switch (error) {
    case kErrorIo: return "I/O error";
    case kErrorTimeout: return "timeout";
    case kErrorPipe: return "endpoint stalled";
    case kErrorNoDevice: return "no device (unplugged)";
    case kErrorOther: return "other error";
    default: return error >= 0 ? "success" : "unknown error";
  }
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseHex16(std::string_view s, uint16_t* value) {
  if (s.empty() || s.size() > 4) return false;
  unsigned v = 0;
  for (char c : s) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    v = v * 16 + digit;
  }
  *value = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

std::vector<UsbId> ParseUsbIds(std::string_view text, std::string_view library,
                               std::vector<std::string>* malformed) {
  std::vector<UsbId> ids;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view entry = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (entry.empty()) continue;

    const size_t eq = entry.find('=');
    const size_t colon = entry.find(':', eq == std::string_view::npos ? 0 : eq);
    UsbId id;
    const bool ok = eq != std::string_view::npos && eq > 0 && colon != std::string_view::npos &&
                    ParseHex16(Trim(entry.substr(eq + 1, colon - eq - 1)), &id.vendor) &&
                    ParseHex16(Trim(entry.substr(colon + 1)), &id.product);
    if (!ok) {
      if (malformed) malformed->emplace_back(entry);
      continue;
    }
    if (Trim(entry.substr(0, eq)) == library) ids.push_back(id);
  }
  return ids;
}

std::vector<UsbId> IdsFor(const char* library, std::span<const UsbId> defaults) {
  std::vector<UsbId> ids(defaults.begin(), defaults.end());
  const char* env = std::getenv("TELVANE_USB_IDS");
  if (!env) return ids;

  std::vector<std::string> malformed;
  for (const UsbId& id : ParseUsbIds(env, library ? library : "", &malformed)) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  // Every library parses the same variable; say what is wrong only once per process.
  static std::mutex reportedMutex;
  static std::set<std::string> reported;
  std::lock_guard lock(reportedMutex);
  for (const std::string& entry : malformed) {
    if (reported.insert(entry).second) {
      std::fprintf(stderr,
                   "telvane: TELVANE_USB_IDS: ignoring malformed entry \"%s\" "
                   "(expected library=vvvv:pppp)\n",
                   entry.c_str());
    }
  }
  return ids;
}

}  // namespace telvane::usb
