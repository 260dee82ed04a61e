// Test support for the end-to-end runs on Linux: the service program started as
// a process of its own over a private root folder, watched through its log
// file, ended by a signal, and tied to the process that started it so that a
// test killed by a time-out or a crash takes its service with it.
#pragma once

#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace service_testing {

class ServiceProcess {
 public:
  // Copies the program into root/<folder> so its log lies there, beside it.
  ServiceProcess(const std::string& program, const std::string& root, const std::string& folder = "bin")
      : root_(root), folder_(root + "/" + folder), binary_(folder_ + "/InkoraUpdater.bin") {
    std::filesystem::create_directories(folder_);
    std::filesystem::create_directories(root + "/units");
    std::filesystem::copy_file(program, binary_, std::filesystem::copy_options::overwrite_existing);
  }
  ~ServiceProcess() { Signal(SIGKILL); }

  std::string Log() const { return ReadAll(folder_ + "/InkoraUpdater.log"); }
  std::string Output() const { return ReadAll(folder_ + "/output.txt"); }
  size_t Cycles() const { return Count(Log(), "Sleeping for timeout period"); }
  pid_t pid() const { return pid_; }

  bool Start(const std::vector<std::string>& args = {}) {
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ != 0) return pid_ > 0;
    // Killed with the thread that started it; a parent already gone before
    // the request took hold shows as another parent.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(126);
    ::setenv("INKORA_ROOT", root_.c_str(), 1);
    ::setenv("INKORA_UNIT_DIR", (root_ + "/units").c_str(), 1);
    int fd = ::open((folder_ + "/output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    std::vector<char*> argv{const_cast<char*>(binary_.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(binary_.c_str(), argv.data());
    ::_exit(127);
  }
  // A command word's run to its end: the raw wait status, -1 past the bound.
  int Run(const std::vector<std::string>& args) {
    if (!Start(args)) return -1;
    WaitFor([] { return false; }, 30);
    if (!Running()) return status_;
    Signal(SIGKILL);
    return -1;
  }
  // Polls until the condition holds or the process ended; the bound only
  // keeps a broken run from hanging the suite.
  bool WaitFor(const std::function<bool()>& condition, int maxSeconds = 60) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    while (!condition() && Running() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
  }
  bool Running() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = 0;
    return pid_ > 0;
  }
  // Sends the signal and waits up to the bound for the end (then kills); the
  // raw wait status, or -1 when it took the kill.
  int Signal(int sig, int maxSeconds = 30) {
    if (pid_ <= 0) return status_;
    ::kill(pid_, sig);
    WaitFor([] { return false; }, maxSeconds);
    if (!Running()) return status_;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
    return -1;
  }

  static std::string ReadAll(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

 private:
  std::string root_, folder_, binary_;
  pid_t pid_ = 0;
  int status_ = 0;
};

}  // namespace service_testing

#endif  // !_WIN32
