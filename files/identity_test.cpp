#include <optional>
#include <string>

#include "files/identity.h"
#include "files/test_env.h"
#include "settings/registry.h"
#include "transport/utility.h"

namespace {

using files_testing::EnvFixture;

const char kGuidA[] = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
const char kGuidALower[] = "{0a1b2c3d-4e5f-6789-abcd-ef0123456789}";
const char kGuidB[] = "{11111111-2222-3333-4444-555555555555}";

TEST(IdentityText, IsValidGuidAcceptsOnlyTheBracedForm) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {kGuidA, true},
      {kGuidALower, true},
      {"", false},
      {"0A1B2C3D-4E5F-6789-ABCD-EF0123456789", false},     // no braces
      {"{0A1B2C3D-4E5F-6789-ABCD-EF012345678}", false},    // one digit short
      {"{0A1B2C3D-4E5F-6789-ABCD-EF01234567890}", false},  // one digit more
      {"{0A1B2C3D-4E5F-6789-ABCD-EF012345678G}", false},   // not hexadecimal
      {"{0A1B2C3D+4E5F-6789-ABCD-EF0123456789}", false},
      {"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789", false},
      {"Shell.Application", false},  // a class name is no GUID here
      {std::string(kGuidA) + "\r", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.valid, CUtility::IsValidGuid(c.text)) << c.text;
}

TEST(IdentityText, ValuesEndAtTheFirstLineEndOfEitherKind) {
  struct Case {
    std::string text, key;
    bool found;
    std::string value;
  };
  const Case cases[] = {
      {"CID=abc\r\nUID=bob", "CID=", true, "abc"},
      {"CID=abc\r\nUID=bob", "UID=", true, "bob"},
      {"CID=abc\r\r\nUID=bob\r\r\n", "UID=", true, "bob"},
      {"CID=abc\nUID=bob\r\n", "CID=", true, "abc"},  // LF lines, a CR further down
      {"UID=", "UID=", true, ""},
      {"CID=x", "UID=", false, ""},
  };
  for (const Case& c : cases) {
    size_t start = 0, length = 0;
    ASSERT_EQ(c.found, files::FindIdentityValue(c.text, c.key, &start, &length)) << c.text;
    if (c.found) {
      EXPECT_EQ(c.value, c.text.substr(start, length)) << c.text;
    }
  }
}

TEST(IdentityText, JsonEscapeLeavesGuidsAloneAndEscapesWhatWouldBreakAString) {
  EXPECT_EQ(kGuidA, files::JsonEscape(kGuidA));
  EXPECT_EQ("a\\\"b\\\\c\\n\\r\\t\\u0001\xe9", files::JsonEscape("a\"b\\c\n\r\t\x01\xe9"));
}

TEST(IdentityText, IsLogFilePopulatedNeedsBothFieldsFilled) {
  struct Case {
    std::string text;
    bool populated;
  };
  const Case cases[] = {
      {"{\"cid\":\"x\",\"uid\":\"y\"}", true},
      {"{\"cid\":\"\",\"uid\":\"y\"}", false},
      {"{\"cid\":\"x\",\"uid\":\"\"}", false},
      {"{\"cid\" : \"\",\"uid\":\"y\"}", true},  // blanks: not the product's empty field
      {"", true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.populated, CUtility::IsLogFilePopulated(c.text)) << c.text;
}

class IdentityRepair : public EnvFixture {
 protected:
  void SetRegistryGuid(const std::optional<std::string>& guid) {
    if (guid) {
      ASSERT_TRUE(SetRegValue_String(kProductKey, "ComputerID", *guid));
    } else {
      DeleteRegValue(kProductKey, "ComputerID");
    }
  }
  std::string RegistryGuid() { return GetRegValue_String(kProductKey, "ComputerID", false); }
  void SetIdentityFile(const std::optional<std::string>& bytes) {
    if (bytes) {
      Put(IdentityFile(), *bytes);
    } else {
      MakeDirs(AppData("Quorvex\\Inkora"));
      env_->DeleteFile(IdentityFile());
    }
  }
  std::optional<std::string> IdentityBytes() {
    if (!Exists(IdentityFile())) return std::nullopt;
    return Get(IdentityFile());
  }
};

TEST_F(IdentityRepair, TheFiveCasesAndTheFileBytesTheyLeave) {
  const std::string a = kGuidA, b = kGuidB;
  struct Case {
    const char* name;
    std::optional<std::string> file, reg;
    std::optional<std::string> fileAfter;
    std::string regAfter;
    const char* logLine;
  };
  const Case cases[] = {
      {"case 1, other letter case", "CID=" + std::string(kGuidALower) + "\r\nUID=bob\r\n", a,
       "CID=" + std::string(kGuidALower) + "\r\nUID=bob\r\n", a, "Case 1 - Reg guid is valid"},
      {"case 2, both empty", std::nullopt, std::nullopt, std::nullopt, "", "Case 2 - Neither reg or file"},
      {"case 2, both junk", "CID=junk\r\nUID=bob", std::string("junk"), "CID=junk\r\nUID=bob", "junk",
       "Case 2 - Neither reg or file"},
      // The file is written in binary: CR LF stays CR LF.
      {"case 3, no file", std::nullopt, a, "CID=" + a + "\r\nUID=", a, "Case 3 - Reg guid is good"},
      {"case 3, bad file guid", "CID=junk\r\nUID=bob\r\nX=1\r\n", a, "CID=" + a + "\r\nUID=bob\r\nX=1\r\n", a,
       "Case 3 - Reg guid is good"},
      {"case 3, no CID line keeps the UID", "UID=bob\r\n", a, "CID=" + a + "\r\nUID=bob\r\n", a,
       "Case 3 - Reg guid is good"},
      {"case 3, LF lines", "CID=junk\nUID=bob\r\n", a, "CID=" + a + "\nUID=bob\r\n", a,
       "Case 3 - Reg guid is good"},
      {"case 4, no registry value", "CID=" + b + "\r\nUID=bob", std::nullopt, "CID=" + b + "\r\nUID=bob", b,
       "Case 4 - File guid is good"},
      {"case 4, bad registry value", "CID=" + b + "\r\nUID=bob", std::string("{nope}"),
       "CID=" + b + "\r\nUID=bob", b, "Case 4 - File guid is good"},
      {"case 5, both valid", "CID=" + b + "\r\nUID=bob", a, "CID=" + a + "\r\nUID=bob", a,
       "Case 5 - Both GUIDs are valid but different"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetIdentityFile(c.file);
    SetRegistryGuid(c.reg);
    ClearLog();
    CUtility::FixUpComputerIDRegKey();
    EXPECT_EQ(c.fileAfter, IdentityBytes());
    EXPECT_EQ(c.regAfter, RegistryGuid());
    EXPECT_TRUE(Logged(c.logLine)) << LogText();
  }
}

TEST_F(IdentityRepair, RepeatedRewritesKeepTheBytesStable) {
  SetIdentityFile("CID=" + std::string(kGuidB) + "\r\nUID=bob\r\n");
  SetRegistryGuid(std::string(kGuidA));
  CUtility::FixUpComputerIDRegKey();
  const std::string first = *IdentityBytes();
  SetRegistryGuid(std::string(kGuidB));
  CUtility::FixUpComputerIDRegKey();
  SetRegistryGuid(std::string(kGuidA));
  CUtility::FixUpComputerIDRegKey();
  EXPECT_EQ(first, *IdentityBytes());
  EXPECT_EQ("CID=" + std::string(kGuidA) + "\r\nUID=bob\r\n", first);
}

// An identity file that is there but cannot be read (locked, too large).
class UnreadableEnv : public platform::EnvWrapper {
 public:
  UnreadableEnv(platform::Env* target, std::string path) : EnvWrapper(target), path_(std::move(path)) {}
  platform::Status ReadFile(const std::string& p, std::string* d, uint64_t m) override {
    if (p == path_) return platform::kErrorAccessDenied;
    return EnvWrapper::ReadFile(p, d, m);
  }

 private:
  std::string path_;
};

TEST_F(IdentityRepair, AnUnreadableFileIsNotReplacedByTheTemplate) {
  const std::string bytes = "CID=junk\r\nUID=precious-user\r\n";
  SetIdentityFile(bytes);
  SetRegistryGuid(std::string(kGuidA));
  UnreadableEnv unreadable(env_.get(), IdentityFile());
  {
    platform::ScopedDefaultEnv scoped(&unreadable);
    CUtility::FixUpComputerIDRegKey();
  }
  EXPECT_EQ(bytes, *IdentityBytes());
}

class LogRepair : public IdentityRepair {};

TEST_F(LogRepair, FillsEveryEmptyFieldWithEscapedIdentifiers) {
  struct Case {
    const char* name;
    std::optional<std::string> identity;
    std::optional<std::string> reg;
    std::string log, expected;
    const char* logLine;
  };
  const std::string a = kGuidA;
  const Case cases[] = {
      {"both fields, twice", "CID=" + a + "\r\nUID=bob\r\n", a, R"({"cid":"","uid":"","x":[{"cid":""}]})",
       R"({"cid":")" + a + R"(","uid":"bob","x":[{"cid":")" + a + R"("}]})", "Fix up needed - userid"},
      {"already populated", "CID=" + a + "\r\nUID=bob", a, R"({"cid":"c","uid":"u"})",
       R"({"cid":"c","uid":"u"})", "FixUp not needed."},
      {"blanks around the colon", "CID=" + a + "\r\nUID=bob", a, R"({"cid" : "","uid":"u"})",
       R"({"cid" : "","uid":"u"})", "FixUp not needed."},
      {"no UID line", "CID=" + a + "\r\n", a, R"({"cid":"","uid":""})", R"({"cid":"","uid":""})",
       "failed to get the UID from the InkoraID file."},
      {"no identity file", std::nullopt, a, R"({"cid":"","uid":""})", R"({"cid":"","uid":""})",
       "failed to get the UID from the InkoraID file."},
      {"odd identifiers are escaped", "CID=x\r\nUID=bo\"b\\\r\n", std::string("we\"ird"),
       R"({"cid":"","uid":""})", R"({"cid":"we\"ird","uid":"bo\"b\\"})", "Fix up needed - userid"},
      {"empty UID and no registry value", "CID=\r\nUID=", std::nullopt, R"({"uid":"","cid":""})",
       R"({"uid":"","cid":""})", "Fix up needed - userid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetIdentityFile(c.identity);
    SetRegistryGuid(c.reg);
    Put(LogFolder() + "\\a.jlog", c.log);
    ClearLog();
    CUtility::FixUpLogFile(LogFolder() + "\\a.jlog");
    EXPECT_EQ(c.expected, Get(LogFolder() + "\\a.jlog"));
    EXPECT_TRUE(Logged(c.logLine)) << LogText();
  }
}

TEST_F(LogRepair, KeepsTheBytesAfterANulAndCreatesNothing) {
  SetIdentityFile("CID=x\r\nUID=bob");
  SetRegistryGuid(std::string(kGuidA));
  const std::string log("{\"uid\":\"\"}\0tail", 15);
  Put(Tmp("n.jlog"), log);
  CUtility::FixUpLogFile(Tmp("n.jlog"));
  EXPECT_EQ(std::string("{\"uid\":\"bob\"}\0tail", 18), Get(Tmp("n.jlog")));

  CUtility::FixUpLogFile(Tmp("missing.jlog"));
  EXPECT_FALSE(Exists(Tmp("missing.jlog")));
}

}  // namespace
