// Test support for the end-to-end runs on Linux: the service program started as
// a process of its own over a private root folder, watched through its log
// file, and ended by a signal.
#pragma once

#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
      : root_(root), folder_(root + "/" + folder) {
    std::filesystem::create_directories(folder_);
    std::filesystem::create_directories(root + "/units");
    binary_ = folder_ + "/InkoraUpdater.bin";
    std::filesystem::copy_file(program, binary_, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(binary_, std::filesystem::perms::owner_all);
  }
  ~ServiceProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  std::string logPath() const { return folder_ + "/InkoraUpdater.log"; }
  std::string outputPath() const { return folder_ + "/output.txt"; }

  bool Start(const std::vector<std::string>& args = {}) {
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::setenv("INKORA_ROOT", root_.c_str(), 1);
      ::setenv("INKORA_UNIT_DIR", (root_ + "/units").c_str(), 1);
      int fd = ::open(outputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(binary_.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(binary_.c_str(), argv.data());
      ::_exit(127);
    }
    return true;
  }

  // Starts the program with a command word and waits for its end; the raw wait
  // status, or -1 when it did not end within the bound.
  int Run(const std::vector<std::string>& args, int maxSeconds = 60) {
    if (!Start(args)) return -1;
    if (!WaitFor([] { return false; }, maxSeconds) && Running()) return Signal(SIGKILL);
    return exitStatus_;
  }

  std::string Log() const { return ReadAll(logPath()); }
  // How many cycles the log shows begun.
  size_t Cycles() const { return Count(Log(), "Sleeping for timeout period"); }

  // Polls until the condition holds or the process ended; a bound keeps a
  // broken run from hanging the suite (no speed is asserted).
  bool WaitFor(const std::function<bool()>& condition, int maxSeconds = 120) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    while (std::chrono::steady_clock::now() < end) {
      if (condition()) return true;
      if (!Running()) return condition();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exitStatus_ = status;
      pid_ = 0;
      return false;
    }
    return true;
  }

  // Sends the signal and waits for the end; the raw wait status, or -1 when
  // the process did not end within the bound (it is then killed).
  int Signal(int sig, int maxSeconds = 30) {
    if (pid_ <= 0) return exitStatus_;
    ::kill(pid_, sig);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    while (std::chrono::steady_clock::now() < end) {
      if (!Running()) return exitStatus_;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
    return -1;
  }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
      ++n;
    return n;
  }

 private:
  std::string root_;
  std::string folder_;
  std::string binary_;
  pid_t pid_ = 0;
  int exitStatus_ = 0;
};

}  // namespace service_testing

#endif  // !_WIN32
