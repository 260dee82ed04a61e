// inkora_webfarm --state DIR [--port N] [--tls-cert PEM --tls-key PEM [--tls-port N]]
//                [--signing-key PEM]
// Serves the updater on 127.0.0.1 and prints "listening on http://127.0.0.1:PORT",
// followed by " https://127.0.0.1:PORT" when it also serves TLS with the given
// certificate. Given a P-256 private key it signs the metadata and the
// definition file it serves (their URLs with ".sig" appended). The control API
// lives under /_control/ on both.
#include <httplib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "transport/utility.h"
#include "webfarm/farm.h"

namespace {

// A request body the farm takes: room for any upload the updater can make.
constexpr size_t kMaxRequestBytes = 64u << 20;

httplib::Server* g_server = nullptr;
httplib::Server* g_tlsServer = nullptr;
int g_plainPort = 0;  // where the redirect fault sends a request

void OnSignal(int) {
  if (g_tlsServer) g_tlsServer->stop();
  if (g_server) g_server->stop();
}

const char kUsage[] =
    "usage: inkora_webfarm --state DIR [--port N] [--tls-cert PEM --tls-key PEM [--tls-port N]]"
    " [--signing-key PEM]\n";

void Control(webfarm::CFarm& farm, const httplib::Request& req, httplib::Response& res) {
  const std::string what = req.path.substr(std::string("/_control/").size());
  std::string error;
  bool ok = true;
  std::string body = "{}";
  if (what == "reset") {
    farm.Reset();
  } else if (what == "fault") {
    ok = farm.SetFault(req.body, &error);
  } else if (what == "expect") {
    ok = farm.Expect(req.body, &error);
  } else if (what == "requests") {
    body = farm.RequestsJson();
  } else if (what == "verify") {
    bool verified = false;
    body = farm.VerifyJson(&verified);
  } else if (what == "state") {
    ok = farm.PutStateFile(req.has_param("file") ? req.get_param_value("file") : "", req.body, &error);
  } else if (what == "key") {
    body = farm.PublicKey(req.has_param("which") ? req.get_param_value("which") : "");
  } else if (what == "ping") {
    body = "{\"ok\" : true}";
  } else {
    ok = false;
    error = "unknown control " + what;
  }
  if (!ok) {
    res.status = 400;
    res.set_content(error, "text/plain");
    return;
  }
  res.set_content(body, "application/json");
}

void Serve(webfarm::CFarm& farm, const httplib::Request& req, httplib::Response& res) {
  std::string rawQuery;
  const size_t question = req.target.find('?');
  if (question != std::string::npos) rawQuery = req.target.substr(question + 1);
  webfarm::Fault fault;
  webfarm::Reply reply = farm.Handle(req.method, req.path, rawQuery, req.body, &fault);
  res.status = reply.status;
  switch (fault.mode) {
    case webfarm::FaultMode::kRedirect:
      res.set_header("Location", "http://127.0.0.1:" + std::to_string(g_plainPort) + req.target);
      return;
    case webfarm::FaultMode::kStall:
      std::this_thread::sleep_for(std::chrono::milliseconds(fault.stallMs));
      break;
    case webfarm::FaultMode::kTrickle: {
      // The whole answer, one byte per stall time: each byte restarts the
      // updater's idle time-out, only its deadline ends the request.
      const std::string full = reply.body;
      const uint32_t ms = fault.stallMs;
      res.set_content_provider(full.size(), reply.contentType,
                               [full, ms](size_t offset, size_t, httplib::DataSink& sink) {
                                 std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                                 return sink.write(full.data() + offset, 1);
                               });
      return;
    }
    case webfarm::FaultMode::kRefuse:
      // Headers promise a body that never comes; the connection closes.
      res.set_content_provider(1024, "text/plain", [](size_t, size_t, httplib::DataSink&) { return false; });
      return;
    case webfarm::FaultMode::kTruncated: {
      const std::string full = reply.body.empty() ? std::string(64, 'A') : reply.body;
      res.set_content_provider(full.size(), reply.contentType,
                               [full](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset > 0) return false;  // the rest never comes
                                 sink.write(full.data(), full.size() / 2);
                                 return true;
                               });
      return;
    }
    case webfarm::FaultMode::kOversized: {
      // Base64 characters above the updater's answer bound, streamed.
      const size_t total = kMaxAnswerBytes + (1u << 20);
      res.set_content_provider(total, "text/plain",
                               [](size_t offset, size_t length, httplib::DataSink& sink) {
                                 static const std::string block(64 * 1024, 'A');
                                 (void)offset;
                                 sink.write(block.data(), std::min(length, block.size()));
                                 return true;
                               });
      return;
    }
    default:
      break;
  }
  res.set_content(reply.body, reply.contentType);
}

// The same routes on the plain and the TLS listener.
void Route(httplib::Server& server, webfarm::CFarm& farm) {
  server.Get(R"(/_control/.*)",
             [&farm](const httplib::Request& q, httplib::Response& r) { Control(farm, q, r); });
  server.Post(R"(/_control/.*)",
              [&farm](const httplib::Request& q, httplib::Response& r) { Control(farm, q, r); });
  server.Get(R"(.*)", [&farm](const httplib::Request& q, httplib::Response& r) { Serve(farm, q, r); });
  // The form posts of the updater are read here, not by the library: Debian's
  // cpp-httplib is built with an 8 KiB bound on url-encoded form bodies, far
  // below a real log upload. Handlers with a content reader come first, so
  // this one leaves the control calls to theirs.
  server.Post(R"(/(?!_control/).*)",
              [&farm](const httplib::Request& q, httplib::Response& r, const httplib::ContentReader& read) {
                httplib::Request request = q;
                request.body.clear();
                bool tooLarge = false;
                read([&](const char* data, size_t length) {
                  if (request.body.size() + length > kMaxRequestBytes) {
                    tooLarge = true;
                    return false;
                  }
                  request.body.append(data, length);
                  return true;
                });
                if (tooLarge) {
                  r.status = 413;
                  return;
                }
                Serve(farm, request, r);
              });
}

}  // namespace

int main(int argc, char** argv) {
  std::string state, tlsCert, tlsKey, signingKey;
  int port = 0, tlsPort = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--state" && i + 1 < argc) {
      state = argv[++i];
    } else if (arg == "--port" && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (arg == "--tls-cert" && i + 1 < argc) {
      tlsCert = argv[++i];
    } else if (arg == "--tls-key" && i + 1 < argc) {
      tlsKey = argv[++i];
    } else if (arg == "--tls-port" && i + 1 < argc) {
      tlsPort = std::atoi(argv[++i]);
    } else if (arg == "--signing-key" && i + 1 < argc) {
      signingKey = argv[++i];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (state.empty() || tlsCert.empty() != tlsKey.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::unique_ptr<webfarm::CSigner> signer;
  if (!signingKey.empty()) {
    std::string error;
    signer = webfarm::CSigner::FromPemFile(signingKey, &error);
    if (!signer) {
      std::fprintf(stderr, "inkora_webfarm: %s\n", error.c_str());
      return 1;
    }
  }
  webfarm::CFarm farm(state, std::move(signer));
  httplib::Server server;
  server.set_keep_alive_max_count(1);
  server.set_payload_max_length(kMaxRequestBytes);
  Route(server, farm);
  std::unique_ptr<httplib::SSLServer> tls;
  if (!tlsCert.empty()) {
    tls = std::make_unique<httplib::SSLServer>(tlsCert.c_str(), tlsKey.c_str());
    if (!tls->is_valid()) {
      std::fprintf(stderr, "inkora_webfarm: cannot load the certificate %s or its key\n", tlsCert.c_str());
      return 1;
    }
    tls->set_keep_alive_max_count(1);
    tls->set_payload_max_length(kMaxRequestBytes);
    Route(*tls, farm);
  }
  if (port == 0) {
    port = server.bind_to_any_port("127.0.0.1");
  } else if (!server.bind_to_port("127.0.0.1", port)) {
    port = -1;
  }
  if (tls && tlsPort == 0) {
    tlsPort = tls->bind_to_any_port("127.0.0.1");
  } else if (tls && !tls->bind_to_port("127.0.0.1", tlsPort)) {
    tlsPort = -1;
  }
  if (port <= 0 || (tls && tlsPort <= 0)) {
    std::fprintf(stderr, "inkora_webfarm: cannot listen on 127.0.0.1\n");
    return 1;
  }
  g_plainPort = port;
  g_server = &server;       // cppcheck-suppress danglingLifetime ; cleared before main returns
  g_tlsServer = tls.get();  // cppcheck-suppress danglingLifetime ; likewise
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  if (tls) {
    std::printf("listening on http://127.0.0.1:%d https://127.0.0.1:%d\n", port, tlsPort);
  } else {
    std::printf("listening on http://127.0.0.1:%d\n", port);
  }
  std::fflush(stdout);
  std::thread tlsThread;
  if (tls) tlsThread = std::thread([&tls] { tls->listen_after_bind(); });
  server.listen_after_bind();
  if (tls) {
    tls->stop();
    tlsThread.join();
  }
  g_tlsServer = nullptr;  // the signal handler must not reach a server that has gone
  g_server = nullptr;
  return 0;
}
