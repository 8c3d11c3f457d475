// Cost of painting one 640 x 480 camera frame scaled into a 400 x 300 pane
// with its time stamp, beside one plain copy of the frame's bytes. Needs a
// display (run it under xvfb-run).
#include <benchmark/benchmark.h>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/init.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kPaneWidth = 400, kPaneHeight = 300;

std::vector<std::uint8_t> Frame() {
  std::vector<std::uint8_t> rgb(kWidth * kHeight * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 31);
  return rgb;
}

void Paint(wxMemoryDC& dc, const wxBitmap& bitmap, const wxFont& font) {
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
  gc->SetInterpolationQuality(wxINTERPOLATION_FAST);
  gc->DrawBitmap(bitmap, 0, 0, kPaneWidth, kPaneHeight);
  gc->SetFont(font, *wxRED);
  gc->DrawText("12/08 20:43:44:256", 0, 0);
}

void BM_ReferenceFrameCopy(benchmark::State& state) {
  const std::vector<std::uint8_t> src = Frame();
  std::vector<std::uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
  }
}
BENCHMARK(BM_ReferenceFrameCopy);

// A bitmap of the whole frame, scaled while drawing (about ten times
// slower than scaling the image first: the scaled draw converts and filters
// every source pixel).
void BM_PaintBitmapFromImage(benchmark::State& state) {
  std::vector<std::uint8_t> rgb = Frame();
  wxBitmap target(kPaneWidth, kPaneHeight, 24);
  wxMemoryDC dc(target);
  const wxFont font(wxFontInfo(wxSize(0, 15)).Family(wxFONTFAMILY_TELETYPE));
  for (auto _ : state) {
    wxImage image(kWidth, kHeight, rgb.data(), true);
    wxBitmap bitmap(image);
    Paint(dc, bitmap, font);
  }
}
BENCHMARK(BM_PaintBitmapFromImage);

// What the preview pane does: the image class scales the frame to the pane
// (nearest pixel), the bitmap is drawn 1:1 and the stamp on top.
void BM_PaintScaledImage(benchmark::State& state) {
  std::vector<std::uint8_t> rgb = Frame();
  wxBitmap target(kPaneWidth, kPaneHeight, 24);
  wxMemoryDC dc(target);
  const wxFont font(wxFontInfo(wxSize(0, 15)).Family(wxFONTFAMILY_TELETYPE));
  for (auto _ : state) {
    wxImage image(kWidth, kHeight, rgb.data(), true);
    wxBitmap bitmap(image.Scale(kPaneWidth, kPaneHeight, wxIMAGE_QUALITY_NEAREST));
    dc.DrawBitmap(bitmap, 0, 0);
    dc.SetFont(font);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(*wxRED);
    dc.DrawText("12/08 20:43:44:256", 0, 0);
  }
}
BENCHMARK(BM_PaintScaledImage);

}  // namespace

int main(int argc, char** argv) {
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv)) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  wxEntryCleanup();
  return 0;
}
