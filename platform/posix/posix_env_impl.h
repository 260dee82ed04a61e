// The POSIX Env class; its methods are spread over the backend's files by area.
#pragma once

#include <mutex>
#include <string>

#include "platform/posix/posix_env.h"

namespace platform {

// Writes every byte, going on after a short write or a signal.
Status WriteAll(int fd, const std::string& data);
// Reads to the end a file of size bytes; kErrorInvalidData when it is, or grows
// while read, larger than maxSize. *data is changed only on success.
Status ReadAll(int fd, uint64_t size, uint64_t maxSize, std::string* data);
// renameat that never replaces the destination (kErrorAlreadyExists).
Status RenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to);

class PosixEnv : public Env {
 public:
  explicit PosixEnv(std::string root);

  const std::string& root() const { return root_; }

  Status RegCreateKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override;
  Status RegOpenKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override;
  Status RegDeleteTree(const std::string& path, uint32_t sam) override;

  Status InternetOpen(const std::string& agent, std::unique_ptr<HttpSession>* session) override {
    return PosixInternetOpen(agent, session);
  }
  bool InternetGetConnectedState() override;
  Status CrackUrl(const std::string& url, UrlComponents* parts) override { return PosixCrackUrl(url, parts); }

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
