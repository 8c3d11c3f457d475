#include "config/ini_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/process.h"

namespace qmr {

namespace {

// Holds an fcntl byte-range lock over the whole file for its lifetime, so
// that no other process changes the file while we read or write it.
class FileRangeLock {
 public:
  FileRangeLock(int fd, short type) : fd_(fd) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end of the file, however it grows
    while (fcntl(fd_, F_SETLKW, &fl) == -1 && errno == EINTR) {
    }
  }
  ~FileRangeLock() {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fcntl(fd_, F_SETLK, &fl);
  }
  FileRangeLock(const FileRangeLock&) = delete;
  FileRangeLock& operator=(const FileRangeLock&) = delete;

 private:
  int fd_;
};

// Reads a decimal integer the way "%d" does: leading white space, an optional
// sign, digits up to the first other character. Out-of-range numbers are
// clamped instead of being undefined.
bool ParseInt(const char*& p, int& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(p, &end, 10);
  if (end == p) return false;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  out = static_cast<int>(v);
  p = end;
  return true;
}

// A value must stay on its own line in the file. A tab would read back as a
// blank (the reader turns the first tab of a value into one), so tabs become
// blanks at once and what is held in memory is what the file gives back.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where the comment of a line starts: the first "#" at the line start or
// after a blank; npos when the line has none. A "#" inside a word ("a#b", or
// the escaped "\#") belongs to the value.
std::size_t CommentStart(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || IsBlank(line[i - 1]))) return i;
  }
  return std::string::npos;
}

std::string ErrorText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Narrows an existing backup to its owner: it holds the scrambled passwords.
void NarrowBackup(const std::string& backup) {
  struct stat st;
  if (lstat(backup.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0077) != 0)
    chmod(backup.c_str(), 0600);
}

// Keeps the settings file as "<path>.bak" unless a backup already exists: the
// backup holds the settings as they were before the first save. A hard link
// refuses an existing name and leaves the file itself in place, so the new
// file can then be renamed over it; where links are not possible the file is
// copied.
void KeepFirstBackup(const std::string& path) {
  const std::string backup = path + ".bak";
  if (link(path.c_str(), backup.c_str()) == 0 || errno == EEXIST) {
    NarrowBackup(backup);
    return;
  }
  struct stat st;
  if (lstat(backup.c_str(), &st) == 0) return;
  int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  int out = open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out >= 0) {
    char buf[8192];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(in, buf, sizeof(buf))) != 0) {
      if (n < 0) {
        ok = errno == EINTR;
        continue;
      }
      ok = WriteAll(out, std::string(buf, static_cast<std::size_t>(n)));
    }
    if (close(out) != 0) ok = false;
    if (!ok) unlink(backup.c_str());
  }
  close(in);
}

// The file a save replaces: a symbolic link is followed so that the link
// itself stays in place.
std::string SaveTarget(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      std::string target = real;
      std::free(real);
      return target;
    }
  }
  return path;
}

}  // namespace

IniEntry* IniSection::Find(const std::string& key) const {
  auto it = index.find(key);
  return it == index.end() ? nullptr : it->second;
}

IniSection* IniFile::FindSection(const std::string& name) const {
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : it->second;
}

IniEntry* IniFile::FindEntry(const std::string& section, const std::string& key) const {
  const std::string s = TrimSpaces(section);
  const std::string k = TrimSpaces(key);
  if (s.empty() || k.empty()) return nullptr;
  IniSection* sec = FindSection(s);
  return sec ? sec->Find(k) : nullptr;
}

bool IniFile::Load(const std::string& path) {
  const std::string trimmed = TrimSpaces(path);
  if (trimmed.empty()) return false;
  path_ = trimmed;
  sections_.clear();
  index_.clear();

  int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return false;
  }
  FILE* file = fdopen(fd, "r");
  if (!file) {
    close(fd);
    return false;
  }
  {
    FileRangeLock lock(fd, F_RDLCK);
    IniSection* current = nullptr;
    // A repeated section becomes current but is not kept: its keys are
    // dropped with it.
    std::unique_ptr<IniSection> dropped;
    char* raw = nullptr;
    std::size_t rawSize = 0;
    ssize_t n;
    while ((n = getline(&raw, &rawSize, file)) >= 0) {
      std::string line(raw, static_cast<std::size_t>(n));
      std::size_t cut = line.find_first_of("\r\n");
      if (cut != std::string::npos) line.resize(cut);
      std::string comment;
      std::size_t hash = CommentStart(line);
      if (hash != std::string::npos) {
        comment = TrimSpaces(line.substr(hash + 1));
        // The blanks before a comment separate it from the value; they are
        // no part of the value.
        while (hash > 0 && IsBlank(line[hash - 1])) --hash;
        line.resize(hash);
      }
      std::size_t eq = line.find('=');
      if (current && eq != std::string::npos) {
        std::string key = TrimSpaces(line.substr(0, eq));
        std::string value = line.substr(eq + 1);
        std::size_t tab = value.find('\t');
        if (tab != std::string::npos) value[tab] = ' ';
        value = UnescapeIniValue(TrimSpaces(value));
        if (key.empty() || current->Find(key)) continue;
        auto entry = std::make_unique<IniEntry>();
        entry->key = key;
        entry->value = value;
        entry->comment = comment;
        current->index.emplace(key, entry.get());
        current->entries.push_back(std::move(entry));
        continue;
      }
      std::size_t open = line.find('[');
      std::size_t close = line.find(']');
      // "[X]" with a one-character name is no header; two characters are.
      if (open == std::string::npos || close == std::string::npos || close < open + 3) continue;
      std::string name = line.substr(open + 1, close - open - 1);
      std::size_t tab = name.find('\t');
      if (tab != std::string::npos) name.resize(tab);
      name = TrimSpaces(name);
      if (name.empty()) continue;
      auto section = std::make_unique<IniSection>();
      section->name = name;
      section->comment = comment;
      current = section.get();
      if (FindSection(name)) {
        dropped = std::move(section);
      } else {
        index_.emplace(name, section.get());
        sections_.push_back(std::move(section));
      }
    }
    std::free(raw);
  }
  std::fclose(file);
  modified_ = false;
  return true;
}

bool IniFile::Save(const std::string& path) {
  const std::string given = TrimSpaces(path);
  if (given.empty() && path_.empty()) return false;
  if (!modified_) return false;
  if (!given.empty()) path_ = given;
  if (sections_.empty()) return false;

  std::string text;
  for (const auto& section : sections_) {
    if (section->name.empty()) continue;
    text += "\n[" + section->name + "]";
    if (!section->comment.empty()) text += "\t\t\t#" + section->comment;
    text += '\n';
    for (const auto& entry : section->entries) {
      if (entry->key.empty()) continue;
      text += entry->key + "=" + EscapeIniValue(entry->value);
      if (!entry->comment.empty()) text += "\t\t\t#" + entry->comment;
      text += '\n';
    }
  }

  if (!WriteFile(text)) {
    if (onSaveFailure_) onSaveFailure_(saveError_);
    return false;
  }
  saveError_.clear();
  modified_ = false;
  return true;
}

bool IniFile::WriteFile(const std::string& text) {
  const std::string target = SaveTarget(path_);
  const std::size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  // The file holds the scrambled passwords: only its owner may read it.
  std::string temp = target + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    saveError_ = ErrorText(folder, errno);
    return false;
  }
  fchmod(fd, 0600);
  bool ok = WriteAll(fd, text) && fsync(fd) == 0;
  int err = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
      KeepFirstBackup(target);
    ok = rename(temp.c_str(), target.c_str()) == 0;
    err = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    saveError_ = ErrorText(target, err);
    return false;
  }
  // The rename itself reaches the disk with the folder.
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool IniFile::GetString(const std::string& section, const std::string& key, const std::string& def,
                        std::string& value, std::string* comment) const {
  value = def;
  const IniEntry* entry = FindEntry(section, key);
  if (!entry) return false;
  value = entry->value;
  if (comment) *comment = entry->comment;
  return true;
}

bool IniFile::GetInt(const std::string& section, const std::string& key, int def,
                     int& value) const {
  value = def;
  const IniEntry* entry = FindEntry(section, key);
  if (!entry || entry->value.empty()) return false;
  const char* p = entry->value.c_str();
  return ParseInt(p, value);
}

bool IniFile::GetTriple(const std::string& section, const std::string& key, int defA, int defB,
                        int defC, std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) const {
  a = static_cast<std::uint8_t>(defA);
  b = static_cast<std::uint8_t>(defB);
  c = static_cast<std::uint8_t>(defC);
  const IniEntry* entry = FindEntry(section, key);
  if (!entry || entry->value.empty()) return false;
  // All three numbers or none: a partial value keeps the defaults.
  int v[3];
  const char* p = entry->value.c_str();
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (*p != ':') return false;
      ++p;
    }
    if (!ParseInt(p, v[i])) return false;
  }
  a = static_cast<std::uint8_t>(v[0]);
  b = static_cast<std::uint8_t>(v[1]);
  c = static_cast<std::uint8_t>(v[2]);
  return true;
}

int IniFile::GetKeyCount(const std::string& section) const {
  const std::string s = TrimSpaces(section);
  if (s.empty()) return 0;
  const IniSection* sec = FindSection(s);
  return sec ? static_cast<int>(sec->entries.size()) : 0;
}

IniEntry* IniFile::WriteEntry(const std::string& section, const std::string& key) {
  const std::string s = TrimSpaces(section);
  const std::string k = TrimSpaces(key);
  if (s.empty() || k.empty()) return nullptr;
  modified_ = true;
  IniSection* sec = FindSection(s);
  if (!sec) {
    auto created = std::make_unique<IniSection>();
    created->name = s;
    sec = created.get();
    index_.emplace(s, sec);
    sections_.push_back(std::move(created));
  }
  IniEntry* entry = sec->Find(k);
  if (!entry) {
    auto created = std::make_unique<IniEntry>();
    created->key = k;
    entry = created.get();
    sec->index.emplace(k, entry);
    sec->entries.push_back(std::move(created));
  }
  return entry;
}

bool IniFile::SetString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string* comment) {
  IniEntry* entry = WriteEntry(section, key);
  if (!entry) return false;
  entry->value = TrimSpaces(OneLine(value));
  entry->comment = comment ? TrimSpaces(OneLine(*comment)) : std::string();
  return true;
}

bool IniFile::SetInt(const std::string& section, const std::string& key, int value,
                     const std::string* comment) {
  return SetString(section, key, std::to_string(value), comment);
}

bool IniFile::SetTriple(const std::string& section, const std::string& key, int a, int b, int c,
                        const std::string* comment) {
  char text[48];
  std::snprintf(text, sizeof(text), "%d:%d:%d", a & 0xFF, b & 0xFF, c & 0xFF);
  return SetString(section, key, text, comment);
}

std::string EscapeIniValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '#' && (i == 0 || IsBlank(value[i - 1]) || value[i - 1] == '\\')) out += '\\';
    out += value[i];
  }
  return out;
}

std::string UnescapeIniValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '#') continue;
    out += value[i];
  }
  return out;
}

}  // namespace qmr
