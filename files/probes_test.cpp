#include <string>
#include <tuple>
#include <vector>

#include "files/probes.h"
#include "files/vista_compat.h"
#include "settings/testing/settings_fixture.h"

namespace {

const char kTree[] = "SOFTWARE\\InkoraTests\\Enum";

std::string MultiSz(const std::vector<std::string>& strings) {
  std::string data;
  for (const std::string& s : strings) data += s + '\0';
  return data + '\0';
}

class Probes : public settings_testing::SettingsFixture {
 protected:
  void TearDown() override {
    base_->registry()->DeleteTree(kTree, 0);
    SettingsFixture::TearDown();
  }
  // A device key of the default registry view with its filter list and hardware identifiers.
  void AddDevice(const std::string& path, uint32_t filterType, const std::string& filters,
                 const std::string& ids) {
    SetRaw(path, "UpperFilters", filterType, filters, 0);
    if (!ids.empty()) SetRaw(path, "HardwareID", platform::kRegSz, ids, 0);
  }
};

TEST_F(Probes, TheWalkFindsTheFirstFilterStringTwoLevelsDownAtMost) {
  const uint32_t kMulti = platform::kRegMultiSz, kSz = platform::kRegSz;
  const std::string qrx = MultiSz({"QrxTP"}), q260(260, 'Q');
  const struct {
    std::string device;  // below the tree; empty: the tree itself
    uint32_t type;
    std::string filters, ids;
    const char* id;  // nullptr: not found
  } cases[] = {
      {"", kMulti, qrx, MultiSz({"ACPI\\QRX1B1C", "*QRX1B"}), "QRX1B1C"},
      {"QRX1B\\4&1a2b", kMulti, qrx, MultiSz({"QRX0A12"}), "QRX0A12"},
      {"QRX1B\\4&1a2b\\too-deep", kMulti, qrx, MultiSz({"X"}), nullptr},
      {"Dev\\0", kMulti, MultiSz({"QrxTP", "mouclass"}), MultiSz({"ACPI\\LEN0042"}), "LEN0042"},
      {"Dev\\0", kMulti, MultiSz({"mouclass", "QrxTP"}), MultiSz({"ACPI\\X"}), nullptr},
      {"Dev\\0", kSz, std::string("qrxtp") + '\0', MultiSz({"ACPI\\SNY9001"}), "SNY9001"},
      {"Dev\\0", kSz, "QRXTP", "IBM0057", "IBM0057"},  // neither value ends in NUL
      {"Dev\\0", kSz, std::string("QrxT") + '\0', MultiSz({"X"}), nullptr},
      {"Dev\\0", platform::kRegBinary, qrx, MultiSz({"X"}), nullptr},
#ifndef _WIN32  // Wine's ANSI conversion refuses an unterminated value that fills the field
      {"Dev\\0", kMulti, qrx, q260, q260.c_str()},  // fills the field: not read past it
#endif
      {"Dev\\0", kMulti, qrx, MultiSz({std::string(300, 'Q')}), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    base_->registry()->DeleteTree(kTree, 0);
    AddDevice(std::string(kTree) + "\\Other\\0", kMulti, MultiSz({"kbdclass"}), "");
    AddDevice(c.device.empty() ? kTree : std::string(kTree) + "\\" + c.device, c.type, c.filters, c.ids);
    std::string id = "unchanged";
    EXPECT_EQ(c.id != nullptr, FindDeviceHardwareID(kTree, "", id, 2));
    EXPECT_EQ(c.id ? c.id : "unchanged", id);
  }
  std::string id;
  EXPECT_FALSE(FindDeviceHardwareID("SOFTWARE\\InkoraTests\\Missing", "", id, 2));
}

// The extended record first; a system without it is asked for the basic one;
// when both fail the version is 0.
TEST_F(Probes, TheMajorVersionFallsBackToTheBasicRecord) {
  using platform::VersionRecord;
  const std::vector<VersionRecord> both = {VersionRecord::kExtended, VersionRecord::kBasic};
  const std::tuple<bool, bool, int, std::vector<VersionRecord>> cases[] = {
      {true, true, 10, {VersionRecord::kExtended}}, {true, false, 10, both}, {false, false, 0, both}};
  for (const auto& [ok, extendedOk, major, calls] : cases) {
    platform_testing::FakeSystem& system = env_->system;
    system.version.majorVersion = 10;
    system.versionFails = !ok;
    system.extendedVersionFails = !extendedOk;
    system.versionCalls.clear();
    EXPECT_EQ(major, CVistaCompat::GetMajorOSVersion()) << ok << extendedOk;
    EXPECT_EQ(calls, system.versionCalls) << ok << extendedOk;
  }
}

}  // namespace
