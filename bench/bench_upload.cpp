// Upload of one 10 MB usage log, end to end: discovery, identity check, read,
// transform, POST, answer, rename; and a pass over small logs beside hostile entries. Reports the time per
// upload and the peak of the updater's live heap during it (the web farm's own work is not counted), also as
// a multiple of the file size.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "platform/env.h"
#include "platform/testing/fake_env.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "webfarm/testing/webfarm_fixture.h"

#include "bench/counting_heap.h"

namespace {

std::string MakeUsageLog(size_t size) {
  std::mt19937 random(7);
  std::string text = "{\"cid\":\"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}\",\"uid\":\"user\",\"events\":[";
  while (text.size() + 64 < size) {
    text += "{\"e\":\"" + std::to_string(random()) + "\",\"t\":" + std::to_string(random() % 100000) + "},";
  }
  text.append(size - text.size() - 2, ' ');
  text += "]}";
  return text;
}

void BM_UploadUsageLog10MB(benchmark::State& state) {
  const size_t kSize = 10u * 1024 * 1024;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "inkora-bench-upload";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::unique_ptr<platform::Env> isolated = platform::NewIsolatedEnv(dir.string());
  platform_testing::FakeEnv env(isolated.get());
  env.http.probes = true;
  env.http.onFakeSide = [](bool entering) { t_farmSide += entering ? 1 : -1; };
  const platform_testing::Reply answer = client_testing::Answer("{\"code\":\"0\"}");
  platform::ScopedDefaultEnv scoped(&env.env);

  std::string appData;
  env.files.GetKnownFolder(platform::KnownFolder::kCommonAppData, &appData);
  env.files.CreateFolder(appData);
  const std::string folder = appData + "\\Quorvex\\Inkora\\Customer Improvement\\togo";
  for (const char* part : {"\\Quorvex", "\\Quorvex\\Inkora", "\\Quorvex\\Inkora\\Customer Improvement",
                           "\\Quorvex\\Inkora\\Customer Improvement\\togo"}) {
    env.files.CreateFolder(appData + part);
  }
  const std::string text = MakeUsageLog(kSize);
  CClientInfo client;
  int64_t worstPeak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    env.files.DeleteFile(folder + "\\usage.old");
    env.files.WriteFileAtomic(folder + "\\usage.jlog", text);
    env.http.calls.clear();
    env.http.calls.shrink_to_fit();
    env.http.replies = {answer};
    int64_t base = g_live.load();
    g_peak.store(base);
    state.ResumeTiming();

    int handled = client.UploadLogFiles("http://farm.test/Teko/upload.hsh", LogTypes::Usage);

    state.PauseTiming();
    if (handled != 1 || env.http.calls.empty() ||
        client_testing::Opened(env.http.calls.front()).size() != kSize) {
      state.SkipWithError("the upload did not arrive whole");
      break;
    }
    worstPeak = std::max(worstPeak, g_peak.load() - base);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
  state.counters["peak_heap_MB"] = static_cast<double>(worstPeak) / (1024.0 * 1024.0);
  state.counters["peak_x_file"] = static_cast<double>(worstPeak) / static_cast<double>(kSize);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_UploadUsageLog10MB)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same upload to the reference web farm on loopback over libcurl. The heap
// counter sees the updater's C++ allocations; "maxrss_MB" is the process's
// resident high-water mark, curl's own buffers included.
void BM_UploadUsageLog10MBToWebFarm(benchmark::State& state) {
  const size_t kSize = 10u * 1024 * 1024;
  std::string error;
  std::unique_ptr<webfarm_testing::CWebFarm> farm = webfarm_testing::CWebFarm::Start(&error);
  if (farm == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "inkora-bench-upload-farm";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::unique_ptr<platform::Env> env = platform::NewIsolatedEnv(dir.string());
  platform::ScopedDefaultEnv scoped(env.get());
  std::string appData;
  env->files()->GetKnownFolder(platform::KnownFolder::kCommonAppData, &appData);
  env->files()->CreateFolder(appData);
  const std::string folder = appData + "\\Quorvex\\Inkora\\Customer Improvement\\togo";
  for (const char* part : {"\\Quorvex", "\\Quorvex\\Inkora", "\\Quorvex\\Inkora\\Customer Improvement",
                           "\\Quorvex\\Inkora\\Customer Improvement\\togo"}) {
    env->files()->CreateFolder(appData + part);
  }
  const std::string text = MakeUsageLog(kSize);
  CClientInfo client;
  int64_t worstPeak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    env->files()->DeleteFile(folder + "\\usage.old");
    env->files()->WriteFileAtomic(folder + "\\usage.jlog", text);
    int64_t base = g_live.load();
    g_peak.store(base);
    state.ResumeTiming();

    int handled = client.UploadLogFiles(farm->url("/Teko/usage"), LogTypes::Usage);

    state.PauseTiming();
    if (handled != 1 || !env->files()->PathExists(folder + "\\usage.old")) {
      state.SkipWithError("the web farm did not take the upload");
      break;
    }
    worstPeak = std::max(worstPeak, g_peak.load() - base);
    state.ResumeTiming();
  }
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
  state.counters["peak_heap_MB"] = static_cast<double>(worstPeak) / (1024.0 * 1024.0);
  state.counters["peak_x_file"] = static_cast<double>(worstPeak) / static_cast<double>(kSize);
  state.counters["maxrss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_UploadUsageLog10MBToWebFarm)->Unit(benchmark::kMillisecond)->Iterations(5);

// One pass over the usage logs of a folder holding three small logs, alone
// (argument 0) or beside hostile entries a user planted (links to a file
// outside, FIFOs, second names, names leading out; ten of each): these are
// listed as what they are and left alone, and must not make the pass wait.
void BM_UsagePassBesideHostileEntries(benchmark::State& state) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "inkora-bench-hostile";
  fs::remove_all(dir);
  const fs::path togo = dir / "ProgramData/Quorvex/Inkora/Customer Improvement/togo";
  fs::create_directories(togo);
  std::ofstream(dir / "outside.jlog") << "{\"secret\":1}";
  for (int i = 0; i < state.range(0) / 4; ++i) {
    const std::string n = std::to_string(i);
    fs::create_symlink(dir / "outside.jlog", togo / ("link" + n + ".jlog"));
    fs::create_hard_link(dir / "outside.jlog", togo / ("hard" + n + ".jlog"));
    ::mkfifo((togo / ("fifo" + n + ".jlog")).c_str(), 0644);
    std::ofstream(togo / ("a\\..\\..\\..\\..\\outside" + n + ".jlog")) << "{}";
  }
  std::unique_ptr<platform::Env> isolated = platform::NewIsolatedEnv(dir.string());
  platform_testing::FakeEnv env(isolated.get());
  env.http.probes = true;
  const platform_testing::Reply answer = client_testing::Answer("{\"code\":\"0\"}");
  platform::ScopedDefaultEnv scoped(&env.env);
  const std::string text = MakeUsageLog(4096);
  CClientInfo client;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 3; ++i) {
      fs::remove(togo / ("usage" + std::to_string(i) + ".old"));
      std::ofstream(togo / ("usage" + std::to_string(i) + ".jlog")) << text;
    }
    env.http.calls.clear();
    env.http.replies = {answer, answer, answer};
    state.ResumeTiming();

    const int handled = client.UploadLogFiles("http://farm.test/Teko/upload.hsh", LogTypes::Usage);

    state.PauseTiming();
    if (handled != 3) {
      state.SkipWithError("the three logs were not all sent");
      break;
    }
    state.ResumeTiming();
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_UsagePassBesideHostileEntries)->Arg(0)->Arg(40)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
