// File > Cameras...: every camera the program knows. The local devices are
// listed read-only; the cameras of the STREAMS section (network cameras,
// video files, test patterns) can be added, edited, removed and tried with
// "Test", which opens the source on a worker thread and shows one picture or
// the error.
#pragma once

#include <wx/dialog.h>
#include <wx/image.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/streams_section.h"

class wxButton;
class wxChoice;
class wxListCtrl;
class wxListEvent;
class wxStaticBitmap;
class wxStaticText;
class wxTextCtrl;

namespace qmr {

// A local device row: its name and device node.
struct LocalCameraRow {
  std::string name;
  std::string device;
};

enum class StreamKind { Network, File, Pattern };

// Which kind a STREAMS value is, and the value without "pattern" for a test
// pattern (its parameters).
StreamKind StreamKindOf(const std::string& value, std::string* parameters = nullptr);
// The STREAMS value of a kind and the text typed in the source field.
std::string StreamValue(StreamKind kind, const std::string& typed);

// Adds or edits one listed camera: name, kind and source.
class CameraSourceDialog : public wxDialog {
 public:
  CameraSourceDialog(wxWindow* parent, const StreamListing& listing);
  // The values; for tests, which fill the fields and press OK themselves.
  void SetFields(const std::string& name, StreamKind kind, const std::string& source);
  StreamListing Listing() const;
  // Checks the fields; shows the problem and returns false when they are bad.
  bool Validate() override;

 private:
  void OnKind();
  void OnBrowse();

  wxTextCtrl* name_ = nullptr;
  wxChoice* kind_ = nullptr;
  wxTextCtrl* source_ = nullptr;
  wxButton* browse_ = nullptr;
  wxStaticText* hint_ = nullptr;
};

class CameraManagerDialog : public wxDialog {
 public:
  // How long "Test" waits for the first picture.
  static constexpr int kTestTimeoutMs = 10000;

  CameraManagerDialog(wxWindow* parent, std::vector<LocalCameraRow> locals,
                      std::vector<StreamListing> streams);
  ~CameraManagerDialog() override;

  // The listed cameras as they are now (what OK stores).
  const std::vector<StreamListing>& Streams() const { return streams_; }

  // What the buttons do, for tests: row indexes count the local rows first.
  void AddStream(const StreamListing& listing);
  void ReplaceStream(int row, const StreamListing& listing);
  void RemoveRow(int row);
  void SelectRow(int row);
  int SelectedRow() const;
  // Starts the test of a row (false for a local row or while a test runs).
  bool StartTest(int row);
  bool TestRunning() const { return testing_; }
  // The result shown below the list: "" while none; a picture's size or the
  // error text.
  std::string TestResult() const { return testResult_; }
  bool TestShowsPicture() const { return testPicture_; }

 private:
  struct TestRun;

  void Refill();
  void UpdateButtons();
  bool IsLocalRow(int row) const { return row >= 0 && row < static_cast<int>(locals_.size()); }
  int StreamIndex(int row) const { return row - static_cast<int>(locals_.size()); }
  void OnAdd();
  void OnEdit();
  void OnRemove();
  void OnTest();
  void OnOk();
  void FinishTest(const std::shared_ptr<TestRun>& run);
  void JoinTest();

  std::vector<LocalCameraRow> locals_;
  std::vector<StreamListing> streams_;
  wxListCtrl* list_ = nullptr;
  wxButton* edit_ = nullptr;
  wxButton* remove_ = nullptr;
  wxButton* test_ = nullptr;
  wxStaticBitmap* preview_ = nullptr;
  wxStaticText* status_ = nullptr;

  std::thread worker_;
  std::shared_ptr<TestRun> run_;
  bool testing_ = false;
  std::string testResult_;
  bool testPicture_ = false;
};

}  // namespace qmr
