// The client state: what the client learns of the machine at start, the
// product's identifiers, and the thin wrappers around single settings.
#include "client/client_info.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/numbers.h"
#include "files/probes.h"
#include "platform/ascii.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"

CClientInfo ClientInfo;
UpdateResultRecord UpdateResult;

namespace {

// Windows constants of the version record.
constexpr uint32_t kPlatformWin32Nt = 2;
constexpr uint8_t kNtWorkstation = 1;
constexpr uint16_t kSuiteEnterprise = 0x2;
constexpr uint16_t kSuiteDatacenter = 0x80;
constexpr uint16_t kSuitePersonal = 0x200;
constexpr uint16_t kSuiteBlade = 0x400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteWhServer = 0x8000;

// Editions by GetProductInfo product type.
const char* EditionOfProductType(uint32_t type) {
  switch (type) {
    case 1:
      return "Ultimate";
    case 2:
      return "Home Basic";
    case 3:
      return "Home Premium";
    case 4:
      return "Enterprise";
    case 6:
      return "Business";
    case 7:
      return "Standard";
    case 8:
      return "Datacenter Edition";
    case 9:
      return "Small Business Server";
    case 10:
      return "Enterprise";
    case 11:
      return "Starter";
    case 12:
      return "Datacenter(core installation)";
    case 13:
      return "Standard(core installation)";
    case 14:
      return "Enterprise(core installation)";
    case 15:
      return "Enterprise for Itanium-based";
    case 17:
      return "Web Server";
    case 18:
      return "Cluster Server";
    case 25:
      return "Small Business Server Premium";
    default:
      return "";
  }
}

std::string NameOfServer2003(const platform::OsVersionInfo& v, uint16_t arch) {
  const bool workstation = v.productType == kNtWorkstation;
  std::string name;
  if (platform::Env::Default()->system()->GetSystemMetrics(platform::kMetricServerR2) != 0) {
    name = "Windows Server 2003 R2, ";
  } else if (v.suiteMask == kSuiteStorageServer) {
    name = "Windows Storage Server 2003";
  } else if (v.suiteMask == kSuiteWhServer) {
    name = "Windows Home Server";
  } else if (workstation && arch == platform::kProcessorAmd64) {
    name = "Windows XP Professional x64";
  } else {
    name = "Windows Server 2003, ";
  }
  if (workstation) return name;
  const uint16_t suite = v.suiteMask;
  if (arch == platform::kProcessorIa64) {
    if (suite & kSuiteDatacenter) {
      name += "Datacenter Edition for Itanium-based Systems";
    } else if (suite & kSuiteEnterprise) {
      name += "Enterprise Edition for Itanium-based Systems";
    }
  } else if (arch == platform::kProcessorAmd64) {
    if (suite & kSuiteDatacenter) {
      name += "Datacenter x64";
    } else if (suite & kSuiteEnterprise) {
      name += "Enterprise x64";
    } else {
      name += "Standard x64";
    }
  } else {
    if (suite & kSuiteComputeServer) {
      name += "Compute Cluster";
    } else if (suite & kSuiteDatacenter) {
      name += "Datacenter";
    } else if (suite & kSuiteEnterprise) {
      name += "Enterprise";
    } else if (suite & kSuiteBlade) {
      name += "Web";
    } else {
      name += "Standard";
    }
  }
  return name;
}

}  // namespace

// The maker of the machine from its pointing device's hardware identifier,
// the ACPI tree before the Root tree; an unknown maker keeps the name held.
std::string CClientInfo::DetectOEM() {
  std::string hardwareID;
  bool found = FindDeviceHardwareID("System\\CurrentControlSet\\Enum\\ACPI", "", hardwareID, 2);
  if (!found) found = FindDeviceHardwareID("System\\CurrentControlSet\\Enum\\Root", "", hardwareID, 2);
  if (found) {
    std::string name = LookUpOEMName(hardwareID);
    if (!name.empty()) strOEM = name;
  }
  return strOEM;
}

int CClientInfo::Initialize() {
  LoadOSName();
  LoadLocale();
  getComputerID();
  DetectOEM();
  return 0;
}

void CClientInfo::LoadOSName() {
  platform::System* system = platform::Env::Default()->system();
  platform::OsVersionInfo v;
  if (!system->GetVersionEx(&v, platform::VersionRecord::kExtended)) return;
  const uint16_t arch = system->GetNativeProcessorArchitecture();
  if (v.platformId != kPlatformWin32Nt || v.majorVersion <= 4) return;

  const bool workstation = v.productType == kNtWorkstation;
  std::string name;
  if (v.majorVersion == 6) {
    if (v.minorVersion == 0) {
      name = workstation ? "Windows Vista " : "Windows Server 2008 ";
    } else if (v.minorVersion == 1) {
      name = workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
    }
    uint32_t productType = 0;
    if (system->GetProductInfo(v.majorVersion, v.minorVersion, &productType)) {
      name += EditionOfProductType(productType);
    }
  } else if (v.majorVersion == 5 && v.minorVersion == 2) {
    name = NameOfServer2003(v, arch);
  } else if (v.majorVersion == 5 && v.minorVersion == 1) {
    name = "WinXP ";
    name += (v.suiteMask & kSuitePersonal) ? "Home" : "Professional";
  } else if (v.majorVersion == 5 && v.minorVersion == 0) {
    name = "Win2000 ";
    if (workstation) {
      name += "Professional";
    } else if (v.suiteMask & kSuiteDatacenter) {
      name += "Datacenter Server";
    } else if (v.suiteMask & kSuiteEnterprise) {
      name += "Advanced Server";
    } else {
      name += "Server";
    }
  }
  if (name.empty()) name = v.productName;
  if (!v.csdVersion.empty()) name += " " + v.csdVersion;
  if (v.majorVersion >= 6) {
    if (arch == platform::kProcessorAmd64) {
      name += ", 64-bit";
    } else if (arch == platform::kProcessorIntel) {
      name += ", 32-bit";
    }
  }
  strOSName = name;
}

int CClientInfo::LoadLocale() {
  platform::System* system = platform::Env::Default()->system();
  std::string language;
  if (!system->GetLocaleInfo(platform::kLocaleLanguage, &language)) return 0;
  strLocale = language;
  std::string country;
  if (system->GetLocaleInfo(platform::kLocaleCountry, &country)) {
    strLocale += "-" + country;
    strLocale = platform::AsciiLower(strLocale);
  }
  return 0;
}

std::string CClientInfo::getComputerID() {
  strComputerID = GetRegValue_String(kProductKey, RegValueNames[kComputerID], true);
  return strComputerID;
}

std::string CClientInfo::getProductNumber() {
  return GetRegValue_String(kProductKey, RegValueNames[kProductNumber], true);
}

std::string CClientInfo::GetSetting(int row) {
  if (row < 0 || row >= kRegValueCount) return std::string();
  return GetRegValue_String(kServiceKey, RegValueNames[row], true);
}

bool CClientInfo::SetSetting(int row, const std::string& value) {
  if (row < 0 || row >= kRegValueCount) return false;
  return SetRegValue_String(kServiceKey, RegValueNames[row], value);
}

std::string CClientInfo::getMetadataVer() {
  strMetadataVer = GetRegValue_String(kServiceKey, RegValueNames[kMetadataVer], true);
  return strMetadataVer;
}

void CClientInfo::setMetadataVer(const std::string& value) {
  if (value.empty()) return;
  strMetadataVer = value;
  SetRegValue_String(kServiceKey, RegValueNames[kMetadataVer], value);
}

int CClientInfo::getUpdateFreq() {
  nUpdateFreq =
      client_numbers::ParseDecimalInt32(GetRegValue_String(kServiceKey, RegValueNames[kUpdateFreq], true));
  return nUpdateFreq;
}

void CClientInfo::setUpdateFreq(int hours) {
  SetRegValue_String(kServiceKey, RegValueNames[kUpdateFreq], StrFormat("%d", hours));
}

void CClientInfo::setLastCheck() {
  SetRegValue_String(kServiceKey, RegValueNames[kLastCheck],
                     client_numbers::LastCheckText(platform::Env::Default()->clock()->Now()));
}

std::string CClientInfo::getInkoraVersion() {
  const char* const kFn = "CClientInfo::getInkoraVersion()";
  WriteLog(kFn, "---START---");
  strInkoraVersion = GetRegValue_String(kProductKey, RegValueNames[kCurrentVersion], true);
  WriteLog(kFn, "---END---");
  return strInkoraVersion;
}
