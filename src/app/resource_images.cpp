#include "app/resource_images.h"

#include <wx/icon.h>
#include <wx/mstream.h>

#include <cstdlib>
#include <cstring>

#include "embedded_resources.h"

namespace qmr {

wxImage LoadResourceImage(const char* name) {
  const EmbeddedResource* resource = FindEmbeddedResource(name);
  if (resource == nullptr) return wxImage();
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream stream(resource->data, resource->size);
  wxImage image;
  if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG)) return wxImage();
  return image;
}

wxBitmap LoadResourceBitmap(const char* name) {
  wxImage image = LoadResourceImage(name);
  return image.IsOk() ? wxBitmap(image) : wxBitmap();
}

wxBitmap LoadToolBitmap(const char* name, const wxColour& background) {
  wxImage image = LoadResourceImage(name);
  if (!image.IsOk()) return wxBitmap();
  return wxBitmap(ReplaceBackground(image, background));
}

wxIconBundle ProgramIcons() {
  wxIconBundle bundle;
  for (const char* name : {"icon_main_16", "icon_main_32", "icon_main_48", "icon_main_64"}) {
    wxBitmap bitmap = LoadResourceBitmap(name);
    if (!bitmap.IsOk()) continue;
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    bundle.AddIcon(icon);
  }
  return bundle;
}

wxImage ReplaceBackground(const wxImage& image, const wxColour& background) {
  if (!image.IsOk()) return wxImage();
  // Pixels only: a transparent image would otherwise keep its alpha.
  wxImage result(image.GetWidth(), image.GetHeight(), false);
  std::memcpy(result.GetData(), image.GetData(),
              static_cast<std::size_t>(image.GetWidth()) * image.GetHeight() * 3);
  if (image.GetWidth() < 2 || image.GetHeight() < 2) return result;
  unsigned char* data = result.GetData();
  const int key = (1 * image.GetWidth() + 1) * 3;
  const int keyR = data[key], keyG = data[key + 1], keyB = data[key + 2];
  const std::size_t count = static_cast<std::size_t>(image.GetWidth()) * image.GetHeight();
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* p = data + i * 3;
    if (std::abs(p[0] - keyR) <= 2 && std::abs(p[1] - keyG) <= 2 && std::abs(p[2] - keyB) <= 2) {
      p[0] = background.Red();
      p[1] = background.Green();
      p[2] = background.Blue();
    }
  }
  return result;
}

}  // namespace qmr
