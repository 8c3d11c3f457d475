#include "dialogs/camera_manager_dialog.h"

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/process.h"
#include "capture/camera_entry.h"
#include "capture/frame_source.h"
#include "dialogs/dialog_support.h"

namespace qmr {

namespace {

constexpr int kPreviewWidth = 240;
constexpr int kPreviewHeight = 180;

const char* const kKindNames[] = {"Network camera (rtsp:// or http:// URL)", "Video file",
                                  "Test pattern"};
const char* const kKindShort[] = {"Network camera", "Video file", "Test pattern"};

const char* HintOf(StreamKind kind) {
  switch (kind) {
    case StreamKind::Network:
      return "For example rtsp://192.0.2.10/stream1 or http://192.0.2.10/video.mjpg";
    case StreamKind::File:
      return "A video file; it plays in a loop.";
    case StreamKind::Pattern:
      return "Optional: size, rate, seconds of motion and stillness, e.g. 640x480@15 motion=4 "
             "still=6";
  }
  return "";
}

// Collects the first picture a source delivers, or why it ended.
class FirstPictureSink : public SampleSink {
 public:
  void OnSample(const std::uint8_t* topDownBgr, int width, int height, int stride) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_) return;
    rgb_.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = topDownBgr + static_cast<std::ptrdiff_t>(y) * stride;
      std::uint8_t* out = rgb_.data() + static_cast<std::size_t>(y) * width * 3;
      for (int x = 0; x < width; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
      }
    }
    width_ = width;
    height_ = height;
    done_ = true;
    wake_.notify_all();
  }
  void OnSourceEnded(const std::string& reason) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_) return;
    error_ = reason.empty() ? "The source ended without a picture." : reason;
    done_ = true;
    wake_.notify_all();
  }
  // Waits until a picture or an end came, the time ran out or cancel is set.
  void Wait(int timeoutMs, const std::atomic<bool>& cancel) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_ && !cancel.load() && std::chrono::steady_clock::now() < deadline) {
      wake_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
  void Take(std::vector<std::uint8_t>& rgb, int& width, int& height, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    rgb.swap(rgb_);
    width = width_;
    height = height_;
    error = error_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::vector<std::uint8_t> rgb_;
  int width_ = 0, height_ = 0;
  std::string error_;
};

}  // namespace

// What the test worker hands back; the dialog reads it after the worker ends.
struct CameraManagerDialog::TestRun {
  std::atomic<bool> cancel{false};
  std::string name;
  std::string value;
  std::vector<std::uint8_t> rgb;
  int width = 0, height = 0;
  std::string error;
};

StreamKind StreamKindOf(const std::string& value, std::string* parameters) {
  const std::string trimmed = TrimSpaces(value);
  const std::string lower = LowerAscii(trimmed);
  if (lower == "pattern" || lower.rfind("pattern ", 0) == 0) {
    if (parameters) *parameters = TrimSpaces(trimmed.substr(7));
    return StreamKind::Pattern;
  }
  if (parameters) *parameters = trimmed;
  if (trimmed.empty()) return StreamKind::Network;  // a new camera
  if (lower.find("://") != std::string::npos && lower.rfind("file://", 0) != 0) {
    return StreamKind::Network;
  }
  return StreamKind::File;
}

std::string StreamValue(StreamKind kind, const std::string& typed) {
  const std::string text = TrimSpaces(typed);
  if (kind != StreamKind::Pattern) return text;
  return text.empty() ? "pattern" : "pattern " + text;
}

// ---- one camera ------------------------------------------------------------

CameraSourceDialog::CameraSourceDialog(wxWindow* parent, const StreamListing& listing)
    : wxDialog(parent, wxID_ANY, listing.first.empty() ? "Add a camera" : "Edit a camera",
               wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  auto* grid = NewFieldGrid(2, 8);
  std::string parameters;
  const StreamKind kind = StreamKindOf(listing.second, &parameters);
  name_ = AddLabelledField(this, grid, "&Name:", "NAME", listing.first, 360);
  grid->Add(new wxStaticText(this, wxID_ANY, "&Type:"), 0, wxALIGN_CENTER_VERTICAL);
  kind_ = new wxChoice(this, wxID_ANY);
  for (const char* k : kKindNames) kind_->Append(k);
  kind_->SetSelection(static_cast<int>(kind));
  grid->Add(kind_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "&Source:"), 0, wxALIGN_CENTER_VERTICAL);
  auto* sourceRow = new wxBoxSizer(wxHORIZONTAL);
  source_ = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(parameters), wxDefaultPosition,
                           wxSize(360, -1));
  source_->SetName("SOURCE");
  browse_ = new wxButton(this, wxID_ANY, "&Browse...");
  sourceRow->Add(source_, 1, wxALIGN_CENTER_VERTICAL);
  sourceRow->Add(browse_, 0, wxLEFT | wxALIGN_CENTER_VERTICAL, 6);
  grid->Add(sourceRow, 1, wxEXPAND);
  grid->AddSpacer(1);
  hint_ = new wxStaticText(this, wxID_ANY, "");
  hint_->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT));
  grid->Add(hint_, 1, wxEXPAND);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(grid, 1, wxEXPAND | wxALL, 10);
  AddOkCancelRow(this, top, wxID_OK, wxID_CANCEL, wxLEFT | wxRIGHT | wxBOTTOM);
  OnKind();
  SetSizerAndFit(top);
  CentreOnParent();

  kind_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnKind(); });
  browse_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(); });
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) {
        if (Validate()) FinishDialog(this, wxID_OK);
      },
      wxID_OK);
}

void CameraSourceDialog::SetFields(const std::string& name, StreamKind kind,
                                   const std::string& source) {
  name_->ChangeValue(wxString::FromUTF8(name));
  kind_->SetSelection(static_cast<int>(kind));
  source_->ChangeValue(wxString::FromUTF8(source));
  OnKind();
}

StreamListing CameraSourceDialog::Listing() const {
  const auto kind = static_cast<StreamKind>(std::max(0, kind_->GetSelection()));
  return {TrimmedText(name_), StreamValue(kind, TrimmedText(source_))};
}

bool CameraSourceDialog::Validate() {
  const std::string problem = StreamListingProblem(Listing());
  if (problem.empty()) return true;
  wxMessageBox(wxString::FromUTF8(problem), "Camera", wxOK | wxICON_WARNING, this);
  return false;
}

void CameraSourceDialog::OnKind() {
  const auto kind = static_cast<StreamKind>(std::max(0, kind_->GetSelection()));
  browse_->Enable(kind == StreamKind::File);
  hint_->SetLabel(HintOf(kind));
}

void CameraSourceDialog::OnBrowse() {
  wxFileDialog chooser(this, "Choose a video file", "", "",
                       "Video files (*.mp4;*.mkv;*.avi;*.mov;*.webm;*.mjpg)|"
                       "*.mp4;*.mkv;*.avi;*.mov;*.webm;*.mjpg;*.MP4;*.MKV;*.AVI;*.MOV|"
                       "All files|*",
                       wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (chooser.ShowModal() != wxID_OK) return;
  source_->ChangeValue(chooser.GetPath());
  if (TrimmedText(name_).empty()) name_->ChangeValue(wxFileName(chooser.GetPath()).GetName());
}

// ---- the camera list -------------------------------------------------------

CameraManagerDialog::CameraManagerDialog(wxWindow* parent, std::vector<LocalCameraRow> locals,
                                         std::vector<StreamListing> streams)
    : wxDialog(parent, wxID_ANY, "Cameras", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      locals_(std::move(locals)),
      streams_(std::move(streams)) {
  list_ = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(560, 220),
                         wxLC_REPORT | wxLC_SINGLE_SEL);
  list_->AppendColumn("Name", wxLIST_FORMAT_LEFT, 150);
  list_->AppendColumn("Type", wxLIST_FORMAT_LEFT, 120);
  list_->AppendColumn("Source", wxLIST_FORMAT_LEFT, 280);

  auto* add = new wxButton(this, wxID_ANY, "&Add...");
  edit_ = new wxButton(this, wxID_ANY, "&Edit...");
  remove_ = new wxButton(this, wxID_ANY, "&Remove");
  test_ = new wxButton(this, wxID_ANY, "&Test");
  auto* buttons = new wxBoxSizer(wxVERTICAL);
  for (wxButton* b : {add, edit_, remove_, test_}) buttons->Add(b, 0, wxEXPAND | wxBOTTOM, 6);

  auto* listRow = new wxBoxSizer(wxHORIZONTAL);
  listRow->Add(list_, 1, wxEXPAND | wxRIGHT, 8);
  listRow->Add(buttons, 0);

  wxImage blank(kPreviewWidth, kPreviewHeight);
  blank.SetRGB(wxRect(0, 0, kPreviewWidth, kPreviewHeight), 64, 64, 64);
  preview_ = new wxStaticBitmap(this, wxID_ANY, wxBitmap(blank));
  status_ = new wxStaticText(this, wxID_ANY,
                             "Local devices are found by themselves and cannot be changed here.\n"
                             "Select a listed camera and press Test to see one picture.");
  auto* testRow = new wxBoxSizer(wxHORIZONTAL);
  testRow->Add(preview_, 0);
  testRow->Add(status_, 1, wxLEFT | wxEXPAND, 10);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(listRow, 1, wxEXPAND | wxALL, 10);
  top->Add(testRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  AddOkCancelRow(this, top, wxID_OK, wxID_CANCEL, wxLEFT | wxRIGHT | wxBOTTOM);
  SetSizerAndFit(top);
  CentreOnParent();
  Refill();

  add->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); });
  edit_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnEdit(); });
  remove_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnRemove(); });
  test_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnTest(); });
  list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { UpdateButtons(); });
  list_->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent&) { UpdateButtons(); });
  list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnEdit(); });
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { OnOk(); }, wxID_OK);
}

CameraManagerDialog::~CameraManagerDialog() {
  if (run_) run_->cancel.store(true);
  JoinTest();
}

void CameraManagerDialog::JoinTest() {
  if (worker_.joinable()) worker_.join();
}

void CameraManagerDialog::Refill() {
  const int selected = SelectedRow();
  list_->DeleteAllItems();
  const wxColour grey = wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT);
  long row = 0;
  for (const LocalCameraRow& local : locals_) {
    list_->InsertItem(row, wxString::FromUTF8(local.name));
    list_->SetItem(row, 1, "Local device");
    list_->SetItem(row, 2, wxString::FromUTF8(local.device));
    list_->SetItemTextColour(row, grey);
    ++row;
  }
  for (const StreamListing& s : streams_) {
    std::string parameters;
    const StreamKind kind = StreamKindOf(s.second, &parameters);
    list_->InsertItem(row, wxString::FromUTF8(s.first));
    list_->SetItem(row, 1, kKindShort[static_cast<int>(kind)]);
    list_->SetItem(row, 2, wxString::FromUTF8(s.second));
    ++row;
  }
  if (selected >= 0 && selected < list_->GetItemCount()) SelectRow(selected);
  UpdateButtons();
}

void CameraManagerDialog::SelectRow(int row) {
  if (row < 0 || row >= list_->GetItemCount()) return;
  list_->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                      wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  list_->EnsureVisible(row);
  UpdateButtons();
}

int CameraManagerDialog::SelectedRow() const {
  return static_cast<int>(list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
}

void CameraManagerDialog::UpdateButtons() {
  const int row = SelectedRow();
  const bool listed = row >= 0 && !IsLocalRow(row);
  edit_->Enable(listed);
  remove_->Enable(listed);
  test_->Enable(listed && !testing_);
}

void CameraManagerDialog::AddStream(const StreamListing& listing) {
  streams_.push_back(listing);
  Refill();
  SelectRow(static_cast<int>(locals_.size() + streams_.size()) - 1);
}

void CameraManagerDialog::ReplaceStream(int row, const StreamListing& listing) {
  if (row < 0 || IsLocalRow(row) || StreamIndex(row) >= static_cast<int>(streams_.size())) return;
  streams_[StreamIndex(row)] = listing;
  Refill();
}

void CameraManagerDialog::RemoveRow(int row) {
  if (row < 0 || IsLocalRow(row) || StreamIndex(row) >= static_cast<int>(streams_.size())) return;
  streams_.erase(streams_.begin() + StreamIndex(row));
  Refill();
}

void CameraManagerDialog::OnAdd() {
  CameraSourceDialog dialog(this, {"", ""});
  if (dialog.ShowModal() != wxID_OK) return;
  AddStream(dialog.Listing());
}

void CameraManagerDialog::OnEdit() {
  const int row = SelectedRow();
  if (row < 0 || IsLocalRow(row)) return;
  CameraSourceDialog dialog(this, streams_[StreamIndex(row)]);
  if (dialog.ShowModal() != wxID_OK) return;
  ReplaceStream(row, dialog.Listing());
}

void CameraManagerDialog::OnRemove() { RemoveRow(SelectedRow()); }

void CameraManagerDialog::OnTest() { StartTest(SelectedRow()); }

bool CameraManagerDialog::StartTest(int row) {
  if (testing_ || row < 0 || IsLocalRow(row) ||
      StreamIndex(row) >= static_cast<int>(streams_.size())) {
    return false;
  }
  JoinTest();
  run_ = std::make_shared<TestRun>();
  run_->name = streams_[StreamIndex(row)].first;
  run_->value = streams_[StreamIndex(row)].second;
  testing_ = true;
  testResult_.clear();
  testPicture_ = false;
  status_->SetLabel(wxString::FromUTF8("Opening " + run_->value + " ..."));
  UpdateButtons();
  std::shared_ptr<TestRun> run = run_;
  worker_ = std::thread([this, run] {
    CameraEntry entry;
    entry.name = run->name;
    entry.friendlyName = run->name;
    std::string parameters;
    const StreamKind kind = StreamKindOf(run->value, &parameters);
    entry.kind = kind == StreamKind::Pattern ? SourceKind::Pattern : SourceKind::Stream;
    entry.source = run->value;
    std::unique_ptr<FrameSource> source = CreateFrameSource(entry);
    FirstPictureSink sink;
    if (!source || !source->Open()) {
      run->error = "The source cannot be opened.";
    } else if (!source->Start(sink)) {
      run->error = "The source cannot be started.";
      source->Close();
    } else {
      sink.Wait(kTestTimeoutMs, run->cancel);
      source->Stop();
      source->Close();
      sink.Take(run->rgb, run->width, run->height, run->error);
      if (run->rgb.empty() && run->error.empty()) {
        run->error = "No picture came within " + std::to_string(kTestTimeoutMs / 1000) + " s.";
      }
    }
    // The dialog waits for this thread before it goes, so it still exists.
    if (!run->cancel.load()) CallAfter([this, run] { FinishTest(run); });
  });
  return true;
}

void CameraManagerDialog::FinishTest(const std::shared_ptr<TestRun>& run) {
  JoinTest();
  testing_ = false;
  if (!run->rgb.empty() && run->width > 0 && run->height > 0) {
    wxImage image(run->width, run->height, false);
    std::copy(run->rgb.begin(), run->rgb.end(), image.GetData());
    const double scale = std::min(static_cast<double>(kPreviewWidth) / run->width,
                                  static_cast<double>(kPreviewHeight) / run->height);
    const int w = std::max(1, static_cast<int>(run->width * scale));
    const int h = std::max(1, static_cast<int>(run->height * scale));
    wxImage shown(kPreviewWidth, kPreviewHeight);
    shown.SetRGB(wxRect(0, 0, kPreviewWidth, kPreviewHeight), 64, 64, 64);
    shown.Paste(image.Scale(w, h, wxIMAGE_QUALITY_HIGH), (kPreviewWidth - w) / 2,
                (kPreviewHeight - h) / 2);
    preview_->SetBitmap(wxBitmap(shown));
    testPicture_ = true;
    testResult_ = run->name + ": " + std::to_string(run->width) + " x " +
                  std::to_string(run->height) + " picture received.";
  } else {
    testResult_ = run->name + ": " + run->error;
  }
  status_->SetLabel(wxString::FromUTF8(testResult_));
  status_->Wrap(FromDIP(300));
  Layout();
  UpdateButtons();
}

void CameraManagerDialog::OnOk() {
  std::vector<std::string> names;
  for (const StreamListing& s : streams_) {
    const std::string problem = StreamListingProblem(s);
    if (!problem.empty()) {
      wxMessageBox(wxString::FromUTF8(problem), "Cameras", wxOK | wxICON_WARNING, this);
      return;
    }
    for (const std::string& n : names) {
      if (n == TrimSpaces(s.first)) {
        wxMessageBox(wxString::FromUTF8("Two cameras are called \"" + n + "\"."), "Cameras",
                     wxOK | wxICON_WARNING, this);
        return;
      }
    }
    names.push_back(TrimSpaces(s.first));
  }
  if (run_) run_->cancel.store(true);
  FinishDialog(this, wxID_OK);
}

}  // namespace qmr
