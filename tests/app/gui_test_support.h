// Helpers shared by the GUI tests: a temporary home folder and an event pump.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/utils.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "base/process.h"

namespace qmr::test {

// Processes pending events, CallAfter calls, timers and idle work until done()
// holds or timeoutMs passed. Returns done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
    if (done()) return true;
    wxMilliSleep(10);
  }
  return done();
}

// A fresh home folder for each test, used as ApplicationFolder.
class HomeFolder {
 public:
  HomeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qmr_app_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    SetApplicationFolder(path_);
  }
  ~HomeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(File(name)) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(File(name));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

}  // namespace qmr::test
