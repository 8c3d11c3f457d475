// The main menu bar: "&File", "&Option", "&Help" with their commands.
#pragma once

class wxMenu;
class wxMenuBar;

namespace qmr {

// Builds a new menu bar; the caller (a frame) takes ownership.
wxMenuBar* CreateMainMenuBar();

// Makes the toolkit draw the images of the menu's items (and its submenus').
// GTK hides menu images unless each item asks to show its image; call after
// the items were appended.
void ShowMenuImages(wxMenu* menu);

}  // namespace qmr
