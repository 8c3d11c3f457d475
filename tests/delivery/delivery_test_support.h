// Shared pieces of the delivery tests: python peers on 127.0.0.1 started and
// stopped by the test, an application context double, small file helpers.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../support/temp_folder.h"
#include "base/app_context.h"
#include "base/log_file.h"
#include "base/process.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"

extern char** environ;

namespace qmr::testing {

inline const std::string kPython = "/usr/bin/python3";
inline const std::string kPeers = std::string(QMR_SOURCE_DIR) + "/tests/delivery/peers.py";

// Polls cond every 20 ms for at most timeoutMs.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (cond()) return true;
    SleepMs(20);
  }
  return cond();
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Runs a command line through the shell and returns what it printed.
inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// One python peer process; its port is known once it listens.
class Peer {
 public:
  Peer(const std::string& folder, std::vector<std::string> args) {
    portFile_ = folder + "/port-" + std::to_string(counter_++);
    std::vector<std::string> all = {kPython, kPeers, args[0], portFile_};
    all.insert(all.end(), args.begin() + 1, args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kPython.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    if (pid_ > 0 && WaitUntil([&] { return Exists(portFile_); }, 15000)) {
      port_ = std::stoi(ReadWhole(portFile_));
    }
  }
  ~Peer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  static inline int counter_ = 0;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string portFile_;
};

// A self-signed certificate for "localhost" only (not for 127.0.0.1), made
// with openssl in folder: cert.pem and key.pem.
struct TestCertificate {
  explicit TestCertificate(const std::string& folder)
      : cert(folder + "/cert.pem"), key(folder + "/key.pem") {
    Capture(
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=localhost -addext subjectAltName=DNS:localhost -keyout " +
        key + " -out " + cert + " 2>&1");
  }
  bool Made() const { return Exists(cert) && Exists(key); }
  std::string cert;
  std::string key;
};

// The application as the transfer thread sees it: settings and a dial-up
// line; nothing else is used.
class DeliveryContext : public AppContext {
 public:
  explicit DeliveryContext(DialupConnection::Config config = {}) : dialup_(std::move(config)) {}
  SettingsStore& Settings() override { return settings_; }
  DialupConnection& Dialup() override { return dialup_; }
  IniFile& SettingsFile() override { std::abort(); }
  AlarmSound& Alarm() override { std::abort(); }
  TransferQueue& Transfer() override { std::abort(); }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { std::abort(); }
  void PostMessageBox(const std::string&, const std::string&, long) override {}
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }

 private:
  SettingsStore settings_;
  DialupConnection dialup_;
};

// A test folder that is also the program folder (so the log lands there).
class LogFolder : public TempFolder {
 public:
  LogFolder() {
    SetApplicationFolder(Path());
    LogFile::ResetPath();
  }
  std::string Log() const { return ReadWhole(File("log.txt")); }
};

}  // namespace qmr::testing
