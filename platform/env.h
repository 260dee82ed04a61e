// The operating-system layer. Every call the updater makes into the system goes
// through an Env: one interface, one implementation per backend (win32/, posix/),
// chosen by CMake, and wrappers (EnvWrapper) for fault injection in tests.
//
// The shapes follow the Windows calls the updater was designed around: results
// are Windows error codes (Status, 0 = success) so callers can log them as
// "error code = %d" on both backends, and handles are RAII objects whose
// destructor is the matching Close call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/folder.h"

namespace platform {

// The codes either backend returns; values are the Windows ones.
enum : Status {
  kSuccess = 0,
  kErrorFileNotFound = 2,          // ERROR_FILE_NOT_FOUND
  kErrorPathNotFound = 3,          // ERROR_PATH_NOT_FOUND
  kErrorAccessDenied = 5,          // ERROR_ACCESS_DENIED
  kErrorInvalidHandle = 6,         // ERROR_INVALID_HANDLE
  kErrorNotEnoughMemory = 8,       // ERROR_NOT_ENOUGH_MEMORY
  kErrorInvalidData = 13,          // ERROR_INVALID_DATA
  kErrorSharingViolation = 32,     // ERROR_SHARING_VIOLATION
  kErrorWriteFault = 29,           // ERROR_WRITE_FAULT
  kErrorReadFault = 30,            // ERROR_READ_FAULT
  kErrorNotSupported = 50,         // ERROR_NOT_SUPPORTED
  kErrorFileExists = 80,           // ERROR_FILE_EXISTS
  kErrorInvalidParameter = 87,     // ERROR_INVALID_PARAMETER
  kErrorCallNotImplemented = 120,  // ERROR_CALL_NOT_IMPLEMENTED
  kErrorInsufficientBuffer = 122,  // ERROR_INSUFFICIENT_BUFFER
  kErrorInvalidName = 123,         // ERROR_INVALID_NAME
  kErrorAlreadyExists = 183,       // ERROR_ALREADY_EXISTS
  kErrorBadFileType = 222,         // ERROR_BAD_FILE_TYPE
  kErrorMoreData = 234,            // ERROR_MORE_DATA
  kErrorNoMoreItems = 259,         // ERROR_NO_MORE_ITEMS
  kErrorStoppedOnSymlink = 681,    // ERROR_STOPPED_ON_SYMLINK
  kErrorTooManyLinks = 1142,       // ERROR_TOO_MANY_LINKS
  kErrorServiceAlreadyRunning = 1056,
  kErrorServiceDoesNotExist = 1060,
  kErrorServiceCannotAcceptCtrl = 1061,
  kErrorServiceNotActive = 1062,
  kErrorFailedServiceControllerConnect = 1063,
  kErrorServiceExists = 1073,
  kErrorServiceMarkedForDelete = 1072,
  kErrorTimeout = 1460,                     // ERROR_TIMEOUT
  kErrorInternetTimeout = 12002,            // ERROR_INTERNET_TIMEOUT
  kErrorInternetInvalidUrl = 12005,         // ERROR_INTERNET_INVALID_URL
  kErrorInternetNameNotResolved = 12007,    // ERROR_INTERNET_NAME_NOT_RESOLVED
  kErrorInternetCannotConnect = 12029,      // ERROR_INTERNET_CANNOT_CONNECT
  kErrorInternetConnectionReset = 12031,    // ERROR_INTERNET_CONNECTION_RESET
  kErrorHttpHeaderNotFound = 12150,         // ERROR_HTTP_HEADER_NOT_FOUND
  kErrorHttpInvalidServerResponse = 12152,  // ERROR_HTTP_INVALID_SERVER_RESPONSE

  // TLS: the peer's certificate failed verification, or the secure channel did.
  kErrorInternetSecCertDateInvalid = 12037,  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
  kErrorInternetSecCertCnInvalid = 12038,    // ERROR_INTERNET_SEC_CERT_CN_INVALID
  kErrorInternetHttpsToHttpOnRedir = 12040,  // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
  kErrorInternetInvalidCa = 12045,           // ERROR_INTERNET_INVALID_CA
  kErrorInternetSecCertErrors = 12055,       // ERROR_INTERNET_SEC_CERT_ERRORS
  kErrorInternetSecCertRevFailed = 12057,    // ERROR_INTERNET_SEC_CERT_REV_FAILED
  kErrorInternetSecInvalidCert = 12169,      // ERROR_INTERNET_SEC_INVALID_CERT
  kErrorInternetSecCertRevoked = 12170,      // ERROR_INTERNET_SEC_CERT_REVOKED
  kErrorInternetSecureFailure = 12175,       // ERROR_INTERNET_SECURE_FAILURE

  // A signature that does not belong to the data under the key.
  kErrorBadSignature = 0x80090006,  // NTE_BAD_SIGNATURE
};

// ---------------------------------------------------------------------------
// Registry (HKEY_LOCAL_MACHINE only; every path is relative to it).

// Access masks, with the Windows values.
enum : uint32_t {
  kKeyQueryValue = 0x0001,
  kKeySetValue = 0x0002,
  kKeyCreateSubKey = 0x0004,
  kKeyEnumerateSubKeys = 0x0008,
  kKeyWow64_64Key = 0x0100,
  kKeyWow64_32Key = 0x0200,
  kKeyRead = 0x20019,
  kKeyWrite = 0x20006,
  kKeyAllAccess = 0xF003F,
};

// Value types, with the Windows values.
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// An open key (HKEY). Destroying it closes it (RegCloseKey).
class RegKey {
 public:
  virtual ~RegKey() = default;
  // RegQueryValueExA: *size is the buffer size in, the data size out. With a
  // null data pointer only the type and size are returned. A buffer that is too
  // small gives kErrorMoreData with the needed size. Either out-pointer for
  // type may be null.
  virtual Status QueryValue(const std::string& name, uint32_t* type, void* data, uint32_t* size) = 0;
  // RegSetValueExA: stores size bytes of data as the given type.
  virtual Status SetValue(const std::string& name, uint32_t type, const void* data, uint32_t size) = 0;
  // RegDeleteValueA.
  virtual Status DeleteValue(const std::string& name) = 0;
  // RegEnumKeyExA: the name of subkey number index; kErrorNoMoreItems past the
  // end; kErrorMoreData when the name has maxLength characters or more.
  virtual Status EnumKey(uint32_t index, std::string* name, uint32_t maxLength) = 0;
};

// ---------------------------------------------------------------------------
// HTTP client (WinINet on Windows, libcurl on Linux).

// Flags with the WinINet values.
enum : uint32_t {
  kInternetFlagSecure = 0x00800000,
  kInternetFlagPragmaNoCache = 0x00000100,
  kInternetFlagNoCacheWrite = 0x04000000,
  kInternetFlagReload = 0x80000000,
};

// A request handle (HINTERNET of InternetOpenUrlA or HttpOpenRequestA).
// Destroying it is InternetCloseHandle.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // HttpSendRequestA; only for handles made by HttpSession::OpenRequest.
  virtual Status Send(const std::string& headers, const std::string& data) = 0;
  // HttpQueryInfoA(HTTP_QUERY_STATUS_CODE).
  virtual Status QueryStatusCode(uint32_t* code) = 0;
  // HttpQueryInfoA(HTTP_QUERY_CONTENT_LENGTH): kErrorHttpHeaderNotFound when
  // the answer announced no length.
  virtual Status QueryContentLength(uint64_t* length) = 0;
  // InternetReadFile: up to size bytes; *read == 0 with kSuccess at the end of
  // the body. A connection that breaks mid-body gives an error status.
  virtual Status Read(void* buffer, uint32_t size, uint32_t* read) = 0;
};

// A root handle (InternetOpenA) and, for POST, the connection (InternetConnectA).
class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // InternetSetOption for the connect and receive time-outs, in milliseconds.
  virtual Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) = 0;
  // Tests: https peers are verified against the CA certificates of this PEM
  // file instead of the system's store. WinINet has no such setting.
  virtual Status SetCaFile(const std::string& path) {
    (void)path;
    return kErrorNotSupported;
  }
  // A total deadline, in milliseconds from now, for everything still to be
  // done on this session: a request that is not over by then is cut (on
  // Windows a watchdog closes its handles) and fails with kErrorTimeout, however
  // steadily its bytes come in.
  virtual Status SetDeadline(uint32_t totalMs) {
    (void)totalMs;
    return kErrorNotSupported;
  }
  // InternetOpenUrlA: a GET of the whole URL with the extra header text.
  virtual Status OpenUrl(const std::string& url, const std::string& headers, uint32_t flags,
                         std::unique_ptr<HttpRequest>* request) = 0;
  // InternetConnectA(host, port) + HttpOpenRequestA(verb, path, accept "*/*").
  virtual Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb,
                             const std::string& path, uint32_t flags,
                             std::unique_ptr<HttpRequest>* request) = 0;
};

// URL components (InternetCrackUrlA).
struct UrlComponents {
  std::string scheme;
  int32_t schemeNumber = 0;  // INTERNET_SCHEME_HTTP 3, HTTPS 4, unknown -1
  std::string host;
  uint16_t port = 0;       // the default port of the scheme when none is written
  bool portGiven = false;  // a port was written in the URL
  std::string user;
  std::string password;
  std::string path;
  std::string extra;  // query and fragment with their "?" or "#"
};

// ---------------------------------------------------------------------------
// Service Control Manager.

enum : uint32_t {
  kScManagerConnect = 0x0001,
  kScManagerCreateService = 0x0002,
  kScManagerAllAccess = 0xF003F,
  kServiceAllAccess = 0xF01FF,
  kServiceWin32OwnProcess = 0x10,
  kServiceWin32ShareProcess = 0x20,
  kServiceWin32 = 0x30,
  kServiceInteractiveProcess = 0x100,
  kServiceAutoStart = 2,
  kServiceErrorNormal = 1,
  // states
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
  // controls
  kServiceControlStop = 1,
  kServiceControlPause = 2,
  kServiceControlContinue = 3,
  kServiceControlInterrogate = 4,
  kServiceControlShutdown = 5,
  // accepted controls
  kServiceAcceptStop = 1,
  kServiceAcceptPauseContinue = 2,
  kServiceAcceptShutdown = 4,
};

// SERVICE_STATUS.
struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// What CreateServiceA is given.
struct ServiceConfig {
  std::string name;
  std::string displayName;
  uint32_t serviceType = kServiceWin32OwnProcess;
  uint32_t startType = kServiceAutoStart;
  uint32_t errorControl = kServiceErrorNormal;
  std::string binaryPath;  // lpBinaryPathName, exactly as the manager stores it
};

// One restart-on-failure rule set (SERVICE_CONFIG_FAILURE_ACTIONS).
struct FailureActions {
  uint32_t resetPeriodSeconds = 0;
  std::vector<uint32_t> restartDelaysMs;  // one SC_ACTION_RESTART per entry
  // The manager repeats the last action for every later failure: a closing
  // SC_ACTION_NONE makes the service stay stopped after the restarts.
  bool thenStayStopped = false;
};

// A service handle (SC_HANDLE from OpenServiceA / CreateServiceA).
class ScService {
 public:
  virtual ~ScService() = default;                                       // CloseServiceHandle
  virtual Status SetDescription(const std::string& description) = 0;    // ChangeServiceConfig2A
  virtual Status SetFailureActions(const FailureActions& actions) = 0;  // ChangeServiceConfig2A
  virtual Status QueryFailureActions(FailureActions* actions) = 0;      // QueryServiceConfig2A
  virtual Status Delete() = 0;                                          // DeleteService
  virtual Status Start() = 0;                                           // StartServiceA(0, NULL)
  virtual Status Control(uint32_t control, ServiceStatus* status) = 0;  // ControlService
  virtual Status QueryStatus(ServiceStatus* status) = 0;                // QueryServiceStatus
};

// The manager handle (SC_HANDLE from OpenSCManagerA).
class ScManager {
 public:
  virtual ~ScManager() = default;  // CloseServiceHandle
  virtual Status CreateService(const ServiceConfig& config, std::unique_ptr<ScService>* service) = 0;
  virtual Status OpenService(const std::string& name, uint32_t access,
                             std::unique_ptr<ScService>* service) = 0;
};

using ServiceMainFunction = void (*)(uint32_t argc, char** argv);
using ServiceControlFunction = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData,
                                            void* context);
using ServiceStatusHandle = uintptr_t;

// ---------------------------------------------------------------------------
// Files, time, system.

// Folders the updater reads files from.
enum class KnownFolder {
  kCommonAppData,         // CSIDL_COMMON_APPDATA ("C:\ProgramData"), its default path (SHGetFolderPathA)
  kCommonAppDataCurrent,  // the same as it is now, never created (SHGetSpecialFolderPathA)
  kPublicDocuments,       // FOLDERID_PublicDocuments ("C:\Users\Public\Documents")
};

// SYSTEMTIME.
struct SystemTime {
  uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// Local calendar fields of a moment (localtime_s); false when it cannot be converted.
struct LocalTimeFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int weekday = 0;  // 0 = Sunday
};

enum class VersionRecord { kExtended, kBasic };

// OSVERSIONINFOEXA, and the processor architecture and edition around it.
struct OsVersionInfo {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = 0;  // VER_PLATFORM_WIN32_NT = 2
  std::string csdVersion;   // service-pack text
  // The system's own name where it gives one (Linux: os-release); empty on
  // Windows, which is named by its version numbers.
  std::string productName;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;  // VER_NT_WORKSTATION = 1
};

// The pieces of a version resource that the updater reads (VerQueryValueA).
class VersionResource {
 public:
  virtual ~VersionResource() = default;
  // "\" : the fixed record exists and is not empty.
  virtual bool HasFixedInfo() = 0;
  // "\VarFileInfo\Translation": the raw translation table.
  virtual bool QueryTranslation(std::string* table) = 0;
  // A string sub-block, e.g. "\StringFileInfo\040904B0\FileVersion".
  virtual bool QueryString(const std::string& subBlock, std::string* value) = 0;
};

// The one service instance of the machine holds this; destroying it lets go.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

// An ECDSA P-256 public key held by the system's cryptography (a BCrypt key
// handle, an EVP_PKEY). Destroying it frees it.
class SignatureKey {
 public:
  virtual ~SignatureKey() = default;
  // Whether rs (r then s, 32 bytes each, big-endian) signs the SHA-256 digest
  // of data under this key: kSuccess when it does, kErrorBadSignature when it
  // does not, another code when the system could not tell.
  virtual Status VerifySha256(const std::string& data, const std::string& rs) = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The process-wide Env: the backend's, unless a test has put another in place.
  static Env* Default();
  // Replaces the process-wide Env (tests); returns the previous one. Not owned.
  static Env* SetDefault(Env* env);

  // Registry --------------------------------------------------------------
  // RegCreateKeyExA(HKLM, path, REG_OPTION_NON_VOLATILE, sam): creates the key
  // and any missing parent.
  virtual Status RegCreateKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) = 0;
  // RegOpenKeyExA(HKLM, path, sam).
  virtual Status RegOpenKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) = 0;
  // RegDeleteTreeA: the key with everything below it (tests and clean-up).
  virtual Status RegDeleteTree(const std::string& path, uint32_t sam) = 0;

  // HTTP -----------------------------------------------------------------
  // InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG).
  virtual Status InternetOpen(const std::string& agent, std::unique_ptr<HttpSession>* session) = 0;
  // InternetGetConnectedState.
  virtual bool InternetGetConnectedState() = 0;
  // InternetCrackUrlA; kErrorInternetInvalidUrl when the text is no URL.
  virtual Status CrackUrl(const std::string& url, UrlComponents* parts) = 0;

  // Service Control Manager -----------------------------------------------
  virtual Status OpenSCManager(uint32_t access, std::unique_ptr<ScManager>* manager) = 0;
  // StartServiceCtrlDispatcherA with one entry: returns when the service has
  // reported kServiceStopped (or at once with the failure).
  virtual Status StartServiceCtrlDispatcher(const std::string& name, ServiceMainFunction main) = 0;
  virtual Status RegisterServiceCtrlHandlerEx(const std::string& name, ServiceControlFunction handler,
                                              void* context, ServiceStatusHandle* handle) = 0;
  virtual Status SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;

  // Files ------------------------------------------------------------------
  // Paths use "\" as the separator on both backends; the POSIX backend maps
  // it to "/". The calls by path are for the program's own folders; in folders
  // that users can write the service works through OpenFolder.
  // Opens a folder that users may write: from the root of the path (or the
  // current folder for a relative one) every part is opened in turn, and none
  // may be a link or reparse point (kErrorStoppedOnSymlink) or "..".
  virtual Status OpenFolder(const std::string& path, std::unique_ptr<Folder>* folder) = 0;
  // FindFirstFileA on the path itself: it names an existing file or folder.
  virtual bool PathExists(const std::string& path) = 0;
  virtual Status CreateDirectory(const std::string& path) = 0;
  // The whole file; kErrorInvalidData when it is larger than maxSize bytes.
  virtual Status ReadFile(const std::string& path, std::string* data, uint64_t maxSize) = 0;
  // Writes a temporary file beside path, flushes it and renames it over path,
  // so a reader sees the old content or the new, never a torn file.
  virtual Status WriteFileAtomic(const std::string& path, const std::string& data) = 0;
  // Appends under a write lock that keeps other writers out while it is open
  // (fopen "a" with deny-write sharing). Creates the file when missing.
  virtual Status AppendFile(const std::string& path, const std::string& data) = 0;
  // Rename that fails with kErrorAlreadyExists when the destination exists
  // (the runtime's rename on Windows).
  virtual Status MoveFile(const std::string& from, const std::string& to) = 0;
  virtual Status DeleteFile(const std::string& path) = 0;
  virtual Status GetKnownFolder(KnownFolder folder, std::string* path) = 0;
  // The size of a file in bytes.
  virtual Status GetFileSize(const std::string& path, uint64_t* size) = 0;
  // Moves path over aside, replacing it, so that the next AppendFile begins
  // path anew. Where the folder may not be changed but both files may be
  // written (a hardened service), aside gets a copy and path is emptied.
  virtual Status RotateFile(const std::string& path, const std::string& aside) = 0;
  // GetModuleFileNameA(NULL): the program file.
  virtual Status GetModulePath(std::string* path) = 0;
  // GetFileVersionInfoA on a program file.
  virtual Status LoadVersionResource(const std::string& path, std::unique_ptr<VersionResource>* res) = 0;

  // Time ---------------------------------------------------------------------
  // Seconds since 1970-01-01 00:00 UTC (_time64).
  virtual int64_t Now() = 0;
  // GetLocalTime.
  virtual SystemTime GetLocalTime() = 0;
  // Local calendar fields of a moment given in seconds since 1970 UTC.
  virtual bool ToLocalTime(int64_t seconds, LocalTimeFields* fields) = 0;
  // The Bias of GetTimeZoneInformation: minutes to add to local time for UTC.
  virtual int32_t GetTimeZoneBias() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  // System ---------------------------------------------------------------------
  // GetVersionExA with the extended record (OSVERSIONINFOEXA) or the basic
  // one (OSVERSIONINFOA: no suite mask or product type).
  virtual bool GetVersionEx(OsVersionInfo* info, VersionRecord record) = 0;
  // GetNativeSystemInfo: 9 AMD64, 6 IA64, 0 Intel, 12 ARM64.
  virtual uint16_t GetNativeProcessorArchitecture() = 0;
  // GetProductInfo; false when the call is not available.
  virtual bool GetProductInfo(uint32_t major, uint32_t minor, uint32_t* productType) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  // GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type): false when it fails.
  virtual bool GetLocaleInfo(uint32_t type, std::string* value) = 0;
  virtual uint16_t GetUserDefaultLangID() = 0;
  // The system's cryptographic generator (BCryptGenRandom / getrandom).
  virtual Status GenRandom(void* buffer, size_t size) = 0;
  // BCryptImportKeyPair(BCRYPT_ECCPUBLIC_BLOB) / an EVP_PKEY: the P-256 key of
  // the uncompressed point xy (X then Y, 32 bytes each). kErrorInvalidParameter
  // for another size, kErrorInvalidData for a point off the curve (Wine's CNG
  // takes such a point; no signature verifies under it).
  virtual Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* key) = 0;
  // A message box with one OK button; backends without a desktop log it instead.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
  // One holder per machine and name: on Windows a mutex in the global
  // namespace, on POSIX an advisory lock on the file "<root>/<name>.lock".
  // kErrorAlreadyExists while another holder has it; never waits.
  virtual Status AcquireInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* lock) = 0;
};

// Forwards every call to another Env; tests derive from it and override the
// calls they want to fail or fake.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status RegCreateKey(const std::string& p, uint32_t s, std::unique_ptr<RegKey>* k) override {
    return target_->RegCreateKey(p, s, k);
  }
  Status RegOpenKey(const std::string& p, uint32_t s, std::unique_ptr<RegKey>* k) override {
    return target_->RegOpenKey(p, s, k);
  }
  Status RegDeleteTree(const std::string& p, uint32_t s) override { return target_->RegDeleteTree(p, s); }
  Status InternetOpen(const std::string& a, std::unique_ptr<HttpSession>* s) override {
    return target_->InternetOpen(a, s);
  }
  bool InternetGetConnectedState() override { return target_->InternetGetConnectedState(); }
  Status CrackUrl(const std::string& u, UrlComponents* p) override { return target_->CrackUrl(u, p); }
  Status OpenSCManager(uint32_t a, std::unique_ptr<ScManager>* m) override {
    return target_->OpenSCManager(a, m);
  }
  Status StartServiceCtrlDispatcher(const std::string& n, ServiceMainFunction f) override {
    return target_->StartServiceCtrlDispatcher(n, f);
  }
  Status RegisterServiceCtrlHandlerEx(const std::string& n, ServiceControlFunction h, void* c,
                                      ServiceStatusHandle* o) override {
    return target_->RegisterServiceCtrlHandlerEx(n, h, c, o);
  }
  Status SetServiceStatus(ServiceStatusHandle h, const ServiceStatus& s) override {
    return target_->SetServiceStatus(h, s);
  }
  Status OpenFolder(const std::string& p, std::unique_ptr<Folder>* f) override {
    return target_->OpenFolder(p, f);
  }
  bool PathExists(const std::string& p) override { return target_->PathExists(p); }
  Status CreateDirectory(const std::string& p) override { return target_->CreateDirectory(p); }
  Status ReadFile(const std::string& p, std::string* d, uint64_t m) override {
    return target_->ReadFile(p, d, m);
  }
  Status WriteFileAtomic(const std::string& p, const std::string& d) override {
    return target_->WriteFileAtomic(p, d);
  }
  Status AppendFile(const std::string& p, const std::string& d) override { return target_->AppendFile(p, d); }
  Status MoveFile(const std::string& f, const std::string& t) override { return target_->MoveFile(f, t); }
  Status DeleteFile(const std::string& p) override { return target_->DeleteFile(p); }
  Status GetKnownFolder(KnownFolder f, std::string* p) override { return target_->GetKnownFolder(f, p); }
  Status GetModulePath(std::string* p) override { return target_->GetModulePath(p); }
  Status LoadVersionResource(const std::string& p, std::unique_ptr<VersionResource>* r) override {
    return target_->LoadVersionResource(p, r);
  }
  int64_t Now() override { return target_->Now(); }
  SystemTime GetLocalTime() override { return target_->GetLocalTime(); }
  bool ToLocalTime(int64_t s, LocalTimeFields* f) override { return target_->ToLocalTime(s, f); }
  int32_t GetTimeZoneBias() override { return target_->GetTimeZoneBias(); }
  void Sleep(uint32_t ms) override { target_->Sleep(ms); }
  bool GetVersionEx(OsVersionInfo* i, VersionRecord r) override { return target_->GetVersionEx(i, r); }
  uint16_t GetNativeProcessorArchitecture() override { return target_->GetNativeProcessorArchitecture(); }
  bool GetProductInfo(uint32_t a, uint32_t b, uint32_t* t) override {
    return target_->GetProductInfo(a, b, t);
  }
  int GetSystemMetrics(int i) override { return target_->GetSystemMetrics(i); }
  bool GetLocaleInfo(uint32_t t, std::string* v) override { return target_->GetLocaleInfo(t, v); }
  uint16_t GetUserDefaultLangID() override { return target_->GetUserDefaultLangID(); }
  Status GenRandom(void* b, size_t n) override { return target_->GenRandom(b, n); }
  Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* k) override {
    return target_->ImportEcdsaP256Key(xy, k);
  }
  void MessageBox(const std::string& t, const std::string& c) override { target_->MessageBox(t, c); }
  Status GetFileSize(const std::string& p, uint64_t* s) override { return target_->GetFileSize(p, s); }
  Status RotateFile(const std::string& p, const std::string& a) override { return target_->RotateFile(p, a); }
  Status AcquireInstanceLock(const std::string& n, std::unique_ptr<InstanceLock>* l) override {
    return target_->AcquireInstanceLock(n, l);
  }

 private:
  Env* target_;
};

// An Env for tests that keeps their files apart: on POSIX a backend whose hive
// and known folders live under root; on Windows the real backend with the known
// folders mapped under root (the registry is the real one: tests delete their
// keys with RegDeleteTree).
std::unique_ptr<Env> NewIsolatedEnv(const std::string& root);

// Puts an Env in place for the lifetime of the object (tests).
class ScopedDefaultEnv {
 public:
  explicit ScopedDefaultEnv(Env* env) : previous_(Env::SetDefault(env)) {}
  ~ScopedDefaultEnv() { Env::SetDefault(previous_); }
  ScopedDefaultEnv(const ScopedDefaultEnv&) = delete;
  ScopedDefaultEnv& operator=(const ScopedDefaultEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace platform
