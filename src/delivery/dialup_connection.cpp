#include "delivery/dialup_connection.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/process.h"
#include "base/log_file.h"

extern char** environ;

namespace qmr {

namespace {

// Splits a pppd options or secrets file into lines of words: "#" starts a
// comment, quotes group words, a backslash escapes the next character.
std::vector<std::vector<std::string>> ReadWords(const std::string& path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (quote != 0) {
        if (c == quote) {
          quote = 0;
        } else {
          word += c;
        }
      } else if (c == '\\' && i + 1 < line.size()) {
        word += line[++i];
        inWord = true;
      } else if (c == '"' || c == '\'') {
        quote = c;
        inWord = true;
      } else if (c == '#' && !inWord) {
        break;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        if (inWord) words.push_back(word);
        word.clear();
        inWord = false;
      } else {
        word += c;
        inWord = true;
      }
    }
    if (inWord) words.push_back(word);
    if (!words.empty()) lines.push_back(std::move(words));
  }
  return lines;
}

bool SafeName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos;
}

// Runs command with one argument; the child's id, or -1 when it could not
// be started.
pid_t Spawn(const std::string& command, const std::string& argument) {
  std::vector<char*> argv = {const_cast<char*>(command.c_str()),
                             const_cast<char*>(argument.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, command.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Collects the child if it has ended. True when it has (or cannot be
// waited for); status then holds its exit status, -1 when unknown.
bool Reap(pid_t pid, int& status) {
  int raw = 0;
  const pid_t done = waitpid(pid, &raw, WNOHANG);
  if (done == 0) return false;
  status = (done == pid && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  return true;
}

}  // namespace

std::map<std::string, DialupEntry> DialupConnection::Entries() const {
  std::lock_guard<std::mutex> lock(entriesLock_);
  return entries_;
}

bool DialupConnection::RefreshEntries() {
  std::map<std::string, DialupEntry> entries;
  DIR* folder = opendir(config_.peersFolder.c_str());
  if (folder == nullptr) {
    std::lock_guard<std::mutex> lock(entriesLock_);
    entries_.clear();
    return false;
  }
  while (dirent* item = readdir(folder)) {
    const std::string name = item->d_name;
    if (!SafeName(name) || name.back() == '~') continue;
    struct stat st;
    const std::string path = config_.peersFolder + "/" + name;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    entries.emplace(name, DialupEntry{name});
  }
  closedir(folder);
  std::lock_guard<std::mutex> lock(entriesLock_);
  entries_ = std::move(entries);
  return !entries_.empty();
}

bool DialupConnection::HasStoredPassword(const std::string& entryName) const {
  if (!SafeName(entryName)) return false;
  std::string user;
  for (const auto& words : ReadWords(config_.peersFolder + "/" + entryName)) {
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
      if (words[i] == "password") return true;
      if (words[i] == "user") user = words[i + 1];
    }
  }
  if (user.empty()) {
    // Without a "user" option pppd authenticates under the host name.
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0) return false;
    user = host;
  }
  for (const std::string* secrets : {&config_.chapSecrets, &config_.papSecrets}) {
    for (const auto& words : ReadWords(*secrets)) {
      if (words.size() >= 3 && words[0] == user) return true;
    }
  }
  return false;
}

std::string DialupConnection::FindInterface() const {
  // pppd names the link's interface in its pid file when the peer sets
  // "linkname"; otherwise take a ppp interface that was not there before.
  std::ifstream pidFile(config_.runFolder + "/ppp-" + currentEntry_ + ".pid");
  std::string pidLine, name;
  if (std::getline(pidFile, pidLine) && std::getline(pidFile, name) && SafeName(name)) {
    struct stat st;
    if (stat((config_.netFolder + "/" + name).c_str(), &st) == 0) return name;
  }
  DIR* folder = opendir(config_.netFolder.c_str());
  if (folder == nullptr) return std::string();
  std::string found;
  while (dirent* item = readdir(folder)) {
    const std::string candidate = item->d_name;
    if (candidate.rfind("ppp", 0) == 0 && interfacesBefore_.count(candidate) == 0) {
      found = candidate;
      break;
    }
  }
  closedir(folder);
  return found;
}

bool DialupConnection::InterfaceUp(const std::string& name) const {
  if (!SafeName(name)) return false;
  std::ifstream flags(config_.netFolder + "/" + name + "/flags");
  std::string text;
  if (!(flags >> text)) return false;
  return (std::strtoul(text.c_str(), nullptr, 16) & 0x1) != 0;  // IFF_UP
}

bool DialupConnection::UserLineUp(const std::string& entryName) const {
  // pppd writes ppp-NAME.pid (its process, then the interface) while the
  // line of that entry is up.
  std::ifstream pidFile(config_.runFolder + "/ppp-" + entryName + ".pid");
  std::string pidLine, name;
  if (!std::getline(pidFile, pidLine)) return false;
  const long pid = std::strtol(pidLine.c_str(), nullptr, 10);
  if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) return true;
  return std::getline(pidFile, name) && InterfaceUp(name);
}

bool DialupConnection::Dial(const std::string& entryName, int* error) {
  if (holding_) return true;
  if (!RefreshEntries() || Entries().count(entryName) == 0) return false;
  if (!HasStoredPassword(entryName)) return false;
  if (UserLineUp(entryName)) {
    // Someone else started this line: use it, but never take it over, so it
    // is never hung up from here.
    return true;
  }

  interfacesBefore_.clear();
  if (DIR* folder = opendir(config_.netFolder.c_str())) {
    while (dirent* item = readdir(folder)) {
      const std::string name = item->d_name;
      if (name.rfind("ppp", 0) == 0) interfacesBefore_[name] = true;
    }
    closedir(folder);
  }
  currentEntry_ = entryName;
  interface_.clear();
  const pid_t pid = Spawn(config_.ponCommand, entryName);
  if (pid < 0) {
    if (error != nullptr) *error = -1;
    return false;
  }
  // From here on a half-made line may exist: the caller's HangUp clears it.
  holding_ = true;
  bool running = true;
  int status = 0;
  const std::uint32_t start = TickCount();
  for (;;) {
    if (running && !Reap(pid, status)) {
      // still dialling
    } else if (running) {
      running = false;
      if (status != 0 && status != -1) {
        if (error != nullptr) *error = status;
        return false;
      }
    }
    const std::string name = FindInterface();
    if (!name.empty() && InterfaceUp(name)) {
      interface_ = name;
      if (running) dialler_ = pid;
      return true;
    }
    if (TickCount() - start >= static_cast<std::uint32_t>(config_.dialTimeoutMs) ||
        StopFlag.load() != 0) {
      break;
    }
    SleepMs(50);
  }
  if (running) dialler_ = pid;
  if (error != nullptr) *error = -1;
  return false;
}

bool DialupConnection::IsDialled() const {
  return holding_ && !interface_.empty() && InterfaceUp(interface_);
}

bool DialupConnection::HangUp() {
  if (!holding_) return false;
  const pid_t pid = Spawn(config_.poffCommand, currentEntry_);
  if (pid >= 0) {
    int status = 0;
    const std::uint32_t start = TickCount();
    bool ended = false;
    for (;;) {
      if (!ended) ended = Reap(pid, status);
      const bool gone = interface_.empty() || !InterfaceUp(interface_);
      if (ended && gone) break;
      if (TickCount() - start >= static_cast<std::uint32_t>(config_.hangUpTimeoutMs)) {
        LogFile::Write("Dial-up line " + currentEntry_ + " did not go down in time");
        break;
      }
      SleepMs(20);
    }
  }
  if (dialler_ > 0) {
    int status = 0;
    Reap(dialler_, status);
    dialler_ = -1;
  }
  holding_ = false;
  interface_.clear();
  return true;
}

}  // namespace qmr
