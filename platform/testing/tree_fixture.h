// A private folder tree with the platform backend over it, under the fakes of the default Env.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "platform/env.h"
#include "platform/testing/fake_env.h"

namespace platform_testing {

class TreeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    std::filesystem::path dir = std::filesystem::temp_directory_path();
#ifdef _WIN32  // on the drive's root: Windows' temporary folder lies in the profiles folder tests plant
    dir = dir.root_path();
#endif
    dir /= "inkora-test-" + std::to_string(random()) + std::to_string(random());
    std::filesystem::create_directories(dir);
    tmp_ = dir.string();
    base_ = platform::NewIsolatedEnv(tmp_);
    env_ = std::make_unique<FakeEnv>(base_.get());
    scoped_ = std::make_unique<platform::ScopedDefaultEnv>(&env_->env);
  }
  void TearDown() override {
    scoped_.reset();
    env_.reset();
    base_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(tmp_, ignored);
  }

  std::string Tmp(const std::string& relative) const {
    return tmp_ + "\\" + relative;
  }
  std::string Known(platform::KnownFolder folder, const std::string& relative) {
    std::string base;
    EXPECT_EQ(platform::kSuccess, base_->files()->GetKnownFolder(folder, &base));
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += "\\";
    return base + relative;
  }
  void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i)
      if (i == path.size() || path[i] == '\\' || path[i] == '/')
        base_->files()->CreateFolder(path.substr(0, i));
  }
  void Put(const std::string& path, const std::string& data) {
    size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) MakeDirs(path.substr(0, slash));
    ASSERT_EQ(platform::kSuccess, base_->files()->WriteFileAtomic(path, data)) << path;
  }
  std::string Get(const std::string& path) {
    std::string data;
    EXPECT_EQ(platform::kSuccess, base_->files()->ReadFile(path, &data, 1u << 30)) << path;
    return data;
  }
  bool Exists(const std::string& path) {
    return base_->files()->PathExists(path);
  }

  // Registry access past the fakes, in the 32-bit view unless told.
  void SetRaw(const std::string& key, const std::string& name, uint32_t type, const std::string& data,
              uint32_t view = platform::kKeyWow64_32Key) {
    std::unique_ptr<platform::RegKey> k;
    ASSERT_EQ(platform::kSuccess, base_->registry()->CreateKey(key, platform::kKeyAllAccess | view, &k))
        << key;
    ASSERT_EQ(platform::kSuccess, k->SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())));
  }
  void SetDword(const std::string& key, const std::string& name, uint32_t value) {
    SetRaw(key, name, platform::kRegDword, std::string(reinterpret_cast<const char*>(&value), sizeof value));
  }
  // A REG_SZ comes without its closing NUL.
  std::optional<std::string> GetRaw(const std::string& key, const std::string& name) {
    std::unique_ptr<platform::RegKey> k;
    uint32_t t = 0, size = 1 << 16;
    std::string data(size, '\0');
    if (base_->registry()->OpenKey(key, platform::kKeyRead | platform::kKeyWow64_32Key, &k) ||
        k->QueryValue(name, &t, &data[0], &size) != platform::kSuccess)
      return std::nullopt;
    data.resize(size);
    if (t == platform::kRegSz && !data.empty() && data.back() == '\0') data.pop_back();
    return data;
  }
  void DeleteKey(const std::string& key) {
    base_->registry()->DeleteTree(key, platform::kKeyWow64_32Key);
  }

  std::string tmp_;
  std::unique_ptr<platform::Env> base_;
  std::unique_ptr<FakeEnv> env_;
  std::unique_ptr<platform::ScopedDefaultEnv> scoped_;
};

}  // namespace platform_testing
