// Reader and writer of the settings file: "[SECTION]" headers, "KEY=value"
// lines and "#" comments. Loads the whole file, answers typed lookups, records
// changes and writes the whole document back on Save.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace qmr {

struct IniEntry {
  std::string key;
  std::string value;
  std::string comment;
};

struct IniSection {
  std::string name;
  std::string comment;
  std::vector<std::unique_ptr<IniEntry>> entries;
  std::unordered_map<std::string, IniEntry*> index;

  IniEntry* Find(const std::string& key) const;
};

class IniFile {
 public:
  IniFile() = default;
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  bool Load(const std::string& path);
  // Saves to path (or the stored path when empty). False when nothing
  // changed, there is no path, the document is empty or writing fails. The
  // document goes to a temporary file beside the settings file, is flushed to
  // the disk and then renamed over the old file, so a failed save leaves the
  // old file as it was.
  bool Save(const std::string& path = std::string());
  // Why the last save that tried to write failed (empty after a success).
  const std::string& LastSaveError() const { return saveError_; }
  // Called with the reason whenever a save fails to write the file (not when
  // there was nothing to save), so the owner can tell the user.
  void SetSaveFailureHandler(std::function<void(const std::string&)> handler) {
    onSaveFailure_ = std::move(handler);
  }

  bool GetString(const std::string& section, const std::string& key, const std::string& def,
                 std::string& value, std::string* comment = nullptr) const;
  bool GetInt(const std::string& section, const std::string& key, int def, int& value) const;
  bool GetTriple(const std::string& section, const std::string& key, int defA, int defB, int defC,
                 std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) const;
  // Number of keys in the section; 0 when absent or the name is empty.
  int GetKeyCount(const std::string& section) const;
  // The keys of a section in file order (empty when the section is absent);
  // for sections whose keys are names, such as the listed stream cameras.
  std::vector<std::string> GetKeys(const std::string& section) const {
    std::vector<std::string> keys;
    if (const IniSection* sec = FindSection(section)) {
      for (const auto& entry : sec->entries) {
        if (entry && !entry->key.empty()) keys.push_back(entry->key);
      }
    }
    return keys;
  }

  bool SetString(const std::string& section, const std::string& key, const std::string& value,
                 const std::string* comment = nullptr);
  bool SetInt(const std::string& section, const std::string& key, int value,
              const std::string* comment = nullptr);
  bool SetTriple(const std::string& section, const std::string& key, int a, int b, int c,
                 const std::string* comment = nullptr);

  bool Modified() const { return modified_; }
  const std::string& Path() const { return path_; }

 private:
  IniSection* FindSection(const std::string& name) const;
  IniEntry* FindEntry(const std::string& section, const std::string& key) const;
  IniEntry* WriteEntry(const std::string& section, const std::string& key);
  bool WriteFile(const std::string& text);

  std::string path_;
  std::vector<std::unique_ptr<IniSection>> sections_;
  std::unordered_map<std::string, IniSection*> index_;
  bool modified_ = false;
  std::string saveError_;
  std::function<void(const std::string&)> onSaveFailure_;
};

// How a value is written to the file so that it reads back unchanged: a "#"
// that would start a comment (at the start or after a blank) or that follows
// a backslash gets a backslash before it. UnescapeIniValue undoes it by
// dropping one backslash before every "#".
std::string EscapeIniValue(const std::string& value);
std::string UnescapeIniValue(const std::string& value);

}  // namespace qmr
