#include "settings/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
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

namespace {

// One entry holds at most this many bytes as written (line ends included); a
// longer message is cut and says how much of it was left out.
constexpr size_t kMaxEntryBytes = 64 * 1024;
constexpr size_t kCutMarkRoom = 40;  // "...(N bytes cut)" for any N
// A log about to pass this size is moved aside (the one older file is
// replaced) and a new one begun.
constexpr uint64_t kMaxLogBytes = 16u * 1024 * 1024;

// Appends one entry of the first length bytes of a message that had
// fullLength bytes. The caller has read "debug" already.
void AppendEntry(const char* functionName, const char* message, size_t length, size_t fullLength) {
  std::lock_guard<std::recursive_mutex> lock(csLog);
  const platform::Env* env = platform::Env::Default();
  platform::SystemTime t = env->clock()->GetLocalTime();
  if (szLogPath[0] == '\0' || message == nullptr) return;
  char stamp[64];
  std::snprintf(stamp, sizeof(stamp), "\n%02d/%02d/%04d, %02d:%02d:%02d\t    ", t.month, t.day, t.year,
                t.hour, t.minute, t.second);
  std::string head = stamp;
  head += functionName != nullptr ? functionName : "";
  head += '-';
  std::string entry = ToTextMode(head);
  const size_t room =
      kMaxEntryBytes > entry.size() + kCutMarkRoom ? kMaxEntryBytes - entry.size() : kCutMarkRoom;
  size_t need = 0;  // what the whole message takes in the file, counted no further than room
  for (size_t i = 0; i < length && need <= room; ++i) need += message[i] == '\n' ? 2 : 1;
  const size_t limit = need <= room && length == fullLength ? room : room - kCutMarkRoom;
  size_t taken = 0;
  for (size_t used = 0; taken < length; ++taken) {
    const size_t width = message[taken] == '\n' ? 2 : 1;
    if (used + width > limit) break;
    used += width;
    if (width == 2) entry.push_back('\r');
    entry.push_back(message[taken]);
  }
  if (taken < fullLength)
    entry += StrFormat("...(%llu bytes cut)", static_cast<unsigned long long>(fullLength - taken));
  uint64_t size = 0;
  platform::FileSystem* files = env->files();
  if (files->GetFileSize(szLogPath, &size) == platform::kSuccess && size + entry.size() > kMaxLogBytes &&
      files->RotateFile(szLogPath, LogAsidePath()) != platform::kSuccess)
    return;  // the bound holds: entries wait until the file can be moved aside
  files->AppendFile(szLogPath, entry);
}

}  // namespace

std::string LogAsidePath() {
  std::string path = szLogPath;
  const size_t n = path.size();
  if (n >= 4 && path.compare(n - 4, 4, ".log") == 0) path.erase(n - 4);
  return path + ".old.log";
}

void WriteLog(const char* functionName, const char* message) {
  if (IsDebugLogging() == 0) return;
  const size_t length = message != nullptr ? std::strlen(message) : 0;
  AppendEntry(functionName, message, length, length);
}

void WriteLog(const char* functionName, const std::string& message) {
  if (IsDebugLogging() == 0) return;
  // Up to the first NUL, as the text form gives it.
  const size_t length = std::strlen(message.c_str());
  AppendEntry(functionName, message.c_str(), length, length);
}

void WriteLogF(const char* functionName, const char* format, ...) {
  if (IsDebugLogging() == 0) return;
  // Formatted into a buffer as large as an entry may be: a huge argument is
  // cut here, never copied whole.
  std::vector<char> buffer(kMaxEntryBytes + 1);
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  if (n < 0) return;
  const size_t full = static_cast<size_t>(n);
  AppendEntry(functionName, buffer.data(), std::min(full, kMaxEntryBytes), full);
}
