// The fixture of every suite above the settings store: the private tree of
// TreeFixture, the service and product keys emptied before and after, the
// process state reset, and the debug log switched on into a file of the tree
// so a test can read what was logged.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "platform/testing/tree_fixture.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace settings_testing {

// One log entry, split into function name and message ("\r\n" read back as "\n").
struct LogEntry {
  std::string function;
  std::string message;
};

inline std::vector<LogEntry> ParseLog(const std::string& text) {
  static const std::regex stamp("\r\n[0-9]{2}/[0-9]{2}/[0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2}\t    ");
  std::vector<std::pair<size_t, size_t>> marks;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), stamp); it != std::sregex_iterator(); ++it) {
    marks.emplace_back(static_cast<size_t>(it->position()), static_cast<size_t>(it->length()));
  }
  std::vector<LogEntry> entries;
  for (size_t i = 0; i < marks.size(); ++i) {
    size_t begin = marks[i].first + marks[i].second;
    size_t end = i + 1 < marks.size() ? marks[i + 1].first : text.size();
    std::string body = std::regex_replace(text.substr(begin, end - begin), std::regex("\r\n"), "\n");
    size_t dash = body.find('-');  // function names hold no "-"; messages may
    entries.push_back(dash == std::string::npos ? LogEntry{body, ""}
                                                : LogEntry{body.substr(0, dash), body.substr(dash + 1)});
  }
  return entries;
}

class SettingsFixture : public platform_testing::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    ResetState();
    CleanRegistry();
    logPath_ = Tmp("InkoraUpdater.log");
    SetFixedField(szLogPath, sizeof(szLogPath), logPath_);
    SetServiceDword("debug", 1);
  }
  void TearDown() override {
    CleanRegistry();
    ResetState();
    TreeFixture::TearDown();
  }
  static void ResetState() {
    strTestPath.clear();
    strTestSendNow.clear();
    SetFixedField(szModulePath, sizeof(szModulePath), "");
    SetFixedField(szLogPath, sizeof(szLogPath), "");
    SetFixedField(szServiceVersion, sizeof(szServiceVersion), "");
  }
  void CleanRegistry() {
    DeleteKey(kServiceKey);
    DeleteKey(kProductKey);
  }

  void SetServiceDword(const std::string& name, uint32_t value) { SetDword(kServiceKey, name, value); }
  void SetService(const std::string& name, const std::string& text) {
    SetRaw(kServiceKey, name, platform::kRegSz, text + '\0');
  }
  void SetProduct(const std::string& name, const std::string& text) {
    SetRaw(kProductKey, name, platform::kRegSz, text + '\0');
  }
  std::optional<std::string> Service(const std::string& name) { return GetRaw(kServiceKey, name); }
  std::optional<std::string> Product(const std::string& name) { return GetRaw(kProductKey, name); }

  // The log file as written, and with its CR LF line ends read back as LF.
  std::string LogText() {
    std::string data;
    base_->ReadFile(logPath_, &data, 1u << 30);
    return data;
  }
  std::string LogLines() { return std::regex_replace(LogText(), std::regex("\r\n"), "\n"); }
  bool Logged(const std::string& text) { return LogLines().find(text) != std::string::npos; }
  size_t CountLogged(const std::string& text) {
    std::string log = LogLines();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  std::vector<LogEntry> Log() { return ParseLog(LogText()); }
  // The messages logged under one function name, in order.
  std::vector<std::string> Messages(const std::string& function) {
    std::vector<std::string> out;
    for (const auto& e : Log()) {
      if (e.function == function) out.push_back(e.message);
    }
    return out;
  }
  void ClearLog() { base_->DeleteFile(logPath_); }

  std::string logPath_;
};

}  // namespace settings_testing
