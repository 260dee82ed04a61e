#include <string>
#include <vector>

#include "client/client_info.h"
#include "files/probes.h"
#include "files/test_env.h"
#include "files/vista_compat.h"

namespace {

using files_testing::EnvFixture;

const char kTestTree[] = "SOFTWARE\\InkoraTests\\Enum";
const char kAcpiDevice[] = "System\\CurrentControlSet\\Enum\\ACPI\\InkoraTestDevice";
const char kRootDevice[] = "System\\CurrentControlSet\\Enum\\Root\\InkoraTestDevice";

std::string MultiSz(const std::vector<std::string>& strings) {
  std::string data;
  for (const std::string& s : strings) data += s + '\0';
  return data + '\0';
}

class Probes : public EnvFixture {
 protected:
  std::vector<std::pair<std::string, uint32_t>> TestKeys() const override {
    auto keys = EnvFixture::TestKeys();
    keys.insert(keys.end(), {{kTestTree, 0}, {kAcpiDevice, 0}, {kRootDevice, 0}});
    return keys;
  }
  void SetValue(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
    std::unique_ptr<platform::RegKey> key;
    ASSERT_EQ(platform::kSuccess, env_->RegCreateKey(path, platform::kKeyAllAccess, &key)) << path;
    ASSERT_EQ(platform::kSuccess, key->SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())));
  }
  // A touchpad instance: its filter list and hardware identifiers.
  void AddDevice(const std::string& path, uint32_t filterType, const std::string& filters,
                 const std::string& hardwareIDs) {
    SetValue(path, "UpperFilters", filterType, filters);
    SetValue(path, "HardwareID", platform::kRegMultiSz, hardwareIDs);
  }
};

TEST_F(Probes, TheWalkReachesTwoLevelsBelowTheRootAndNoFurther) {
  struct Case {
    std::string device;  // below the test tree; empty: the tree's root itself
    bool found;
  };
  const Case cases[] = {
      {"", true},
      {"QRX1B", true},
      {"QRX1B\\4&1a2b", true},
      {"QRX1B\\4&1a2b\\too-deep", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    env_->RegDeleteTree(kTestTree, 0);
    SetValue(std::string(kTestTree) + "\\Other\\0", "UpperFilters", platform::kRegMultiSz,
             MultiSz({"kbdclass"}));
    std::string path = c.device.empty() ? kTestTree : std::string(kTestTree) + "\\" + c.device;
    AddDevice(path, platform::kRegMultiSz, MultiSz({"QrxTP"}), MultiSz({"ACPI\\QRX1B1C", "*QRX1B"}));
    std::string id = "unchanged";
    EXPECT_EQ(c.found, FindDeviceHardwareID(kTestTree, "", id, 2));
    EXPECT_EQ(c.found ? "QRX1B1C" : "unchanged", id);
  }
}

TEST_F(Probes, OnlyTheFirstFilterStringOfAStringValueCounts) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string filters, hardwareIDs;
    bool found;
    std::string id;
  };
  const Case cases[] = {
      {"multi-sz, first", platform::kRegMultiSz, MultiSz({"QrxTP", "mouclass"}), MultiSz({"ACPI\\LEN0042"}),
       true, "LEN0042"},
      {"multi-sz, second only", platform::kRegMultiSz, MultiSz({"mouclass", "QrxTP"}),
       MultiSz({"ACPI\\LEN0042"}), false, ""},
      {"sz, other case", platform::kRegSz, std::string("qrxtp") + '\0', MultiSz({"ACPI\\SNY9001"}), true,
       "SNY9001"},
      {"sz without terminator", platform::kRegSz, "QRXTP", MultiSz({"IBM0057"}), true, "IBM0057"},
      {"prefix of the name", platform::kRegSz, std::string("QrxTPx") + '\0', MultiSz({"ACPI\\X"}), false, ""},
      {"binary type", platform::kRegBinary, std::string("QrxTP") + '\0', MultiSz({"ACPI\\X"}), false, ""},
      {"no backslash", platform::kRegMultiSz, MultiSz({"QrxTP"}), MultiSz({"QRX0A12"}), true, "QRX0A12"},
      {"last backslash", platform::kRegMultiSz, MultiSz({"QrxTP"}), MultiSz({"ACPI\\VEN\\QRX0E00"}), true,
       "QRX0E00"},
      {"hardware id too long", platform::kRegMultiSz, MultiSz({"QrxTP"}), MultiSz({std::string(300, 'Q')}),
       false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env_->RegDeleteTree(kTestTree, 0);
    const std::string device = std::string(kTestTree) + "\\Dev\\0";
    SetValue(device, "UpperFilters", c.type, c.filters);
    SetValue(device, "HardwareID", platform::kRegMultiSz, c.hardwareIDs);
    std::string id;
    EXPECT_EQ(c.found, FindDeviceHardwareID(kTestTree, "", id, 2));
    if (c.found) {
      EXPECT_EQ(c.id, id);
    }
  }
  std::string id;
  EXPECT_FALSE(FindDeviceHardwareID("SOFTWARE\\InkoraTests\\Missing", "", id, 2));
}

TEST_F(Probes, AValueThatFillsTheWholeFieldIsNotReadPastItsEnd) {
  const std::string device = std::string(kTestTree) + "\\Dev\\0";
  SetValue(device, "UpperFilters", platform::kRegMultiSz, MultiSz({"QrxTP"}));
  SetValue(device, "HardwareID", platform::kRegSz, std::string(260, 'Q'));  // no terminator
  std::string id;
  if (FindDeviceHardwareID(kTestTree, "", id, 2)) {
    EXPECT_LE(id.size(), 260u);
    EXPECT_EQ(std::string::npos, id.find_first_not_of('Q'));
  }
}

TEST(OEMTable, EveryPrefixShapeMapsToItsMaker) {
  ASSERT_EQ(41u, kOEMCodeCount);
  EXPECT_STREQ("QRX00", OEMCodes[0].code);
  EXPECT_STREQ("NEC branding", OEMCodes[40].name);
  struct Case {
    std::string id, name;
  };
  const Case cases[] = {
      {"QRX00", "Quorvex"},
      {"QRX1B1C", "Acer"},
      {"QRX0E77", "ECS - Elitegroup Computer Systems Co."},
      {"QRX1E00", "HPConsumer"},
      {"QRX2000", "HPConsumer"},
      {"QRX0600", "Dell"},
      {"DLL0400", "Dell"},
      {"LEN0042", "LENOVO"},
      {"IBM0057", "IBM"},
      {"SNY9001", "Sony"},
      {"NCT1", "NEC branding"},
      {"QRX23AB", "LenovoChina"},
      {"QRX24", ""},
      {"QRX", ""},
      {"len0042", ""},  // case-sensitive
      {"XYZ0001", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.name, LookUpOEMName(c.id)) << c.id;
  // Every row is reachable by its own code.
  for (const OEMCode& row : OEMCodes) {
    EXPECT_STREQ(row.name, LookUpOEMName(std::string(row.code) + "99").c_str()) << row.code;
  }
}

TEST_F(Probes, DetectOEMPrefersTheACPITreeAndKeepsTheOldNameWithoutAMatch) {
  CClientInfo client;
  client.strOEM = "previous";
  AddDevice(std::string(kRootDevice) + "\\0", platform::kRegMultiSz, MultiSz({"QrxTP"}),
            MultiSz({"ROOT\\SNY0001"}));
  EXPECT_EQ("Sony", client.DetectOEM());
  AddDevice(std::string(kAcpiDevice) + "\\0", platform::kRegMultiSz, MultiSz({"QrxTP"}),
            MultiSz({"ACPI\\QRX1B1C"}));
  EXPECT_EQ("Acer", client.DetectOEM());
  EXPECT_EQ("Acer", client.strOEM);

  env_->RegDeleteTree(kAcpiDevice, 0);
  env_->RegDeleteTree(kRootDevice, 0);
  AddDevice(std::string(kAcpiDevice) + "\\0", platform::kRegMultiSz, MultiSz({"QrxTP"}),
            MultiSz({"ACPI\\ZZZ0001"}));
  EXPECT_EQ("Acer", client.DetectOEM());  // unknown code: the name stays
}

// A system whose version query and folders the test decides.
class FakeSystemEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool GetVersionEx(platform::OsVersionInfo* info) override {
    ++versionCalls;
    if (failVersion) return false;
    info->majorVersion = major;
    return true;
  }
  platform::Status GetKnownFolder(platform::KnownFolder folder, std::string* path) override {
    ++folderCalls;
    *path = folder == platform::KnownFolder::kPublicDocuments ? publicDocuments : commonAppData;
    return platform::kSuccess;
  }
  void MessageBox(const std::string& text, const std::string& caption) override {
    boxes.push_back(caption + ": " + text);
  }

  uint32_t major = 6;
  bool failVersion = false;
  int versionCalls = 0, folderCalls = 0;
  std::string publicDocuments, commonAppData;
  std::vector<std::string> boxes;
};

TEST_F(Probes, VistaCompatAsksForTheFolderOnlyFromVersionSixOn) {
  FakeSystemEnv fake(env_.get());
  fake.publicDocuments = "C:\\Users\\Public\\Documents";
  platform::ScopedDefaultEnv scoped(&fake);

  fake.major = 5;
  EXPECT_EQ(5, CVistaCompat::GetMajorOSVersion());
  EXPECT_EQ("", CVistaCompat::GetPublicDocumentsPath());
  EXPECT_EQ(0, fake.folderCalls);

  fake.major = 6;
  EXPECT_EQ("C:\\Users\\Public\\Documents", CVistaCompat::GetPublicDocumentsPath());

  fake.failVersion = true;
  fake.versionCalls = 0;
  EXPECT_EQ(0, CVistaCompat::GetMajorOSVersion());
  EXPECT_EQ(2, fake.versionCalls);
  ASSERT_EQ(1u, fake.boxes.size());
  EXPECT_EQ("CVistaCompat::GetMajorOSVersion(): Can't get OSVersion...", fake.boxes[0]);
}

}  // namespace
