// What every call of the operating-system layer returns: a Status, 0 for
// success and otherwise the Windows error code of the failure, on both
// backends, so that callers log one number ("error code = %d") wherever they run.
#pragma once

#include <cstdint>

namespace platform {

using Status = uint32_t;

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
  kErrorResourceTypeNotFound = 1813,
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

}  // namespace platform
