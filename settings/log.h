// The diagnostic log beside the program file, written while "debug" is set.
#pragma once

#include <string>

// Appends one entry "\n%02d/%02d/%04d, %02d:%02d:%02d\t    %s-%s" (local time,
// function name, message) when IsDebugLogging() is non-zero.
void WriteLog(const char* functionName, const char* message);
void WriteLog(const char* functionName, const std::string& message);
// printf-style message.
void WriteLogF(const char* functionName, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// printf into a std::string.
std::string StrFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
