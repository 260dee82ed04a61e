// What one log upload came to. CClientInfo::UploadLogData folds it into its
// bool (true = the file is done with); the callers and tests that need to know
// why use UploadLogDataOutcome.
#pragma once

#include <string>

#include "client/client_info.h"

enum class UploadOutcome {
  kDone,           // the web farm answered and wants no retry (code <= 0 or >= 100)
  kRetryLater,     // no proof the web farm has it: failed POST, empty or undecipherable answer, code 1-99
  kNeverSendable,  // the text itself cannot be transformed; it never will be
};

UploadOutcome UploadLogDataOutcome(CClientInfo& client, const std::string& url, const std::string& text);
