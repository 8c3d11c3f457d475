#include "app/gui/main_menu.h"

#include <wx/menu.h>

#include "app/gui/command_ids.h"
#include "app/gui/resource_images.h"

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

wxMenuBar* CreateMainMenuBar() {
  auto* file = new wxMenu;
  AddItem(file, kIdNewCamera, "&New camera\tCtrl-N", "Add new camera window", "menu_camera");
  AddItem(file, kIdPlayback, "&Playback..\tCtrl-P", "Playback avi file", "menu_playback");
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

  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(option, "&Option");
  bar->Append(help, "&Help");
  return bar;
}

}  // namespace qmr
