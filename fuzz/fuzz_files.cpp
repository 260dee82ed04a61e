// Texts from disk and from answers, of any shape: the version scan, URL
// cracking, the GUID and log checks, and the repairs of the identity file and
// of a log file (over a private tree and hive). Nothing may crash, and a
// repair may rewrite a file but never lose it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "files/utility.h"
#include "platform/env.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "transport/url_string.h"

namespace {

struct World {
  World() {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "inkora-fuzz-files";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    env = platform::NewIsolatedEnv(dir.string());
    platform::Env::SetDefault(env.get());
    env->files()->GetKnownFolder(platform::KnownFolder::kCommonAppData, &appData);
    std::filesystem::create_directories(dir / "ProgramData");
    env->files()->CreateFolder(appData);
    for (const char* part : {"\\Quorvex", "\\Quorvex\\Inkora", "\\Quorvex\\Inkora\\Customer Improvement",
                             "\\Quorvex\\Inkora\\Customer Improvement\\togo"}) {
      env->files()->CreateFolder(appData + part);
    }
    identity = appData + "\\Quorvex\\Inkora\\Inkora.ID";
    log = appData + "\\Quorvex\\Inkora\\Customer Improvement\\togo\\fuzz.jlog";
  }
  std::unique_ptr<platform::Env> env;
  std::string appData, identity, log;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  CUtility::GetVersionFromText("", text);
  UrlParts parts(text);
  CUtility::IsValidGuid(text);
  CUtility::IsLogFilePopulated(text);

  platform::Env* env = world->env.get();
  if (selector & 1) {
    // The identity file as given, the registry's GUID valid or not.
    if (env->files()->WriteFileAtomic(world->identity, text) != platform::kSuccess) std::abort();
    SetRegValue_String(kProductKey, "ComputerID",
                       (selector & 2) ? "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}" : text.substr(0, 64));
    CUtility::FixUpComputerIDRegKey();
    if (!env->files()->PathExists(world->identity)) std::abort();  // repaired, never removed
  } else {
    if (env->files()->WriteFileAtomic(world->log, text) != platform::kSuccess) std::abort();
    CUtility::FixUpLogFile(world->log);
    if (!env->files()->PathExists(world->log)) std::abort();
  }
  return 0;
}
