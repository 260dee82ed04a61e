// The monitor loop: the service's only worker. One cycle after another it
// sleeps, refreshes the test settings, repairs the machine identifier, and when
// a check is due talks to the web farm; it uploads the installer logs always.
#pragma once

#include <cstdint>

#include "client/client_info.h"

// Sleep time of a cycle in milliseconds: 60000, and 600000 for good from the
// first cycle without a connection.
extern uint32_t dwTimeout;
constexpr uint32_t kOnlineTimeoutMs = 60000;
constexpr uint32_t kOfflineTimeoutMs = 600000;

// One cycle of the loop: the client's work on ClientInfo, with the given result record.
void RunMonitorCycle(UpdateResultRecord& result);
// The thread procedure: logs its start, then runs cycles until the process ends.
void ProcMonitorThread(void* argument);
