// Dial-up lines through pppd: the entries are the peer files of the peers
// folder, an entry's password is stored when its user is listed in the
// chap/pap secrets (or the peer file carries a "password" option), dialling
// is "pon NAME" and waiting for its ppp interface to come up, hang-up is
// "poff NAME" and waiting for the interface to go. Only a line this object
// dialled is ever reported or hung up.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace qmr {

struct DialupEntry {
  std::string name;
};

class DialupConnection {
 public:
  // Where the system keeps things and which commands dial; tests point these
  // at fixtures and fake scripts.
  struct Config {
    std::string peersFolder = "/etc/ppp/peers";
    std::string chapSecrets = "/etc/ppp/chap-secrets";
    std::string papSecrets = "/etc/ppp/pap-secrets";
    std::string ponCommand = "pon";
    std::string poffCommand = "poff";
    std::string netFolder = "/sys/class/net";  // one folder per interface
    std::string runFolder = "/var/run";        // pppd's ppp-NAME.pid files
    int dialTimeoutMs = 60000;
    int hangUpTimeoutMs = 30000;
  };

  DialupConnection() = default;
  explicit DialupConnection(Config config) : config_(std::move(config)) {}
  virtual ~DialupConnection() = default;

  // Re-reads the entry list; true when at least one entry exists.
  bool RefreshEntries();
  // Dials the entry and waits for its interface. True at once when this
  // object already holds a line, and when the entry's line is already up
  // through a pppd someone else started: that line is used but not held.
  // error (optional) receives the dial command's exit status, or -1 when the
  // line did not come up in time.
  bool Dial(const std::string& entryName, int* error = nullptr);
  // True only while the line this object dialled is up.
  bool IsDialled() const;
  // Hangs up the line this object dialled and waits for it to go. False
  // when it holds none.
  bool HangUp();

  // Whether the entry's password is stored (the entry need not be listed).
  bool HasStoredPassword(const std::string& entryName) const;

  // A copy of the list: the settings dialog reads it while the transfer
  // thread may be refreshing it for a dial.
  std::map<std::string, DialupEntry> Entries() const;
  const std::string& CurrentEntry() const { return currentEntry_; }
  const Config& GetConfig() const { return config_; }

 private:
  std::string FindInterface() const;
  bool InterfaceUp(const std::string& name) const;
  // The entry's pppd runs (or its interface is up) without this object.
  bool UserLineUp(const std::string& entryName) const;

  Config config_;
  mutable std::mutex entriesLock_;
  std::map<std::string, DialupEntry> entries_;  // guarded by entriesLock_
  std::string currentEntry_;
  bool holding_ = false;                          // this object ran the dial command
  std::string interface_;                         // the ppp interface of the held line, once seen
  std::map<std::string, bool> interfacesBefore_;  // ppp interfaces before dialling
  int dialler_ = -1;  // a dial command still running when the line came up
};

}  // namespace qmr
