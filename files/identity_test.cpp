#include <optional>
#include <string>

#include "files/identity.h"
#include "files/utility.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

using Text = std::optional<std::string>;

const std::string kA = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}",
                  kB = "{09afAF00-2222-3333-4444-555555555555}";

TEST(IdentityText, GuidsAreBracedHexInTheRegistryShape) {
  EXPECT_TRUE(CUtility::IsValidGuid(kA) && CUtility::IsValidGuid(kB));
  for (const std::string& bad :
       {std::string(), kA.substr(1, 36), kA.substr(0, 37), kA + "}",
        "{0A1B2C3D+4E5F-6789-ABCD-EF0123456789}" + std::string(), kA.substr(1) + "{"}) {
    EXPECT_FALSE(CUtility::IsValidGuid(bad)) << bad;
  }
  for (char c : std::string("/:@G`g"))
    EXPECT_FALSE(CUtility::IsValidGuid("{" + std::string(1, c) + kA.substr(2)));
  EXPECT_EQ("a\\\"b\\\\c\\b\\f\\n\\r\\t\\u0001\\u001f \xe9",
            files::JsonEscape("a\"b\\c\b\f\n\r\t\x01\x1f \xe9"));
}

class IdentityRepair : public settings_testing::SettingsFixture {
 protected:
  std::string File() { return Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"); }
  void Set(const Text& file, const Text& reg) {
    MakeDirs(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora"));
    base_->files()->DeleteFile(File());
    if (file) Put(File(), *file);
    if (reg) SetProduct("ComputerID", *reg);
    if (!reg) DeleteKey(kProductKey);
    env_->files = platform_testing::FakeFiles(env_->files.target());
    ClearLog();
  }
  Text FileBytes() { return Exists(File()) ? Text(Get(File())) : std::nullopt; }
};

TEST_F(IdentityRepair, RegistryAndFileGuidsAreBroughtInStep) {
  using F = platform_testing::FakeFiles;
  const std::string lower = "{0a1b2c3d-4e5f-6789-abcd-ef0123456789}", nul("UID=b\0b", 7);
  const struct {
    const char* logged;
    Text file, reg, fileAfter, regAfter;
    platform::Status F::*fault = nullptr;  // a call that fails with access denied
  } cases[] = {
      {"Case 1 -", "CID=" + lower + "\r\nUID=bob\r\n", kA, "CID=" + lower + "\r\nUID=bob\r\n", kA},
      {"Case 2 -", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"Case 3 -", std::nullopt, kA, "CID=" + kA + "\r\nUID=", kA},  // CR LF stays CR LF
      {"Case 3 -", "CID=junk\nUID=bob\r\nX=1\r\n", kA, "CID=" + kA + "\nUID=bob\r\nX=1\r\n", kA},
      {"Case 3 -", "UID=bob\r\n", kA, "CID=" + kA + "\r\nUID=bob\r\n", kA},
      {"Case 3 -", "hello", kA, "CID=" + kA + "\r\nUID=\r\nhello", kA},
      {"Case 3 -", "CID=\r\n" + nul, kA, "CID=" + kA + "\r\n" + nul, kA},
      {"Case 4 -", "CID=" + kB + "\r\nUID=bob", "{nope}", "CID=" + kB + "\r\nUID=bob", kB},
      {"Case 5 -", "CID=" + kB + "\r\nUID=bob", kA, "CID=" + kA + "\r\nUID=bob", kA},
      {"Could not read", "CID=junk\r\nUID=precious", kA, "CID=junk\r\nUID=precious", kA, &F::readError},
      {"Could not write", "CID=junk\r\nUID=bob", kA, "CID=junk\r\nUID=bob", kA, &F::replaceError},
      {"Could not get", "CID=junk\r\nUID=bob", kA, "CID=junk\r\nUID=bob", kA, &F::knownFolderError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.logged) + " " + c.file.value_or("(no file)"));
    Set(c.file, c.reg);
    if (c.fault) env_->files.*c.fault = platform::kErrorAccessDenied;
    CUtility::FixUpComputerIDRegKey();
    EXPECT_EQ(c.fileAfter, FileBytes());
    EXPECT_EQ(c.regAfter, Product("ComputerID"));
    EXPECT_EQ(1u, CountLogged(c.logged)) << LogLines();
    EXPECT_EQ(c.reg ? 0u : 1u, CountLogged("GetRegValue_String()-key.QueryValue() FAILED"));
  }
}

TEST_F(IdentityRepair, EmptyIdentifiersOfALogFileAreFilledEscaped) {
  const std::string fill = R"({"cid":"","uid":"","x":[{"cid":""}]})", nul("{\"uid\":\"\"}\0tail", 15);
  const struct {
    Text identity, reg;
    std::string log, after;
  } cases[] = {
      {"CID=x\r\nUID=bob\r\n", kA, fill,
       R"({"cid":")" + kA + R"(","uid":"bob","x":[{"cid":")" + kA + R"("}]})"},
      {"UID=bob", kA, R"({"cid":"","uid":"u"})", R"({"cid":")" + kA + R"(","uid":"u"})"},
      {"UID=bob", kA, R"({"cid":"c","uid":""})", R"({"cid":"c","uid":"bob"})"},
      {"UID=bob", kA, R"({"cid" : "","uid":"u"})",
       R"({"cid" : "","uid":"u"})"},           // not the product's empty field
      {"CID=" + kA + "\r\n", kA, fill, fill},  // no UID to fill in
      {"UID=bo\"b\\\r\n", "we\"ird", R"({"cid":"","uid":""})", R"({"cid":"we\"ird","uid":"bo\"b\\"})"},
      {"UID=bob", kA, nul, std::string("{\"uid\":\"bob\"}\0tail", 18)},
  };
  const std::string log = Tmp("togo\\a.jlog");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    Set(c.identity, c.reg);
    Put(log, c.log);
    CUtility::FixUpLogFile(log);
    EXPECT_EQ(c.after, Get(log));
  }
  CUtility::FixUpLogFile(Tmp("missing.jlog"));
  EXPECT_FALSE(Exists(Tmp("missing.jlog")));
}

}  // namespace
