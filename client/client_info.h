// CClientInfo: the update client's state and operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/elements.h"
#include "json/reader.h"
#include "platform/folder.h"

enum class LogTypes : int32_t { Installer = 0, Usage = 1, Inkora_Crash = 2 };

struct ServerResult {
  int32_t code = 0;
  std::string msg;
};

// An answer of the web farm read once, up to its first NUL as the reader
// takes a text: the readers of its members in CClientInfo take it, so one
// answer is parsed once however many of its members are read.
struct ServerAnswer {
  explicit ServerAnswer(const std::string& text)
      : empty(text.empty()), read(json::Reader::ReadObject(text.c_str())) {}
  bool empty;  // ParseResult reads nothing of an empty text
  json::ObjectRead read;
};

struct UpdateResultRecord {
  std::string mv_url;
  bool upload_logs = false;
  bool crash_logs = false;
  std::string code;
};

// A log the web farm took that could not be retired, as it was then.
struct SentLog {
  std::string path;
  platform::FileIdentity identity;
};

// The record of the last successful update-check answer (owned by the monitor loop).
extern UpdateResultRecord UpdateResult;

class CClientInfo {
 public:
  // --- State and payloads ---------------------------------------------------------
  int Initialize();
  void LoadOSName();
  int LoadLocale();
  std::string getComputerID();
  std::string getProductNumber();
  std::string BuildFirstCallData();
  std::string BuildUpdateCheckData();

  // --- Settings ---------------------------------------------------------------------
  std::string GetSetting(int row);
  bool SetSetting(int row, const std::string& value);
  std::string getMetadataVer();
  void setMetadataVer(const std::string& value);
  int getUpdateFreq();
  void setUpdateFreq(int hours);
  void setLastCheck();
  std::string getInkoraVersion();

  // --- First call and metadata -------------------------------------------------------
  std::string MakeFirstCall();
  bool IsNewMetadata(const std::string& mvUrl);
  bool LoadMetadataFromServer(const std::string& url);
  // Each reads the text anew; those below read an answer read once, and log
  // as these do for its text.
  std::string getResp(const std::string& text, const std::string& key);
  bool ParseResult(const std::string& text, ServerResult& out);
  std::string getResp(ServerAnswer& answer, const std::string& key);
  bool ParseResult(ServerAnswer& answer, ServerResult& out);
  std::string getResp(json::Object& object, const std::string& key);
  int getResp(const std::string& key, json::Object& object);

  // --- Update check and schedule -------------------------------------------------------
  void UpdateCheck(const std::string& url, UpdateResultRecord& result);
  bool IsTimeToCheckWebfarm();
  bool IsTimeToCheckInterval();
  // A LastCheck more than 31 days ahead of the clock (one set wrong once):
  // both rules count a check due, and the loop rewrites it after that check.
  bool IsLastCheckFarAhead();
  // "LastGoodCheck": the time the web farm last answered an update check or
  // sent metadata, written as LastCheck is.
  void setLastGoodCheck();
  // Metadata is held but checks cannot reach the web farm: UpdateCheckUrl is
  // empty or unusable, or no check has been answered for over a week. Then
  // MetadataVer is cleared, so the next due check is a first call and loads
  // the metadata it names whatever its version, as on a new installation.
  bool IsFirstCallDueAgain();

  // --- Log upload ------------------------------------------------------------------------
  int UploadLogFiles(const std::string& url, LogTypes kind);
  bool UploadLogData(const std::string& url, const std::string& text);
  bool getInstallerLogs(std::vector<std::string>& list);
  void UpdateDefinitionFile();

  // --- System probe ------------------------------------------------------------------------
  std::string DetectOEM();

  // State, in declaration order.
  std::string strOSName;
  std::string strComputerID;
  std::string strLocale;
  json::Object objMetadata;
  std::string strInkoraVersion;
  std::string strOEM;
  std::string strMetadataVer;
  int32_t nUpdateFreq = 0;
  // Logs sent but not retired (a read-only folder): not sent again while they
  // are unchanged. Oldest first, at most kMaxSentLogs.
  std::vector<SentLog> sentLogs;
  static constexpr size_t kMaxSentLogs = 256;
};

// The one client state of the process.
extern CClientInfo ClientInfo;
