// The Windows Env class; its methods are spread over the backend's files by
// area (registry, http, service, files, system). Private to platform/win32/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace platform {

// GetLastError() as a Status, read right after the failed call. A failure that
// left no code behind is still a failure: it gives ERROR_GEN_FAILURE (31), never
// kSuccess.
Status StatusFromLastError();

// The code of an HRESULT that carries a Windows error (FACILITY_WIN32), or
// ERROR_GEN_FAILURE for any other failed HRESULT; kSuccess for S_OK and S_FALSE.
Status StatusFromHresult(long hr);

// A wide-character text in the thread's ANSI code page (CP_THREAD_ACP), the
// one the system's 8-bit calls use on this thread; empty when it cannot be converted.
std::string WideToThreadAnsi(const wchar_t* wide);

// Whether the authority of a URL ends in ":digits": InternetCrackUrlA fills in
// the scheme's default port when none is written, so the caller cannot tell.
bool UrlHasExplicitPort(const std::string& url);

// Writes every byte to a file HANDLE.
Status WriteAll(void* handle, const std::string& data);
// Reads to the end a file of size bytes; kErrorInvalidData when it is, or grows
// while read, larger than maxSize. *data is changed only on success.
Status ReadAll(void* handle, uint64_t size, uint64_t maxSize, std::string* data);

class Win32Env : public Env {
 public:
  // root empty: the known folders are the system's; otherwise they are mapped
  // to root\ProgramData and root\Users\Public\Documents (tests).
  explicit Win32Env(std::string root);

  Status RegCreateKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override;
  Status RegOpenKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override;
  Status RegDeleteTree(const std::string& path, uint32_t sam) override;

  Status InternetOpen(const std::string& agent, std::unique_ptr<HttpSession>* session) override;
  bool InternetGetConnectedState() override;
  Status CrackUrl(const std::string& url, UrlComponents* parts) override;

  Status OpenSCManager(uint32_t access, std::unique_ptr<ScManager>* manager) override;
  Status StartServiceCtrlDispatcher(const std::string& name, ServiceMainFunction main) override;
  Status RegisterServiceCtrlHandlerEx(const std::string& name, ServiceControlFunction handler, void* context,
                                      ServiceStatusHandle* handle) override;
  Status SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override;

  Status OpenFolder(const std::string& path, std::unique_ptr<Folder>* folder) override;
  bool PathExists(const std::string& path) override;
  Status CreateDirectory(const std::string& path) override;
  Status ReadFile(const std::string& path, std::string* data, uint64_t maxSize) override;
  Status WriteFileAtomic(const std::string& path, const std::string& data) override;
  Status AppendFile(const std::string& path, const std::string& data) override;
  Status MoveFile(const std::string& from, const std::string& to) override;
  Status DeleteFile(const std::string& path) override;
  Status GetKnownFolder(KnownFolder folder, std::string* path) override;
  Status GetFileSize(const std::string& path, uint64_t* size) override;
  Status RotateFile(const std::string& path, const std::string& aside) override;
  Status GetModulePath(std::string* path) override;
  Status LoadVersionResource(const std::string& path, std::unique_ptr<VersionResource>* res) override;

  int64_t Now() override;
  SystemTime GetLocalTime() override;
  bool ToLocalTime(int64_t seconds, LocalTimeFields* fields) override;
  int32_t GetTimeZoneBias() override;
  void Sleep(uint32_t milliseconds) override;

  bool GetVersionEx(OsVersionInfo* info, VersionRecord record) override;
  uint16_t GetNativeProcessorArchitecture() override;
  bool GetProductInfo(uint32_t major, uint32_t minor, uint32_t* productType) override;
  int GetSystemMetrics(int index) override;
  bool GetLocaleInfo(uint32_t type, std::string* value) override;
  uint16_t GetUserDefaultLangID() override;
  Status GenRandom(void* buffer, size_t size) override;
  Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* key) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  Status AcquireInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* lock) override;

 private:
  std::string root_;
};

}  // namespace platform
