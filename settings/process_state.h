// Process-wide state set up at start by ServiceMainProc and read everywhere.
#pragma once

#include <mutex>
#include <string>

// The service name, "InkoraUpdater".
extern std::string strServiceName;
// Program file path, log path and own version text; fixed-size fields so that
// nothing longer than they hold can be stored (SetFixedField cuts safely).
extern char szModulePath[500];
extern char szLogPath[500];
extern char szServiceVersion[32];
// The log lock. A plain global: it lives until the process ends.
extern std::recursive_mutex csLog;

// Copies of "testpath" and "testsendnow", refreshed by the monitor loop each cycle.
extern std::string strTestPath;
extern std::string strTestSendNow;

// Copies text into a fixed field of size bytes, always NUL-terminated; returns
// false (and stores the empty text) when text does not fit whole.
bool SetFixedField(char* field, size_t size, const std::string& text);
