// The JSON reader and writer next to nlohmann-json (benchmark only) on
// documents made here: a protocol-sized answer (~1 KB), a 1 MB array of
// records, a 10 MB document and an object of 100,000 members. After the runs
// a table gives MB/s for both and the ratio (target: never below 1, at least
// 2 on the 1 MB and 10 MB documents), and the live-heap peak of reading the
// 10 MB document over its size (target: 4 at most).
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <string>

#include "json/reader.h"
#include "json/writer.h"

#include "bench/counting_heap.h"

namespace {

std::string Answer() {
  return "{\"code\":\"0\",\"msg\":\"Success\",\"mv_url\":\"http://update.inkora.example/Teko/metadata/"
         "1-0-7\","
         "\"mv_ver\":\"1-0-7\",\"sv_ver\":\"1.0.13.0\",\"in_ver\":\"1.0.10\",\"df_ver\":\"2.0\","
         "\"uc_url\":\"http://update.inkora.example/Teko/uc\",\"puc_url\":\"http://update.inkora.example/"
         "Teko/puc\","
         "\"log_url\":\"http://update.inkora.example/Teko/usage\",\"log_diag\":\"0\",\"uc_freq\":1,"
         "\"in_url\":\"http://update.inkora.example/downloads/InkoraSetup-1.0.10.exe\","
         "\"sv_url\":\"http://update.inkora.example/downloads/InkoraUpdater.exe\","
         "\"df_url\":\"http://update.inkora.example/Teko/definitions.xml\","
         "\"cr_url\":\"http://update.inkora.example/Teko/"
         "crash\",\"upload_logs\":\"true\",\"crash_logs\":\"false\","
         "\"notes\":[\"first\",\"second\",\"third\"],\"limits\":{\"max\":1048576,\"min\":0,\"retry\":3}}";
}

// Records as a usage log holds them: identifiers, a session, event lists.
std::string Records(size_t bytes) {
  std::mt19937 random(7);
  std::string text = "[";
  for (int i = 0; text.size() < bytes; ++i) {
    if (i) text += ",";
    text += "{\"cid\":\"{8E2B5C4A-1D3F-4A6B-9C8D-" + std::to_string(100000000000 + random() % 899999999999) +
            "}\",\"session\":" + std::to_string(i) + ",\"ok\":" + (random() % 2 ? "true" : "false") +
            ",\"score\":" + std::to_string(random() % 1000) + "." + std::to_string(random() % 100) +
            ",\"path\":\"C:\\\\Users\\\\user" + std::to_string(i % 97) + "\\\\Documents\\\\ink\\tfile.ink\"" +
            ",\"events\":[\"open\",\"draw\",\"save\",\"print\"],\"extra\":null}";
  }
  return text + "]";
}

std::string Members(int count) {
  std::string text = "{";
  for (int i = 0; i < count; ++i) {
    if (i) text += ",";
    text += "\"member" + std::to_string(i) + "\":" + std::to_string(i);
  }
  return text + "}";
}

const std::map<std::string, std::string>& Documents() {
  static const std::map<std::string, std::string> documents = {
      {"answer_1KB", Answer()},
      {"records_1MB", Records(1 << 20)},
      {"document_10MB", Records(10 << 20)},
      {"members_100k", Members(100000)},
  };
  return documents;
}

void ReadOurs(benchmark::State& state, const std::string& name) {
  const std::string& text = Documents().at(name);
  for (auto _ : state) {
    json::Element element;
    json::Reader::Read(element, text);
    benchmark::DoNotOptimize(element);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ReadNlohmann(benchmark::State& state, const std::string& name) {
  const std::string& text = Documents().at(name);
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void WriteOurs(benchmark::State& state, const std::string& name) {
  json::Element element;
  json::Reader::Read(element, Documents().at(name));
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = json::Writer::ToString(element);
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void WriteNlohmann(benchmark::State& state, const std::string& name) {
  const nlohmann::json value = nlohmann::json::parse(Documents().at(name));
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = value.dump(1, '\t');  // the same pretty layout
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

template <typename Read>
double PeakOver(const std::string& text, Read read) {
  const int64_t before = g_live.load();
  g_peak.store(before);
  read(text);
  return static_cast<double>(g_peak.load() - before) / static_cast<double>(text.size());
}

// Collects MB/s per run for the ratio table.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value / 1e6;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  const char* names[] = {"answer_1KB", "records_1MB", "document_10MB", "members_100k"};
  for (const char* name : names) {
    const std::string n = name;
    benchmark::RegisterBenchmark(("read/ours/" + n).c_str(), ReadOurs, n);
    benchmark::RegisterBenchmark(("read/nlohmann/" + n).c_str(), ReadNlohmann, n);
    benchmark::RegisterBenchmark(("write/ours/" + n).c_str(), WriteOurs, n);
    benchmark::RegisterBenchmark(("write/nlohmann/" + n).c_str(), WriteNlohmann, n);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("\n%-8s %-15s %12s %12s %8s\n", "", "document", "ours MB/s", "nlohmann", "ratio");
  for (const char* op : {"read", "write"}) {
    for (const char* name : names) {
      const std::string ours = std::string(op) + "/ours/" + name;
      const std::string theirs = std::string(op) + "/nlohmann/" + name;
      if (!collector.rates.count(ours) || !collector.rates.count(theirs)) continue;
      std::printf("%-8s %-15s %12.1f %12.1f %8.2f\n", op, name, collector.rates[ours],
                  collector.rates[theirs], collector.rates[ours] / collector.rates[theirs]);
    }
  }
  const std::string& big = Documents().at("document_10MB");
  const double ours = PeakOver(big, [](const std::string& text) {
    json::Element element;
    json::Reader::Read(element, text);
  });
  const double theirs =
      PeakOver(big, [](const std::string& text) { nlohmann::json value = nlohmann::json::parse(text); });
  std::printf("\nlive-heap peak reading document_10MB (%.1f MB): ours %.2fx its size, nlohmann %.2fx\n",
              static_cast<double>(big.size()) / 1e6, ours, theirs);
  benchmark::Shutdown();
  return 0;
}
