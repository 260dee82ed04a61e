// <windows.h> for the backend, with the A/W macros that share a name with an
// Env method taken away again. platform/env.h is included first so its
// declarations are parsed before the macros exist; the backend then calls the
// ...A functions by their full names (the system is ANSI throughout).
#pragma once

#include "platform/env.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off: <windows.h> must come before the others.
#include <shlobj.h>
#include <windows.h>
#include <wininet.h>
#include <winsvc.h>
// clang-format on

#undef CreateDirectory
#undef DeleteFile
#undef ReplaceFile
#undef MoveFile
#undef MessageBox
#undef GetVersionEx
#undef RegCreateKey
#undef RegOpenKey
#undef RegDeleteTree
#undef InternetOpen
#undef InternetGetConnectedState
#undef OpenSCManager
#undef CreateService
#undef OpenService
#undef StartServiceCtrlDispatcher
#undef RegisterServiceCtrlHandlerEx
#undef SetServiceStatus
#undef GetLocaleInfo
#undef GetModuleFileName
#undef ReadFile
#undef GetLocalTime
#undef GetSystemMetrics
#undef GetProductInfo
#undef GetUserDefaultLangID
#undef Sleep
#undef CrackUrl
