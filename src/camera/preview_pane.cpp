#include "camera/preview_pane.h"

#include <wx/dcclient.h>
#include <wx/graphics.h>
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
  if (renderer_ != nullptr) {
    if (renderer_->TakeFrame(frame_) && frame_.width > 0 && frame_.height > 0 &&
        frame_.rgb.size() >= static_cast<size_t>(frame_.width) * frame_.height * 3) {
      // The image borrows the frame's bytes; only the bitmap copies them.
      wxImage image(frame_.width, frame_.height, frame_.rgb.data(), true);
      bitmap_ = wxBitmap(image);
      ++paintedFrames_;
    }
    showStamp = renderer_->ShowTimeStamp();
    const Rgb c = renderer_->TextColour();
    stampColour.Set(c.red, c.green, c.blue);
  }
  if (!bitmap_.IsOk() || client.x <= 0 || client.y <= 0) {
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    return;
  }

  std::unique_ptr<wxGraphicsContext> own;
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  if (gc == nullptr) {
    own.reset(wxGraphicsContext::Create(dc));
    gc = own.get();
  }
  if (gc == nullptr) return;
  // Nearest-neighbour scaling: the cheapest, and a live picture needs no more.
  gc->SetInterpolationQuality(wxINTERPOLATION_FAST);
  gc->DrawBitmap(bitmap_, 0, 0, client.x, client.y);
  if (showStamp && !frame_.stampText.empty()) {
    gc->SetFont(stampFont_, stampColour);
    gc->DrawText(wxString::FromUTF8(frame_.stampText), 0, 0);
  }
}

}  // namespace qmr
