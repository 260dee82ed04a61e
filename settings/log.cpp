#include "settings/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/env.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace {

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

// The file is written as Windows text mode writes it: every line feed becomes
// carriage return + line feed, on every platform, so the log reads the same.
std::string ToTextMode(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string StrFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = VFormat(format, args);
  va_end(args);
  return s;
}

void WriteLog(const char* functionName, const char* message) {
  if (IsDebugLogging() == 0) return;
  std::lock_guard<std::recursive_mutex> lock(csLog);
  platform::Env* env = platform::Env::Default();
  platform::SystemTime t = env->GetLocalTime();
  if (szLogPath[0] == '\0' || message == nullptr) return;
  char stamp[64];
  std::snprintf(stamp, sizeof(stamp), "\n%02d/%02d/%04d, %02d:%02d:%02d\t    ", t.month, t.day, t.year,
                t.hour, t.minute, t.second);
  std::string entry = stamp;
  entry += functionName != nullptr ? functionName : "";
  entry += '-';
  entry += message;
  env->AppendFile(szLogPath, ToTextMode(entry));
}

void WriteLog(const char* functionName, const std::string& message) {
  WriteLog(functionName, message.c_str());
}

void WriteLogF(const char* functionName, const char* format, ...) {
  if (IsDebugLogging() == 0) return;
  va_list args;
  va_start(args, format);
  std::string s = VFormat(format, args);
  va_end(args);
  WriteLog(functionName, s);
}
