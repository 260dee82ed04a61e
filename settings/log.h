// The diagnostic log beside the program file, written while "debug" is set.
#pragma once

#include <string>

// Appends one entry "\n%02d/%02d/%04d, %02d:%02d:%02d\t    %s-%s" (local time,
// function name, message) when IsDebugLogging() is non-zero.
void WriteLog(const char* functionName, const char* message);
void WriteLog(const char* functionName, const std::string& message);
// printf-style message. An entry holds at most 64 KiB: a longer message is
// cut and ends with "...(N bytes cut)". A log about to pass 16 MiB is moved
// to LogAsidePath() (replacing the older one there) and begun anew.
void WriteLogF(const char* functionName, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Where a full log is moved: "X.log" becomes "X.old.log".
std::string LogAsidePath();

// printf into a std::string.
std::string StrFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
