// TreeFixture with the settings keys and process state cleared around each
// test, and the debug log on, into a file of the tree.
#pragma once

#include <string>

#include "platform/testing/tree_fixture.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace settings_testing {

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
    szModulePath[0] = szLogPath[0] = szServiceVersion[0] = '\0';
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

  // The log file as written, and with CR LF read back as LF.
  std::string LogText() {
    std::string data;
    base_->files()->ReadFile(logPath_, &data, 1u << 30);
    return data;
  }
  std::string LogLines() {
    std::string text = LogText();
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
      text.erase(at, 1);
    return text;
  }
  bool Logged(const std::string& text) { return LogLines().find(text) != std::string::npos; }
  size_t CountLogged(const std::string& text) {
    std::string log = LogLines();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  void ClearLog() { base_->files()->DeleteFile(logPath_); }

  std::string logPath_;
};

}  // namespace settings_testing
