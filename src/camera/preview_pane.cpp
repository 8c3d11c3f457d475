#include "camera/preview_pane.h"

#include <wx/dcclient.h>
#include <wx/image.h>

#include "capture/capture_device.h"

namespace qmr {

PreviewPane::PreviewPane(wxWindow* parent)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      refreshPending_(std::make_shared<std::atomic<bool>>(false)) {
  // Every paint covers the whole client area, so no background erase.
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetBackgroundColour(*wxBLACK);
  stampFont_ = wxFont(wxFontInfo(wxSize(0, 15)).Family(wxFONTFAMILY_TELETYPE));
  Bind(wxEVT_PAINT, &PreviewPane::OnPaint, this);
  Bind(wxEVT_SIZE, &PreviewPane::OnSize, this);
}

PreviewPane::~PreviewPane() { Detach(); }

bool PreviewPane::Attach(CaptureDevice& device) {
  Detach();
  renderer_ = &device.Preview();
  // The callback owns a reference to the flag, so it stays valid even if a
  // callback is still on its way when the pane goes (Detach waits for the
  // renderer, and wx drops the queued call together with the window).
  auto pending = refreshPending_;
  return device.AttachWindow([this, pending] {
    if (pending->exchange(true)) return;
    CallAfter([this] {
      refreshPending_->store(false);
      Refresh(false);
    });
  });
}

void PreviewPane::Detach() {
  if (renderer_ == nullptr) return;
  renderer_->SetNotify({});
  renderer_ = nullptr;
}

void PreviewPane::OnSize(wxSizeEvent& event) {
  Refresh(false);
  event.Skip();
}

void PreviewPane::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize client = GetClientSize();
  bool showStamp = false;
  wxColour stampColour(255, 0, 0);
  bool newFrame = false;
  if (renderer_ != nullptr) {
    if (renderer_->TakeFrame(frame_)) {
      newFrame = true;
      ++paintedFrames_;
    }
    showStamp = renderer_->ShowTimeStamp();
    const Rgb c = renderer_->TextColour();
    stampColour.Set(c.red, c.green, c.blue);
  }
  const bool frameValid =
      frame_.width > 0 && frame_.height > 0 &&
      frame_.rgb.size() >= static_cast<size_t>(frame_.width) * frame_.height * 3;
  if (!frameValid || client.x <= 0 || client.y <= 0) {
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    return;
  }
  if (newFrame || !scaled_.IsOk() || scaled_.GetSize() != client) {
    // Scaling the image before it becomes a bitmap is about ten times
    // cheaper than a scaled draw of the full-size bitmap. The image borrows
    // the frame's bytes.
    wxImage image(frame_.width, frame_.height, frame_.rgb.data(), true);
    scaled_ = client == image.GetSize()
                  ? wxBitmap(image)
                  : wxBitmap(image.Scale(client.x, client.y, wxIMAGE_QUALITY_NEAREST));
  }
  dc.DrawBitmap(scaled_, 0, 0);
  if (showStamp && !frame_.stampText.empty()) {
    dc.SetFont(stampFont_);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(stampColour);
    dc.DrawText(wxString::FromUTF8(frame_.stampText), 0, 0);
  }
}

}  // namespace qmr
