// The monitor loop: the service's only worker. One cycle after another it
// sleeps, refreshes the test settings, repairs the machine identifier, and when
// a check is due talks to the web farm; it uploads the installer logs always.
#pragma once

#include <cstdint>
#include <string>

#include "client/client_info.h"

// Sleep time of a cycle in milliseconds: 60000, and 600000 for good from the
// first cycle without a connection.
extern uint32_t dwTimeout;
constexpr uint32_t kOnlineTimeoutMs = 60000;
constexpr uint32_t kOfflineTimeoutMs = 600000;

// The operations a cycle calls, in one place so a test can record their order.
// The default forwards to the client, the utility class and the Env.
class CMonitorSteps {
 public:
  virtual ~CMonitorSteps() = default;
  virtual void Sleep(uint32_t milliseconds);
  virtual std::string ReadTestSetting(const std::string& valueName);
  virtual void FixUpComputerIDRegKey();
  virtual bool InternetGetConnectedState();
  virtual bool IsTimeToCheckInterval();
  virtual int getUpdateFreq();
  virtual bool IsTimeToCheckWebfarm();
  virtual std::string getMetadataVer();
  virtual bool IsFirstCallDueAgain();
  virtual bool IsLastCheckFarAhead();
  virtual std::string MakeFirstCall();
  virtual void UpdateCheck(const std::string& url, UpdateResultRecord& result);
  virtual void setLastCheck();
  virtual bool IsNewMetadata(const std::string& mvUrl);
  virtual bool LoadMetadataFromServer(const std::string& url);
  virtual std::string GetSetting(int row);
  virtual int UploadLogFiles(const std::string& url, LogTypes kind);
  virtual void UpdateDefinitionFile();
};

// One cycle of the loop over the given steps and result record.
void RunMonitorCycle(CMonitorSteps& steps, UpdateResultRecord& result);
// The thread procedure: logs its start, then runs cycles until the process ends.
void ProcMonitorThread(void* argument);
