// The device walk that finds the pointing device driven by the QrxTP filter
// driver, and the table that maps its hardware identifier to the maker.
#pragma once

#include <cstddef>
#include <string>

struct OEMCode {
  const char* code;  // prefix of a hardware identifier
  const char* name;  // the maker
};

constexpr size_t kOEMCodeCount = 41;
extern const OEMCode OEMCodes[kOEMCodeCount];

// Depth-first walk below HKLM\parentPath[\subkeyName], at most depth levels
// further down. True when a key whose first "UpperFilters" string is "QrxTP"
// (any letter case) was found; hardwareID is then the part of its first
// "HardwareID" string after the last "\".
bool FindDeviceHardwareID(const std::string& parentPath, const std::string& subkeyName,
                          std::string& hardwareID, int depth);

// The maker name of the first row of OEMCodes whose code begins hardwareID
// (case-sensitive); empty when none does.
std::string LookUpOEMName(const std::string& hardwareID);
