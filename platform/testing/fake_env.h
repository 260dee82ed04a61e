// The platform fake of the unit suites: a real backend underneath, calls failed
// by name, and each faked part (HTTP, clock, system, services) switched on alone.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/env.h"

namespace platform_testing {

using platform::Status;

template <class Map, class Key, class Value>
bool Find(const Map& map, const Key& key, Value* value) {
  auto it = map.find(key);
  if (it == map.end()) return false;
  *value = it->second;
  return true;
}

// How one faked HTTP request handle behaves.
struct Reply {
  std::string body;
  uint32_t code = 200;
  Status open = platform::kSuccess, send = platform::kSuccess;
  Status statusQuery = platform::kSuccess, lengthQuery = platform::kSuccess;
  int64_t announced = -1;             // Content-Length; -1: the body's size
  size_t failAt = std::string::npos;  // bytes served before the read error
  Status readError = platform::kErrorInternetConnectionReset;
  bool throwAtFail = false, noHandle = false;  // noHandle: the open succeeds without a handle

  static Reply Body(std::string text, uint32_t code = 200) { return Reply{std::move(text), code}; }
  static Reply Refused() { return Reply{"", 200, platform::kErrorInternetCannotConnect}; }
  // Half the body, then the read breaks (or, with kSuccess, ends short).
  static Reply Broken(std::string text, Status error = platform::kErrorInternetConnectionReset) {
    Reply r = Body(std::move(text));
    r.failAt = r.body.size() / 2;
    r.readError = error;
    return r;
  }
  static Reply Truncated(std::string text) { return Broken(std::move(text), platform::kSuccess); }
};

struct HttpCall {
  std::string verb, url, host;  // the url of a GET
  uint16_t port = 0;
  std::string path, headers, data;
  uint32_t flags = 0, connectMs = 0, receiveMs = 0, deadlineMs = 0;
};

// Replies in order (then Refused), or from a responder.
struct FakeHttp {
  Status internetOpen = platform::kSuccess;
  std::deque<Reply> replies;
  std::function<Reply(const HttpCall&)> responder;
  std::vector<HttpCall> calls;
  uint32_t largestRead = 0;
  // Brackets the fake's own copying, which a benchmark keeps out of the client's heap.
  std::function<void(bool)> onFakeSide;

  Reply Next(const HttpCall& call) {
    if (responder) return responder(call);
    if (replies.empty()) return Reply::Refused();
    Reply r = replies.front();
    replies.pop_front();
    return r;
  }
};

class FakeHttpRequest : public platform::HttpRequest {
 public:
  FakeHttpRequest(FakeHttp* http, Reply reply, size_t call)
      : http_(http), reply_(std::move(reply)), call_(call) {}
  Status Send(const std::string& headers, const std::string& data) override {
    if (http_->onFakeSide) http_->onFakeSide(true);
    http_->calls[call_].headers += headers;
    http_->calls[call_].data = data;
    if (http_->onFakeSide) http_->onFakeSide(false);
    return reply_.send;
  }
  Status QueryStatusCode(uint32_t* code) override {
    if (reply_.statusQuery == platform::kSuccess) *code = reply_.code;
    return reply_.statusQuery;
  }
  Status QueryContentLength(uint64_t* length) override {
    if (reply_.lengthQuery == platform::kSuccess)
      *length = reply_.announced < 0 ? reply_.body.size() : static_cast<uint64_t>(reply_.announced);
    return reply_.lengthQuery;
  }
  Status Read(void* buffer, uint32_t size, uint32_t* read) override {
    http_->largestRead = std::max(http_->largestRead, size);
    *read = 0;
    size_t end = std::min(reply_.body.size(), reply_.failAt);
    if (pos_ >= end && reply_.failAt != std::string::npos) {
      if (reply_.throwAtFail) throw std::runtime_error("broken");
      return reply_.readError;
    }
    size_t n = std::min<size_t>(size, end - pos_);
    reply_.body.copy(static_cast<char*>(buffer), n, pos_);
    pos_ += n;
    *read = static_cast<uint32_t>(n);
    return platform::kSuccess;
  }

 private:
  FakeHttp* http_;
  Reply reply_;
  size_t call_;
  size_t pos_ = 0;
};

class FakeHttpSession : public platform::HttpSession {
 public:
  explicit FakeHttpSession(FakeHttp* http) : http_(http) {}
  Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) override {
    connectMs_ = connectMs;
    receiveMs_ = receiveMs;
    return platform::kSuccess;
  }
  Status SetDeadline(uint32_t totalMs) override {
    deadlineMs_ = totalMs;
    return platform::kSuccess;
  }
  Status OpenUrl(const std::string& url, const std::string& headers, uint32_t flags,
                 std::unique_ptr<platform::HttpRequest>* request) override {
    return Open(HttpCall{"GET", url, "", 0, "", headers, "", flags}, request);
  }
  Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb, const std::string& path,
                     uint32_t flags, std::unique_ptr<platform::HttpRequest>* request) override {
    return Open(HttpCall{verb, "", host, port, path, "", "", flags}, request);
  }

 private:
  Status Open(HttpCall call, std::unique_ptr<platform::HttpRequest>* request) {
    call.connectMs = connectMs_;
    call.receiveMs = receiveMs_;
    call.deadlineMs = deadlineMs_;
    Reply reply = http_->Next(call);
    http_->calls.push_back(std::move(call));
    if (reply.open != platform::kSuccess || reply.noHandle) return reply.open;
    request->reset(new FakeHttpRequest(http_, std::move(reply), http_->calls.size() - 1));
    return platform::kSuccess;
  }
  FakeHttp* http_;
  uint32_t connectMs_ = 0, receiveMs_ = 0, deadlineMs_ = 0;
};

// The calls made to the Service Control Manager, failed by name (the first word).
struct FakeScm {
  std::vector<std::string> calls;
  platform::ServiceConfig created;
  std::map<std::string, Status> failures;
  Status Call(const std::string& text) {
    calls.push_back(text);
    Status status = platform::kSuccess;
    Find(failures, text.substr(0, text.find(' ')), &status);
    return status;
  }
};

// A manager or a service handle; its close is a call of its own.
class FakeScHandle : public platform::ScManager, public platform::ScService {
 public:
  FakeScHandle(FakeScm* scm, const char* close) : scm_(scm), close_(close) {}
  ~FakeScHandle() override { scm_->calls.push_back(close_); }
  Status CreateService(const platform::ServiceConfig& config,
                       std::unique_ptr<platform::ScService>* service) override {
    scm_->created = config;
    return Opened(scm_->Call("CreateService " + config.name), service);
  }
  Status OpenService(const std::string& name, uint32_t access,
                     std::unique_ptr<platform::ScService>* service) override {
    return Opened(scm_->Call("OpenService " + name + " " + std::to_string(access)), service);
  }
  Status SetDescription(const std::string&) override { return scm_->Call("SetDescription"); }
  Status SetFailureActions(const platform::FailureActions&) override {
    return scm_->Call("SetFailureActions");
  }
  Status QueryFailureActions(platform::FailureActions* actions) override {
    *actions = platform::FailureActions();
    return scm_->Call("QueryFailureActions");
  }
  Status Delete() override { return scm_->Call("Delete"); }
  Status Start() override { return scm_->Call("Start"); }
  Status Control(uint32_t control, platform::ServiceStatus* status) override {
    *status = platform::ServiceStatus();
    return scm_->Call("Control " + std::to_string(control));
  }
  Status QueryStatus(platform::ServiceStatus* status) override {
    *status = platform::ServiceStatus();
    return scm_->Call("QueryStatus");
  }

 private:
  Status Opened(Status status, std::unique_ptr<platform::ScService>* service) {
    if (status == platform::kSuccess) *service = std::make_unique<FakeScHandle>(scm_, "CloseService");
    return status;
  }
  FakeScm* scm_;
  const char* close_;
};

// A resource with fixed fields and the translation 0409/04B0.
class FakeVersion : public platform::VersionResource {
 public:
  std::map<std::string, std::string> strings;
  bool HasFixedInfo() override { return true; }
  bool QueryTranslation(std::string* table) override {
    *table = std::string("\x09\x04\xB0\x04", 4);
    return true;
  }
  bool QueryString(const std::string& subBlock, std::string* value) override {
    return Find(strings, subBlock, value);
  }
};

struct FakeSystem {
  bool versionOk = true;
  bool extendedVersionOk = true;  // false: only the basic record is given
  std::vector<platform::VersionRecord> versionCalls;
  platform::OsVersionInfo version;
  uint16_t arch = 9;
  uint32_t productType = 0;
  int serverR2 = 0;  // GetSystemMetrics(SM_SERVERR2)
  std::map<uint32_t, std::string> locale{{0x59, "en"}, {0x5A, "US"}};
};

// A backend folder whose calls fail by name from the map of its FakeEnv: List
// (keeping the first half of the entries, as a listing cut part-way), ReadFile,
// ReplaceFile, RenameFile, DeleteFile.
class FakeFolder : public platform::Folder {
 public:
  FakeFolder(std::unique_ptr<platform::Folder> folder, const std::map<std::string, Status>* failures)
      : folder_(std::move(folder)), failures_(failures) {}
  Status List(std::vector<platform::FolderEntry>* entries) override {
    const Status s = folder_->List(entries);
    if (!Fault("List")) return s;
    entries->resize((entries->size() + 1) / 2);
    return fault_;
  }
  Status OpenFolder(const std::string& name, std::unique_ptr<platform::Folder>* folder) override {
    Status s = folder_->OpenFolder(name, folder);
    if (s == platform::kSuccess) *folder = std::make_unique<FakeFolder>(std::move(*folder), failures_);
    return s;
  }
  Status ReadFile(const std::string& n, uint64_t m, std::string* d, platform::FileIdentity* i) override {
    return Fault("ReadFile") ? fault_ : folder_->ReadFile(n, m, d, i);
  }
  Status Identify(const std::string& n, platform::FileIdentity* i) override {
    return folder_->Identify(n, i);
  }
  Status ReplaceFile(const std::string& n, const std::string& d) override {
    return Fault("ReplaceFile") ? fault_ : folder_->ReplaceFile(n, d);
  }
  Status RenameFile(const std::string& n, const std::string& to, platform::Folder* t) override {
    return Fault("RenameFile") ? fault_ : folder_->RenameFile(n, to, t);
  }
  Status DeleteFile(const std::string& n) override {
    return Fault("DeleteFile") ? fault_ : folder_->DeleteFile(n);
  }
  platform::Folder* Backend() override { return folder_->Backend(); }

 private:
  bool Fault(const char* call) { return Find(*failures_, std::string(call), &fault_); }
  std::unique_ptr<platform::Folder> folder_;
  const std::map<std::string, Status>* failures_;
  Status fault_ = platform::kSuccess;
};

class FakeEnv : public platform::EnvWrapper {
 public:
  explicit FakeEnv(platform::Env* target) : EnvWrapper(target) {}

  // By call name: GetKnownFolder, GenRandom, and the calls of FakeFolder.
  std::map<std::string, Status> failures;
  std::map<platform::KnownFolder, std::string> knownFolders;
  std::optional<FakeHttp> http;
  std::optional<int64_t> now;            // moved on by Sleep
  std::function<int64_t(int64_t)> zone;  // seconds to add to UTC
  int32_t bias = 0;
  std::optional<platform::SystemTime> localTime;
  std::optional<FakeSystem> system;
  std::optional<FakeScm> scm;
  std::string modulePath;
  std::optional<FakeVersion> version;
  std::vector<uint32_t> sleeps;  // never slept
  // The service host; the control is sent from inside the registration.
  bool fakeServiceHost = false;
  Status registerResult = platform::kSuccess, setStatusResult = platform::kSuccess;
  platform::ServiceControlFunction handler = nullptr;
  std::vector<platform::ServiceStatus> reported;
  uint32_t controlDuringRegister = 0;
  int registryOpens = 0;
  Status RegOpenKey(const std::string& p, uint32_t s, std::unique_ptr<platform::RegKey>* k) override {
    return ++registryOpens, EnvWrapper::RegOpenKey(p, s, k);
  }
  Status OpenFolder(const std::string& path, std::unique_ptr<platform::Folder>* folder) override {
    Status s = EnvWrapper::OpenFolder(path, folder);
    if (s == platform::kSuccess) *folder = std::make_unique<FakeFolder>(std::move(*folder), &failures);
    return s;
  }
  Status GetKnownFolder(platform::KnownFolder f, std::string* p) override {
    if (Fault("GetKnownFolder")) return fault_;
    return Find(knownFolders, f, p) ? platform::kSuccess : EnvWrapper::GetKnownFolder(f, p);
  }
  void MessageBox(const std::string&, const std::string&) override {}  // never shown
  Status GenRandom(void* b, size_t n) override {
    return Fault("GenRandom") ? fault_ : EnvWrapper::GenRandom(b, n);
  }
  Status InternetOpen(const std::string& agent, std::unique_ptr<platform::HttpSession>* session) override {
    if (!http) return EnvWrapper::InternetOpen(agent, session);
    if (http->internetOpen != platform::kSuccess) return http->internetOpen;
    session->reset(new FakeHttpSession(&*http));
    return platform::kSuccess;
  }
  int64_t Now() override { return now ? *now : EnvWrapper::Now(); }
  bool ToLocalTime(int64_t s, platform::LocalTimeFields* f) override {
    if (!now) return EnvWrapper::ToLocalTime(s, f);
    const std::time_t local = static_cast<std::time_t>(s + (zone ? zone(s) : 0));
    const std::tm* tm = std::gmtime(&local);
    if (tm == nullptr) return false;
    *f = {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, tm->tm_wday};
    return true;
  }
  int32_t GetTimeZoneBias() override { return now ? bias : EnvWrapper::GetTimeZoneBias(); }
  platform::SystemTime GetLocalTime() override { return localTime ? *localTime : EnvWrapper::GetLocalTime(); }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    if (now) *now += ms / 1000;
  }
  bool GetVersionEx(platform::OsVersionInfo* i, platform::VersionRecord r) override {
    if (!system) return EnvWrapper::GetVersionEx(i, r);
    system->versionCalls.push_back(r);
    const bool ok = system->versionOk && (system->extendedVersionOk || r == platform::VersionRecord::kBasic);
    if (ok) *i = system->version;
    return ok;
  }
  uint16_t GetNativeProcessorArchitecture() override {
    return system ? system->arch : EnvWrapper::GetNativeProcessorArchitecture();
  }
  bool GetProductInfo(uint32_t a, uint32_t b, uint32_t* t) override {
    if (!system) return EnvWrapper::GetProductInfo(a, b, t);
    *t = system->productType;
    return true;
  }
  int GetSystemMetrics(int index) override {
    return system ? (index == 89 ? system->serverR2 : 0) : EnvWrapper::GetSystemMetrics(index);
  }
  bool GetLocaleInfo(uint32_t type, std::string* v) override {
    return system ? Find(system->locale, type, v) : EnvWrapper::GetLocaleInfo(type, v);
  }
  Status OpenSCManager(uint32_t access, std::unique_ptr<platform::ScManager>* manager) override {
    if (!scm) return EnvWrapper::OpenSCManager(access, manager);
    Status status = scm->Call("OpenSCManager " + std::to_string(access));
    if (status == platform::kSuccess) *manager = std::make_unique<FakeScHandle>(&*scm, "CloseManager");
    return status;
  }
  Status RegisterServiceCtrlHandlerEx(const std::string& name, platform::ServiceControlFunction h,
                                      void* context, platform::ServiceStatusHandle* handle) override {
    if (!fakeServiceHost) return EnvWrapper::RegisterServiceCtrlHandlerEx(name, h, context, handle);
    if (registerResult != platform::kSuccess) return registerResult;
    handler = h;
    *handle = 42;
    if (controlDuringRegister != 0) h(controlDuringRegister, 0, nullptr, context);
    return platform::kSuccess;
  }
  Status SetServiceStatus(platform::ServiceStatusHandle handle,
                          const platform::ServiceStatus& status) override {
    if (!fakeServiceHost) return EnvWrapper::SetServiceStatus(handle, status);
    if (handle != 42u) return platform::kErrorInvalidHandle;
    reported.push_back(status);
    return setStatusResult;
  }
  Status GetModulePath(std::string* path) override {
    if (modulePath.empty()) return EnvWrapper::GetModulePath(path);
    *path = modulePath;
    return platform::kSuccess;
  }
  Status LoadVersionResource(const std::string& path,
                             std::unique_ptr<platform::VersionResource>* res) override {
    if (!version) return EnvWrapper::LoadVersionResource(path, res);
    *res = std::make_unique<FakeVersion>(*version);
    return platform::kSuccess;
  }

 private:
  bool Fault(const char* call) { return Find(failures, std::string(call), &fault_); }
  Status fault_ = platform::kSuccess;
};

}  // namespace platform_testing
