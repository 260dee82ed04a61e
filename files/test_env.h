// Test support for the files and upload tests: a private folder tree and hive
// (platform::NewIsolatedEnv) in place as the default Env, the debug log
// switched on into a file of the tree, and small file helpers that go through
// the same Env as the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/env.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace files_testing {

class EnvFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("inkora-files-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(dir);
    tmp_ = dir.string();
    env_ = platform::NewIsolatedEnv(tmp_);
    scoped_ = std::make_unique<platform::ScopedDefaultEnv>(env_.get());
    strTestPath.clear();
    strTestSendNow.clear();
    CleanRegistry();
    // Log entries go to a file of the tree, so tests can read what was logged.
    logPath_ = Tmp("inkora-test.log");
    SetFixedField(szLogPath, sizeof(szLogPath), logPath_);
    SetServiceDword("debug", 1);
    ASSERT_EQ(platform::kSuccess, env_->GetKnownFolder(platform::KnownFolder::kCommonAppData, &appData_));
  }

  void TearDown() override {
    CleanRegistry();
    strTestPath.clear();
    scoped_.reset();
    env_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(tmp_, ignored);
  }

  // Keys the tests write; on Windows the registry is the real one.
  virtual std::vector<std::pair<std::string, uint32_t>> TestKeys() const {
    return {{kProductKey, platform::kKeyWow64_32Key}, {kServiceKey, platform::kKeyWow64_32Key}};
  }
  void CleanRegistry() {
    for (const auto& key : TestKeys()) env_->RegDeleteTree(key.first, key.second);
  }

  // A path below the private tree ("\"-separated).
  std::string Tmp(const std::string& relative) const { return tmp_ + "\\" + relative; }
  // A path below the common application-data folder.
  std::string AppData(const std::string& relative) const {
    std::string base = appData_;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += "\\";
    return base + relative;
  }
  std::string LogFolder() const { return AppData("Quorvex\\Inkora\\Customer Improvement\\togo"); }
  std::string IdentityFile() const { return AppData("Quorvex\\Inkora\\Inkora.ID"); }

  void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '\\' || path[i] == '/') env_->CreateDirectory(path.substr(0, i));
    }
  }
  void Put(const std::string& path, const std::string& data) {
    size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) MakeDirs(path.substr(0, slash));
    ASSERT_EQ(platform::kSuccess, env_->WriteFileAtomic(path, data)) << path;
  }
  std::string Get(const std::string& path) {
    std::string data;
    EXPECT_EQ(platform::kSuccess, env_->ReadFile(path, &data, 1u << 30)) << path;
    return data;
  }
  bool Exists(const std::string& path) { return env_->PathExists(path); }
  size_t CountFiles(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (env_->ListDirectory(folder, &entries) != platform::kSuccess) return 0;
    size_t n = 0;
    for (const auto& e : entries) n += e.isDirectory ? 0 : 1;
    return n;
  }

  std::string LogText() {
    std::string data;
    env_->ReadFile(logPath_, &data, 1u << 30);
    // The log is written in text mode: read its CR LF line ends back as LF.
    std::string text;
    text.reserve(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
      if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
      text.push_back(data[i]);
    }
    return text;
  }
  void ClearLog() { env_->DeleteFile(logPath_); }
  bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }

  void SetServiceDword(const std::string& name, uint32_t value) {
    std::unique_ptr<platform::RegKey> key;
    ASSERT_EQ(platform::kSuccess,
              env_->RegCreateKey(kServiceKey, platform::kKeyAllAccess | platform::kKeyWow64_32Key, &key));
    ASSERT_EQ(platform::kSuccess, key->SetValue(name, platform::kRegDword, &value, sizeof(value)));
  }

  std::string tmp_;
  std::string appData_;
  std::string logPath_;
  std::unique_ptr<platform::Env> env_;
  std::unique_ptr<platform::ScopedDefaultEnv> scoped_;
};

}  // namespace files_testing
