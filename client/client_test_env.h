// Test support for the client tests: the faked web farm and machine of
// client_fake_http.h over the private tree and hive of files_testing::EnvFixture.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client/client_fake_http.h"
#include "client/client_info.h"
#include "files/test_env.h"
#include "platform/env.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace client_testing {

class ClientFixture : public files_testing::EnvFixture {
 protected:
  void SetUp() override {
    files_testing::EnvFixture::SetUp();
    fake_ = std::make_unique<FakeClientEnv>(env_.get(), &farm_);
    scopedFake_ = std::make_unique<platform::ScopedDefaultEnv>(fake_.get());
    SetFixedField(szServiceVersion, sizeof(szServiceVersion), "1.0.13.0");
  }
  void TearDown() override {
    scopedFake_.reset();
    fake_.reset();
    files_testing::EnvFixture::TearDown();
  }
  std::string Service(int row) { return GetRegValue_String(kServiceKey, RegValueNames[row], false); }
  std::string Product(int row) { return GetRegValue_String(kProductKey, RegValueNames[row], false); }
  void SetService(int row, const std::string& v) { SetRegValue_String(kServiceKey, RegValueNames[row], v); }
  void SetProduct(int row, const std::string& v) { SetRegValue_String(kProductKey, RegValueNames[row], v); }
  bool HasService(int row) {
    std::unique_ptr<platform::RegKey> key;
    if (env_->RegOpenKey(kServiceKey, platform::kKeyRead | platform::kKeyWow64_32Key, &key) !=
        platform::kSuccess)
      return false;
    uint32_t type = 0, size = 0;
    return key->QueryValue(RegValueNames[row], &type, nullptr, &size) == platform::kSuccess;
  }
  // The log as written, with the file's CR LF line ends read back as LF.
  std::string LogLines() {
    std::string log = LogText(), out;
    for (size_t i = 0; i < log.size(); ++i) {
      if (!(log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n')) out += log[i];
    }
    return out;
  }
  bool Logged(const std::string& text) { return LogLines().find(text) != std::string::npos; }
  // How often text was logged since the last ClearLog.
  size_t CountLogged(const std::string& text) {
    std::string log = LogLines();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  FakeFarm farm_;
  std::unique_ptr<FakeClientEnv> fake_;
  std::unique_ptr<platform::ScopedDefaultEnv> scopedFake_;
  CClientInfo client_;
};

}  // namespace client_testing
