#include "app/main_menu.h"

#include <wx/menu.h>

#include <dlfcn.h>

#include "app/command_ids.h"
#include "app/resource_images.h"

namespace qmr {

namespace {

void AddItem(wxMenu* menu, int id, const char* text, const char* help, const char* image) {
  auto* item = new wxMenuItem(menu, id, wxString::FromUTF8(text), wxString::FromUTF8(help));
  if (image != nullptr) {
    // Set before the item is appended so the toolkit shows it.
    wxBitmap bitmap = LoadResourceBitmap(image);
    if (bitmap.IsOk()) item->SetBitmap(bitmap);
  }
  menu->Append(item);
}

}  // namespace

void ShowMenuImages(wxMenu* menu) {
#ifdef __WXGTK__
  // The toolkit is already loaded by the GUI library; look the call up there
  // rather than build against its headers for this one setting.
  using ShowImageFn = void (*)(void* item, int always);
  static const auto showImage = reinterpret_cast<ShowImageFn>(
      dlsym(RTLD_DEFAULT, "gtk_image_menu_item_set_always_show_image"));
  if (showImage == nullptr || menu == nullptr) return;
  for (wxMenuItem* item : menu->GetMenuItems()) {
    if (item->IsSubMenu()) ShowMenuImages(item->GetSubMenu());
    // Items given a bitmap before they were appended are image menu items.
    if (item->GetBitmap().IsOk() && item->GetMenuItem() != nullptr) {
      showImage(item->GetMenuItem(), 1);
    }
  }
#else
  (void)menu;
#endif
}

wxMenuBar* CreateMainMenuBar() {
  auto* file = new wxMenu;
  AddItem(file, kIdNewCamera, "&New camera\tCtrl-N", "Add new camera window", "menu_camera");
  AddItem(file, kIdCameraManager, "Ca&meras...\tCtrl-Shift-N",
          "Add, edit and remove network cameras, video files and test patterns", nullptr);
  AddItem(file, kIdPlayback, "&Playback..\tCtrl-P", "Playback avi file", "menu_playback");
  file->AppendSeparator();
  AddItem(file, kIdQuit, "&Quit\tCtrl-X", "Quit system", nullptr);

  auto* option = new wxMenu;
  AddItem(option, kIdFolderSettings, "&Folder && file..\tCtrl-F", "Folder and file settings",
          "menu_folders");
  AddItem(option, kIdCompressorSettings, "&Compressor..\tCtrl-C", "Coder/decoder settings",
          "menu_compressor");
  AddItem(option, kIdMotionTriggerSettings, "&Motion trigger..\tCtrl-M",
          "Set events triggered by motion detector", "menu_trigger");
  AddItem(option, kIdAccountSettings, "&Internet Accounts..\tCtrl-I", "Internet accounts settings",
          "menu_accounts");
  AddItem(option, kIdStartupSettings, "&Startup..\tCtrl-S", "System startup settings",
          "menu_startup");

  auto* help = new wxMenu;
  AddItem(help, kIdHelp, "&Help\tF1", "", nullptr);
  AddItem(help, kIdAbout, "&About..\tF6", "", nullptr);

  for (wxMenu* menu : {file, option, help}) ShowMenuImages(menu);

  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(option, "&Option");
  bar->Append(help, "&Help");
  return bar;
}

}  // namespace qmr
