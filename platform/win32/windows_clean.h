// <windows.h> and the other system headers of the backend, included here and
// nowhere else, without the macros that would rename our own code.
//
// For every call that takes text the headers declare an ...A and a ...W
// function and make the plain name a macro for one of them (CreateDirectory for
// CreateDirectoryA), which renames any method of ours of that name. The backend
// calls the ...A functions by their full names (the system is ANSI throughout),
// so every such macro is taken away again by windows_names.h, which the build
// writes from these very headers (win32.cmake): there is no list to keep.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// <windows.h> must come before the others.
#include <windows.h>

#include <bcrypt.h>
#include <shlobj.h>
#include <wininet.h>
#include <winsvc.h>

#ifndef INKORA_LISTING_WINDOWS_MACROS  // set while the build lists the macros
#include "platform/win32/windows_names.h"
#endif
