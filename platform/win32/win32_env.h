// What the Windows backend's files share. Private to platform/win32/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/backend.h"

namespace platform {

// GetLastError() as a Status, read right after the failed call. A failure that
// left no code behind is still a failure: it gives ERROR_GEN_FAILURE (31), never
// kSuccess.
Status StatusFromLastError();

// The code of an HRESULT that carries a Windows error (FACILITY_WIN32), or
// ERROR_GEN_FAILURE for any other failed HRESULT; kSuccess for S_OK and S_FALSE.
Status StatusFromHresult(long hr);

// A wide-character text in the thread's ANSI code page (CP_THREAD_ACP), the
// one the system's 8-bit calls use on this thread; empty when it cannot be converted.
std::string WideToThreadAnsi(const wchar_t* wide);

// Whether the authority of a URL ends in ":digits": InternetCrackUrlA fills in
// the scheme's default port when none is written, so the caller cannot tell.
bool UrlHasExplicitPort(const std::string& url);

// Writes every byte to a file HANDLE.
Status WriteAll(void* handle, const std::string& data);
// Reads to the end a file of size bytes; kErrorInvalidData when it is, or grows
// while read, larger than maxSize. *data is changed only on success.
Status ReadAll(void* handle, uint64_t size, uint64_t maxSize, std::string* data);

// FileSystem::OpenFolder (folder_win32.cpp).
Status OpenWin32Folder(const std::string& path, std::unique_ptr<Folder>* folder);
// System::ImportEcdsaP256Key through CNG (signature_win32.cpp).
Status ImportCngKey(const std::string& xy, std::unique_ptr<SignatureKey>* key);
// ServiceManager::AcquireInstanceLock: a mutex in the global namespace (instance_win32.cpp).
Status LockInstanceMutex(const std::string& name, std::unique_ptr<InstanceLock>* lock);

}  // namespace platform
