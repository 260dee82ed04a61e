// The running service: start-up of the client and the monitor thread, the
// connection to the service manager, the status record and the control handler.
#pragma once

#include <cstdint>

#include "platform/services.h"

// The one status record of the service (SERVICE_STATUS) and its handle.
extern platform::ServiceStatus ServiceStatus;
extern platform::ServiceStatusHandle hServiceStatus;

// Runs the service; returns when the service has reported stopped (or at once
// when the dispatcher cannot connect).
void ExecuteSubProcess();
// The service main function of the dispatch table; its arguments are unused.
void ServiceMain(uint32_t argc, char** argv);
// The extended control handler; returns NO_ERROR (0) for every control.
uint32_t ServiceControlHandler(uint32_t control, uint32_t eventType, void* eventData, void* context);

// The status record's start values (tests reset between runs with this).
void ResetServiceStatus();
