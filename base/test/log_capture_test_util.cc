#include "base/test/log_capture_test_util.h"

#include <algorithm>

#include "base/logging.h"

namespace base {

namespace {

ScopedLogCapture* g_capture = nullptr;

bool StartsWith(const std::string& line, const std::string& start) {
  return line.compare(0, start.size(), start) == 0;
}

}  // namespace

ScopedLogCapture::ScopedLogCapture() : saved_level_(GetMinLogLevel()) {
  g_capture = this;
  SetMinLogLevel(-10);
  SetLogMessageHandler(&ScopedLogCapture::Keep);
}

ScopedLogCapture::~ScopedLogCapture() {
  SetLogMessageHandler(nullptr);
  SetMinLogLevel(saved_level_);
  g_capture = nullptr;
}

std::vector<std::string> ScopedLogCapture::lines() const {
  AutoLock hold(lock_);
  return lines_;
}

std::vector<std::string> ScopedLogCapture::LinesStartingWith(const std::string& start) const {
  std::vector<std::string> result;
  for (const std::string& line : lines()) {
    if (StartsWith(line, start)) result.push_back(line);
  }
  return result;
}

bool ScopedLogCapture::Has(const std::string& line) const {
  const std::vector<std::string> all = lines();
  return std::find(all.begin(), all.end(), line) != all.end();
}

void ScopedLogCapture::SetEventOnLineStartingWith(const std::string& start, HANDLE event) {
  AutoLock hold(lock_);
  line_events_.emplace_back(start, event);
  for (const std::string& line : lines_) {
    if (StartsWith(line, start)) SetEvent(event);
  }
}

bool ScopedLogCapture::Keep(int, const char*, int, size_t start, const std::string& text) {
  if (!g_capture) return false;
  std::string line = text.substr(std::min(start, text.size()));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  AutoLock hold(g_capture->lock_);
  for (const auto& line_event : g_capture->line_events_) {
    if (StartsWith(line, line_event.first)) SetEvent(line_event.second);
  }
  g_capture->lines_.push_back(line);
  return true;
}

}  // namespace base
