// Test support for the entry, service-main and monitor tests: a private folder
// tree and hive as the default Env, with the service manager, the program path,
// the version resource and Sleep faked by a wrapper that records every call.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "platform/env.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace service_testing {

// What the fake service manager was asked, one text per call.
struct ScmRecord {
  std::vector<std::string> calls;
  platform::ServiceConfig created;
  std::string description;
  platform::FailureActions failureActions;
  // Results to give, by call name ("OpenSCManager", "CreateService",
  // "SetDescription", "OpenService", "Delete", "Start", "Control").
  std::map<std::string, platform::Status> failures;
  platform::Status Result(const std::string& call) const {
    auto it = failures.find(call);
    return it == failures.end() ? platform::kSuccess : it->second;
  }
};

class FakeService : public platform::ScService {
 public:
  explicit FakeService(ScmRecord* record) : record_(record) {}
  ~FakeService() override { record_->calls.push_back("CloseService"); }
  platform::Status SetDescription(const std::string& text) override {
    record_->calls.push_back("SetDescription");
    record_->description = text;
    return record_->Result("SetDescription");
  }
  platform::Status SetFailureActions(const platform::FailureActions& actions) override {
    record_->failureActions = actions;
    return Call("SetFailureActions");
  }
  platform::Status QueryFailureActions(platform::FailureActions* actions) override {
    *actions = record_->failureActions;
    return Call("QueryFailureActions");
  }
  platform::Status Delete() override { return Call("Delete"); }
  platform::Status Start() override { return Call("Start"); }
  platform::Status Control(uint32_t control, platform::ServiceStatus*) override {
    return Call("Control " + std::to_string(control), "Control");
  }
  platform::Status QueryStatus(platform::ServiceStatus*) override { return Call("QueryStatus"); }

 private:
  platform::Status Call(const std::string& text, const std::string& name = "") {
    record_->calls.push_back(text);
    return record_->Result(name.empty() ? text : name);
  }
  ScmRecord* record_;
};

class FakeManager : public platform::ScManager {
 public:
  explicit FakeManager(ScmRecord* record) : record_(record) {}
  ~FakeManager() override { record_->calls.push_back("CloseManager"); }
  platform::Status CreateService(const platform::ServiceConfig& config,
                                 std::unique_ptr<platform::ScService>* service) override {
    record_->calls.push_back("CreateService " + config.name);
    record_->created = config;
    platform::Status status = record_->Result("CreateService");
    if (status == platform::kSuccess) *service = std::make_unique<FakeService>(record_);
    return status;
  }
  platform::Status OpenService(const std::string& name, uint32_t access,
                               std::unique_ptr<platform::ScService>* service) override {
    record_->calls.push_back("OpenService " + name + " " + std::to_string(access));
    platform::Status status = record_->Result("OpenService");
    if (status == platform::kSuccess) *service = std::make_unique<FakeService>(record_);
    return status;
  }

 private:
  ScmRecord* record_;
};

class FakeVersion : public platform::VersionResource {
 public:
  bool fixed = true;
  bool hasTranslation = true;
  std::string translation = std::string("\x09\x04\xB0\x04", 4);  // 0409, 04B0
  std::map<std::string, std::string> strings;
  std::vector<std::string>* queried = nullptr;

  bool HasFixedInfo() override { return fixed; }
  bool QueryTranslation(std::string* table) override {
    if (!hasTranslation) return false;
    *table = translation;
    return true;
  }
  bool QueryString(const std::string& subBlock, std::string* value) override {
    if (queried != nullptr) queried->push_back(subBlock);
    auto it = strings.find(subBlock);
    if (it == strings.end()) return false;
    *value = it->second;
    return true;
  }
};

class FakeSystemEnv : public platform::EnvWrapper {
 public:
  explicit FakeSystemEnv(platform::Env* target) : EnvWrapper(target) {}

  ScmRecord scm;
  std::string modulePath;
  bool versionLoads = true;
  FakeVersion version;  // copied into each loaded resource
  std::vector<std::string> versionQueries;
  uint16_t langId = 0x0409;
  std::vector<uint32_t> sleeps;
  // Service host.
  std::vector<platform::ServiceStatus> reported;
  platform::Status registerResult = platform::kSuccess;
  platform::Status setStatusResult = platform::kSuccess;
  platform::ServiceControlFunction handler = nullptr;
  // A control the fake manager sends from inside the registration, as a stop
  // arriving during start-up would.
  uint32_t controlDuringRegister = 0;

  platform::Status OpenSCManager(uint32_t access, std::unique_ptr<platform::ScManager>* manager) override {
    scm.calls.push_back("OpenSCManager " + std::to_string(access));
    platform::Status status = scm.Result("OpenSCManager");
    if (status == platform::kSuccess) *manager = std::make_unique<FakeManager>(&scm);
    return status;
  }
  platform::Status GetModulePath(std::string* path) override {
    *path = modulePath;
    return platform::kSuccess;
  }
  platform::Status LoadVersionResource(const std::string& path,
                                       std::unique_ptr<platform::VersionResource>* res) override {
    versionQueries.push_back("load " + path);
    if (!versionLoads) return platform::kErrorFileNotFound;
    auto copy = std::make_unique<FakeVersion>(version);
    copy->queried = &versionQueries;
    *res = std::move(copy);
    return platform::kSuccess;
  }
  uint16_t GetUserDefaultLangID() override { return langId; }
  void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
  platform::Status RegisterServiceCtrlHandlerEx(const std::string& name, platform::ServiceControlFunction h,
                                                void* context,
                                                platform::ServiceStatusHandle* handle) override {
    (void)name;
    (void)context;
    if (registerResult != platform::kSuccess) return registerResult;
    handler = h;
    *handle = 42;
    if (controlDuringRegister != 0) h(controlDuringRegister, 0, nullptr, nullptr);
    return platform::kSuccess;
  }
  platform::Status SetServiceStatus(platform::ServiceStatusHandle handle,
                                    const platform::ServiceStatus& status) override {
    if (handle != 42u) return platform::kErrorInvalidHandle;
    reported.push_back(status);
    return setStatusResult;
  }
};

// One log entry, split into function name and message ("\r\n" back to "\n").
struct LogEntry {
  std::string function;
  std::string message;
};

inline std::vector<LogEntry> ParseLog(const std::string& text) {
  static const std::regex stamp("\r\n[0-9]{2}/[0-9]{2}/[0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2}\t    ");
  std::vector<LogEntry> entries;
  std::vector<std::pair<size_t, size_t>> marks;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), stamp); it != std::sregex_iterator(); ++it) {
    marks.emplace_back(static_cast<size_t>(it->position()), static_cast<size_t>(it->length()));
  }
  for (size_t i = 0; i < marks.size(); ++i) {
    size_t begin = marks[i].first + marks[i].second;
    size_t end = i + 1 < marks.size() ? marks[i + 1].first : text.size();
    std::string body = text.substr(begin, end - begin);
    std::string plain;
    for (size_t j = 0; j < body.size(); ++j) {
      if (body[j] == '\r' && j + 1 < body.size() && body[j + 1] == '\n') continue;
      plain += body[j];
    }
    size_t dash = plain.find('-');
    // Function names hold no "-"; messages may.
    LogEntry entry;
    entry.function = dash == std::string::npos ? plain : plain.substr(0, dash);
    entry.message = dash == std::string::npos ? "" : plain.substr(dash + 1);
    entries.push_back(entry);
  }
  return entries;
}

class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("inkora-service-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(dir);
    tmp_ = dir.string();
    base_ = platform::NewIsolatedEnv(tmp_);
    env_ = std::make_unique<FakeSystemEnv>(base_.get());
    env_->modulePath = Tmp("InkoraUpdater.exe");
    env_->version.strings["\\StringFileInfo\\040904B0\\FileVersion"] = "1, 0, 13, 0";
    scoped_ = std::make_unique<platform::ScopedDefaultEnv>(env_.get());
    CleanRegistry();
    SetServiceDword("debug", 1);
  }

  void TearDown() override {
    CleanRegistry();
    strTestPath.clear();
    strTestSendNow.clear();
    SetFixedField(szModulePath, sizeof(szModulePath), "");
    SetFixedField(szLogPath, sizeof(szLogPath), "");
    SetFixedField(szServiceVersion, sizeof(szServiceVersion), "");
    scoped_.reset();
    env_.reset();
    base_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(tmp_, ignored);
  }

  void CleanRegistry() {
    base_->RegDeleteTree(kServiceKey, platform::kKeyWow64_32Key);
    base_->RegDeleteTree(kProductKey, platform::kKeyWow64_32Key);
  }

  std::string Tmp(const std::string& relative) const { return tmp_ + "\\" + relative; }

  // Points the log at a file of the tree without going through start-up.
  void UseLogFile() { SetFixedField(szLogPath, sizeof(szLogPath), Tmp("InkoraUpdater.log")); }
  std::string LogText() {
    std::string data;
    base_->ReadFile(Tmp("InkoraUpdater.log"), &data, 1u << 30);
    return data;
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

  void SetServiceDword(const std::string& name, uint32_t value) {
    std::unique_ptr<platform::RegKey> key;
    ASSERT_EQ(platform::kSuccess,
              base_->RegCreateKey(kServiceKey, platform::kKeyAllAccess | platform::kKeyWow64_32Key, &key));
    ASSERT_EQ(platform::kSuccess, key->SetValue(name, platform::kRegDword, &value, sizeof(value)));
  }
  // A REG_SZ of the service key: present (with its text) or absent.
  bool ServiceString(const std::string& name, std::string* text) {
    std::unique_ptr<platform::RegKey> key;
    if (base_->RegOpenKey(kServiceKey, platform::kKeyRead | platform::kKeyWow64_32Key, &key) !=
        platform::kSuccess) {
      return false;
    }
    char buffer[2048];
    uint32_t type = 0, size = sizeof(buffer);
    if (key->QueryValue(name, &type, buffer, &size) != platform::kSuccess) return false;
    EXPECT_EQ(platform::kRegSz, type) << name;
    EXPECT_GE(size, 1u) << name;
    *text = std::string(buffer, size > 0 ? size - 1 : 0);
    return true;
  }

  std::string tmp_;
  std::unique_ptr<platform::Env> base_;
  std::unique_ptr<FakeSystemEnv> env_;
  std::unique_ptr<platform::ScopedDefaultEnv> scoped_;
};

}  // namespace service_testing
