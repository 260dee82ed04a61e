// The fakes of the unit suites, one per concern, each over a real backend and
// failed or described by its fields; FakeEnv gathers them into an Env.
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

using platform::kSuccess;
using platform::Status;

// How one faked HTTP request handle behaves.
struct Reply {
  std::string body;
  uint32_t code = 200;
  Status open = kSuccess, send = kSuccess;
  Status statusQuery = kSuccess, lengthQuery = kSuccess;
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
  static Reply Truncated(std::string text) { return Broken(std::move(text), kSuccess); }
};

struct HttpCall {
  std::string verb, url, host;  // the url of a GET
  uint16_t port = 0;
  std::string path, headers, data;
  uint32_t flags = 0, connectMs = 0, receiveMs = 0, deadlineMs = 0;
};

// The web farm played by the test: each request takes the next reply (Refused
// when none is left) or the responder's, and is kept in calls; with probes, the
// status probe of a POST (a GET of its URL) gets the POST's reply with the body
// "OK". With real set, requests go to the backend (the running web farm).
class FakeHttp : public platform::HttpWrapper {
 public:
  explicit FakeHttp(platform::Http* target) : HttpWrapper(target) {}
  bool real = false, probes = false;
  Status openError = kSuccess;
  bool connected = true;
  std::deque<Reply> replies;
  std::function<Reply(const HttpCall&)> responder;
  std::vector<HttpCall> calls;
  uint32_t largestRead = 0;
  std::function<void(bool)> onFakeSide;  // around the fake's own copying (kept out of a benchmark's heap)

  Status OpenSession(const std::string& agent, std::unique_ptr<platform::HttpSession>* session) override {
    if (real) return HttpWrapper::OpenSession(agent, session);
    if (openError != kSuccess) return openError;
    session->reset(new Session(this));
    return kSuccess;
  }
  bool IsConnected() override { return real ? HttpWrapper::IsConnected() : connected; }

  class Request : public platform::HttpRequest {
   public:
    Request(FakeHttp* http, Reply reply, size_t call) : http_(http), reply_(std::move(reply)), call_(call) {}
    Status Send(const std::string& headers, const std::string& data) override {
      if (http_->onFakeSide) http_->onFakeSide(true);
      http_->calls[call_].headers += headers;
      http_->calls[call_].data = data;
      if (http_->onFakeSide) http_->onFakeSide(false);
      return reply_.send;
    }
    Status QueryStatusCode(uint32_t* code) override {
      if (reply_.statusQuery == kSuccess) *code = reply_.code;
      return reply_.statusQuery;
    }
    Status QueryContentLength(uint64_t* length) override {
      if (reply_.lengthQuery == kSuccess)
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
      return kSuccess;
    }

   private:
    FakeHttp* http_;
    Reply reply_;
    size_t call_;
    size_t pos_ = 0;
  };

  class Session : public platform::HttpSession {
   public:
    explicit Session(FakeHttp* http) : http_(http) {}
    Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) override {
      connectMs_ = connectMs;
      receiveMs_ = receiveMs;
      return kSuccess;
    }
    Status SetDeadline(uint32_t totalMs) override {
      deadlineMs_ = totalMs;
      return kSuccess;
    }
    Status OpenUrl(const std::string& url, const std::string& headers, uint32_t flags,
                   std::unique_ptr<platform::HttpRequest>* request) override {
      return Open(HttpCall{"GET", url, "", 0, "", headers, "", flags}, request);
    }
    Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb,
                       const std::string& path, uint32_t flags,
                       std::unique_ptr<platform::HttpRequest>* request) override {
      return Open(HttpCall{verb, "", host, port, path, "", "", flags}, request);
    }

   private:
    Status Open(HttpCall call, std::unique_ptr<platform::HttpRequest>* request) {
      call.connectMs = connectMs_;
      call.receiveMs = receiveMs_;
      call.deadlineMs = deadlineMs_;
      const bool probe = http_->probes && !http_->calls.empty() && http_->calls.back().verb == "POST";
      Reply reply = probe ? http_->post_ : http_->responder ? http_->responder(call) : Reply::Refused();
      if (probe) reply.body = "OK";
      if (!probe && !http_->responder && !http_->replies.empty())
        reply = http_->replies.front(), http_->replies.pop_front();
      if (call.verb == "POST") http_->post_ = reply;
      http_->calls.push_back(std::move(call));
      if (reply.open != kSuccess || reply.noHandle) return reply.open;
      request->reset(new Request(http_, std::move(reply), http_->calls.size() - 1));
      return kSuccess;
    }
    FakeHttp* http_;
    uint32_t connectMs_ = 0, receiveMs_ = 0, deadlineMs_ = 0;
  };

 private:
  Reply post_;  // the last POST's reply, for its probe
};

// The service manager and host, wholly faked: each call is kept in calls by its
// name (and argument), fails with its field, and a handle's close is a call of
// its own. The instance lock is refused with lockError; the host's handle is kHandle.
class FakeServices : public platform::ServiceManager {
 public:
  static constexpr platform::ServiceStatusHandle kHandle = 42;
  std::vector<std::string> calls;
  Status openManagerError = kSuccess, createError = kSuccess, openServiceError = kSuccess;
  Status descriptionError = kSuccess, failureActionsError = kSuccess, deleteError = kSuccess;
  Status startError = kSuccess, controlError = kSuccess, lockError = kSuccess;
  Status registerError = kSuccess, statusError = kSuccess;
  platform::ServiceConfig created;
  uint32_t controlDuringRegister = 0;  // sent from inside the registration
  platform::ServiceControlFunction handler = nullptr;
  std::vector<platform::ServiceStatus> reported;

  Status Call(const std::string& text, Status result) { return calls.push_back(text), result; }
  Status OpenManager(uint32_t access, std::unique_ptr<platform::ScManager>* manager) override {
    Status status = Call("OpenManager " + std::to_string(access), openManagerError);
    if (status == kSuccess) *manager = std::make_unique<Handle>(this, "CloseManager");
    return status;
  }
  Status StartDispatcher(const std::string&, platform::ServiceMainFunction) override { return kSuccess; }
  Status RegisterHandler(const std::string&, platform::ServiceControlFunction h, void* context,
                         platform::ServiceStatusHandle* handle) override {
    if (registerError != kSuccess) return registerError;
    handler = h;
    *handle = kHandle;
    if (controlDuringRegister != 0) h(controlDuringRegister, 0, nullptr, context);
    return kSuccess;
  }
  Status SetStatus(platform::ServiceStatusHandle handle, const platform::ServiceStatus& status) override {
    if (handle != kHandle) return platform::kErrorInvalidHandle;
    reported.push_back(status);
    return statusError;
  }
  Status AcquireInstanceLock(const std::string& name, std::unique_ptr<platform::InstanceLock>*) override {
    return Call("AcquireInstanceLock " + name, lockError);
  }

  // A manager or a service handle; its close is a call of its own.
  class Handle : public platform::ScManager, public platform::ScService {
   public:
    Handle(FakeServices* s, const char* close) : s_(s), close_(close) {}
    ~Handle() override { s_->calls.push_back(close_); }
    Status CreateService(const platform::ServiceConfig& config,
                         std::unique_ptr<platform::ScService>* sv) override {
      s_->created = config;
      return Opened(s_->Call("CreateService " + config.name, s_->createError), sv);
    }
    Status OpenService(const std::string& name, uint32_t access,
                       std::unique_ptr<platform::ScService>* sv) override {
      return Opened(s_->Call("OpenService " + name + " " + std::to_string(access), s_->openServiceError), sv);
    }
    Status SetDescription(const std::string&) override {
      return s_->Call("SetDescription", s_->descriptionError);
    }
    Status SetFailureActions(const platform::FailureActions&) override {
      return s_->Call("SetFailureActions", s_->failureActionsError);
    }
    Status Delete() override { return s_->Call("Delete", s_->deleteError); }
    Status Start() override { return s_->Call("Start", s_->startError); }
    Status Control(uint32_t control, platform::ServiceStatus* status) override {
      *status = platform::ServiceStatus();
      return s_->Call("Control " + std::to_string(control), s_->controlError);
    }

   private:
    Status Opened(Status status, std::unique_ptr<platform::ScService>* sv) {
      if (status == kSuccess) *sv = std::make_unique<Handle>(s_, "CloseService");
      return status;
    }
    FakeServices* s_;
    const char* close_;
  };
};

// The backend's files; the calls on files of a folder handle and the known
// folders fail by their fields (a listing keeps the first half of its entries,
// as one cut part-way); the program file, its FileVersion and translation as set.
class FakeFiles : public platform::FileSystemWrapper {
 public:
  explicit FakeFiles(platform::FileSystem* target) : FileSystemWrapper(target) {}
  Status listError = kSuccess, readError = kSuccess, replaceError = kSuccess;
  Status renameError = kSuccess, deleteError = kSuccess, knownFolderError = kSuccess;
  std::map<platform::KnownFolder, std::string> knownFolders;
  std::string modulePath, fileVersion, translation = std::string("\x09\x04\xB0\x04", 4);  // 0409/04B0

  Status OpenFolder(const std::string& path, std::unique_ptr<platform::Folder>* folder) override {
    Status s = FileSystemWrapper::OpenFolder(path, folder);
    if (s == kSuccess) *folder = std::make_unique<Folder>(std::move(*folder), this);
    return s;
  }
  Status GetKnownFolder(platform::KnownFolder f, std::string* p) override {
    if (knownFolderError != kSuccess) return knownFolderError;
    auto it = knownFolders.find(f);
    if (it == knownFolders.end()) return FileSystemWrapper::GetKnownFolder(f, p);
    *p = it->second;
    return kSuccess;
  }
  Status GetModulePath(std::string* path) override {
    if (modulePath.empty()) return FileSystemWrapper::GetModulePath(path);
    *path = modulePath;
    return kSuccess;
  }
  Status LoadVersionResource(const std::string& path,
                             std::unique_ptr<platform::VersionResource>* res) override {
    if (fileVersion.empty()) return FileSystemWrapper::LoadVersionResource(path, res);
    *res = std::make_unique<Version>(fileVersion, translation);
    return kSuccess;
  }

  // A version resource with its FileVersion under 0409/04B0, and its translation (none when empty).
  class Version : public platform::VersionResource {
   public:
    Version(std::string text, std::string table) : text_(std::move(text)), table_(std::move(table)) {}
    bool HasFixedInfo() override { return true; }
    bool QueryTranslation(std::string* table) override { return *table = table_, !table_.empty(); }
    bool QueryString(const std::string& subBlock, std::string* value) override {
      return subBlock == "\\StringFileInfo\\040904B0\\FileVersion" && (*value = text_, true);
    }

   private:
    std::string text_, table_;
  };

  class Folder : public platform::Folder {
   public:
    Folder(std::unique_ptr<platform::Folder> folder, const FakeFiles* files)
        : folder_(std::move(folder)), files_(files) {}
    Status List(std::vector<platform::FolderEntry>* entries) override {
      const Status s = folder_->List(entries);
      if (files_->listError == kSuccess) return s;
      entries->resize((entries->size() + 1) / 2);
      return files_->listError;
    }
    Status OpenFolder(const std::string& name, std::unique_ptr<platform::Folder>* folder) override {
      Status s = folder_->OpenFolder(name, folder);
      if (s == kSuccess) *folder = std::make_unique<Folder>(std::move(*folder), files_);
      return s;
    }
    Status ReadFile(const std::string& n, uint64_t m, std::string* d, platform::FileIdentity* i) override {
      return files_->readError != kSuccess ? files_->readError : folder_->ReadFile(n, m, d, i);
    }
    Status Identify(const std::string& n, platform::FileIdentity* i) override {
      return folder_->Identify(n, i);
    }
    Status ReplaceFile(const std::string& n, const std::string& d) override {
      return files_->replaceError != kSuccess ? files_->replaceError : folder_->ReplaceFile(n, d);
    }
    Status RenameFile(const std::string& n, const std::string& to, platform::Folder* t) override {
      return files_->renameError != kSuccess ? files_->renameError : folder_->RenameFile(n, to, t);
    }
    Status DeleteFile(const std::string& n) override {
      return files_->deleteError != kSuccess ? files_->deleteError : folder_->DeleteFile(n);
    }
    platform::Folder* Backend() override { return folder_->Backend(); }

   private:
    std::unique_ptr<platform::Folder> folder_;
    const FakeFiles* files_;
  };
};

// The backend's clock, or with now set a clock that stands until Sleep moves
// it on, in a zone of the test's (seconds to add to UTC) and with its bias.
// Sleep never sleeps; every time asked for is kept in sleeps.
class FakeClock : public platform::ClockWrapper {
 public:
  explicit FakeClock(platform::Clock* target) : ClockWrapper(target) {}
  std::optional<int64_t> now;
  std::function<int64_t(int64_t)> zone;
  int32_t bias = 0;
  std::optional<platform::SystemTime> localTime;
  std::vector<uint32_t> sleeps;

  int64_t Now() override { return now ? *now : ClockWrapper::Now(); }
  platform::SystemTime GetLocalTime() override { return localTime ? *localTime : target()->GetLocalTime(); }
  bool ToLocalTime(int64_t s, platform::LocalTimeFields* f) override {
    if (!now) return ClockWrapper::ToLocalTime(s, f);
    const std::time_t local = static_cast<std::time_t>(s + (zone ? zone(s) : 0));
    const std::tm* tm = std::gmtime(&local);
    if (tm == nullptr) return false;
    *f = {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, tm->tm_wday};
    return true;
  }
  int32_t GetTimeZoneBias() override { return now ? bias : ClockWrapper::GetTimeZoneBias(); }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    if (now) *now += ms / 1000;
  }
};

// A machine of the test's: x64, the version record given, English (United
// States); random bytes and keys are the backend's; no message box is shown.
class FakeSystem : public platform::SystemWrapper {
 public:
  explicit FakeSystem(platform::System* target) : SystemWrapper(target) {}
  platform::OsVersionInfo version{10, 0, 19045, 2, "", "", 0x100, 1};  // a Windows 10 workstation
  bool versionFails = false, extendedVersionFails = false;
  std::vector<platform::VersionRecord> versionCalls;
  uint16_t arch = platform::kProcessorAmd64;
  uint32_t productType = 0;
  int serverR2 = 0;  // the metric kMetricServerR2
  std::map<uint32_t, std::string> locale{{platform::kLocaleLanguage, "en"}, {platform::kLocaleCountry, "US"}};
  Status randomError = kSuccess;

  bool GetVersionEx(platform::OsVersionInfo* i, platform::VersionRecord r) override {
    versionCalls.push_back(r);
    const bool ok = !versionFails && (!extendedVersionFails || r == platform::VersionRecord::kBasic);
    if (ok) *i = version;
    return ok;
  }
  uint16_t GetNativeProcessorArchitecture() override { return arch; }
  bool GetProductInfo(uint32_t, uint32_t, uint32_t* t) override { return *t = productType, true; }
  int GetSystemMetrics(int index) override { return index == platform::kMetricServerR2 ? serverR2 : 0; }
  bool GetLocaleInfo(uint32_t type, std::string* v) override {
    auto it = locale.find(type);
    if (it != locale.end()) *v = it->second;
    return it != locale.end();
  }
  Status GenRandom(void* b, size_t n) override {
    return randomError != kSuccess ? randomError : SystemWrapper::GenRandom(b, n);
  }
  void MessageBox(const std::string&, const std::string&) override {}
};

// The backend's registry, with the keys opened counted.
class FakeRegistry : public platform::RegistryWrapper {
 public:
  explicit FakeRegistry(platform::Registry* target) : RegistryWrapper(target) {}
  int opens = 0;
  Status OpenKey(const std::string& p, uint32_t s, std::unique_ptr<platform::RegKey>* k) override {
    return ++opens, RegistryWrapper::OpenKey(p, s, k);
  }
};

// Every fake over the concerns of base, and env, the Env made of them.
struct FakeEnv {
  explicit FakeEnv(platform::Env* base) : base(base) {}
  platform::Env* base;
  FakeRegistry registry{base->registry()};
  FakeHttp http{base->http()};
  FakeServices services;
  FakeFiles files{base->files()};
  FakeClock clock{base->clock()};
  FakeSystem system{base->system()};
  platform::Env env{&registry, &http, &services, &files, &clock, &system};
};

}  // namespace platform_testing
