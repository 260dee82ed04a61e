// The process entry: the command line, the process-wide state that every other
// part reads, and the command words that install, remove, start and stop the
// service or switch the test settings.
#pragma once

#include <string>
#include <vector>

// The command word: argv[1] when it has fewer than 32 characters, else empty.
extern std::string strCommand;
// Every argument after the program name, in order.
extern std::vector<std::string> aArgs;

// Fills strCommand and aArgs from the command line (main's first two steps).
void CollectArguments(int argc, char** argv);
// Start-up and dispatch on the command word.
void ServiceMainProc();
// The FileVersion text of the program file szModulePath, every "," turned
// into "."; true when the version resource could be loaded.
bool GetFileVersion(std::string& version);

void Install(const std::string& serviceName);
void UnInstall(const std::string& serviceName);
bool KillService(const std::string& serviceName);
bool RunService(const std::string& serviceName);

// The program path as the service manager is given it: quoted, so that a path
// with blanks names this program and no other.
std::string QuotedBinaryPath(const std::string& modulePath);
