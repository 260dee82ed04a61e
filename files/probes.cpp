// System probes: the QrxTP device walk, the maker table, and the version and
// public-documents lookups.
#include "files/probes.h"

#include <cstring>
#include <memory>

#include "files/vista_compat.h"
#include "platform/ascii.h"
#include "platform/env.h"

const OEMCode OEMCodes[kOEMCodeCount] = {
    {"QRX00", "Quorvex"},
    {"QRX01", "HP"},
    {"QRX02", "NEC"},
    {"QRX03", "Wistron"},
    {"QRX04", "Gateway"},
    {"QRX05", "Panasonic"},
    {"QRX06", "Dell"},
    {"QRX07", "Compal"},
    {"QRX08", "Uniwill"},
    {"QRX09", "Twinhead"},
    {"QRX0A", "Asus"},
    {"QRX0B", "Arima"},
    {"QRX0C", "Mitac"},
    {"QRX0D", "FIC"},
    {"QRX0E", "ECS - Elitegroup Computer Systems Co."},
    {"QRX0F", "Sharp"},
    {"QRX10", "Quanta"},
    {"QRX11", "Toshiba"},
    {"QRX12", "Clevo"},
    {"QRX13", "LG"},
    {"QRX14", "eMachine"},
    {"QRX15", "MSI"},
    {"QRX16", "Alienware"},
    {"QRX17", "Amtek"},
    {"QRX18", "ICP Electronics Inc."},
    {"QRX19", "IEC - Inventec"},
    {"QRX1A", "Mo-Bits"},
    {"QRX1B", "Acer"},
    {"QRX1C", "HTC - High Tech Computer Corp."},
    {"QRX1D", "Pegatron"},
    {"QRX1E", "HPConsumer"},
    {"QRX1F", "Fujitsu"},
    {"QRX20", "HPConsumer"},
    {"QRX21", "Pegatron_2100"},
    {"QRX22", "Nokia"},
    {"QRX23", "LenovoChina"},
    {"DLL", "Dell"},
    {"IBM", "IBM"},
    {"LEN", "LENOVO"},
    {"SNY", "Sony"},
    {"NCT", "NEC branding"},
};

namespace {

constexpr uint32_t kValueBufferSize = 260;

// The first string of a REG_SZ / REG_MULTI_SZ value that fits the 260-byte
// field; false when the value is missing, of another type or too long.
bool ReadFirstString(platform::RegKey& key, const std::string& name, bool anyStringType, std::string* value) {
  char buffer[kValueBufferSize];
  std::memset(buffer, 0, sizeof(buffer));
  uint32_t type = platform::kRegNone;
  uint32_t size = kValueBufferSize;
  if (key.QueryValue(name, &type, buffer, &size) != platform::kSuccess) return false;
  if (anyStringType && type != platform::kRegSz && type != platform::kRegMultiSz) return false;
  if (size > kValueBufferSize) size = kValueBufferSize;
  // A value stored without its terminator ends at the end of the data, not
  // somewhere past the buffer.
  value->assign(buffer, strnlen(buffer, size));
  return true;
}

}  // namespace

bool FindDeviceHardwareID(const std::string& parentPath, const std::string& subkeyName,
                          std::string& hardwareID, int depth) {
  std::string path = parentPath;
  if (!subkeyName.empty()) path += "\\" + subkeyName;

  // The device trees are not redirected: the default view is read.
  std::unique_ptr<platform::RegKey> key;
  if (platform::Env::Default()->registry()->OpenKey(
          path, platform::kKeyQueryValue | platform::kKeyEnumerateSubKeys, &key) != platform::kSuccess ||
      !key) {
    return false;
  }

  std::string filter;
  if (ReadFirstString(*key, "UpperFilters", true, &filter) && platform::EqualsNoCase(filter, "QrxTP")) {
    std::string id;
    if (!ReadFirstString(*key, "HardwareID", false, &id)) return false;
    size_t slash = id.rfind('\\');
    hardwareID = slash == std::string::npos ? id : id.substr(slash + 1);
    return true;
  }
  if (depth < 1) return false;

  for (uint32_t index = 0;; ++index) {
    std::string name;
    if (key->EnumKey(index, &name, kValueBufferSize) != platform::kSuccess) return false;
    if (FindDeviceHardwareID(path, name, hardwareID, depth - 1)) return true;
  }
}

std::string LookUpOEMName(const std::string& hardwareID) {
  for (const OEMCode& row : OEMCodes) {
    if (hardwareID.compare(0, std::strlen(row.code), row.code) == 0) return row.name;
  }
  return std::string();
}

int CVistaCompat::GetMajorOSVersion() {
  platform::System* system = platform::Env::Default()->system();
  platform::OsVersionInfo info;
  if (!system->GetVersionEx(&info, platform::VersionRecord::kExtended)) {
    // Systems that do not know the extended record answer the basic one.
    info = platform::OsVersionInfo();
    if (!system->GetVersionEx(&info, platform::VersionRecord::kBasic)) {
      system->MessageBox("Can't get OSVersion...", "CVistaCompat::GetMajorOSVersion()");
      return 0;
    }
  }
  return static_cast<int>(info.majorVersion);
}

std::string CVistaCompat::GetPublicDocumentsPath() {
  if (GetMajorOSVersion() < 6) return std::string();
  std::string path;
  if (platform::Env::Default()->files()->GetKnownFolder(platform::KnownFolder::kPublicDocuments, &path) !=
      platform::kSuccess) {
    return std::string();
  }
  return path;
}
