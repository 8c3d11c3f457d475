// The main menu bar: "&File", "&Option", "&Help" with their commands.
#pragma once

class wxMenuBar;

namespace qmr {

// Builds a new menu bar; the caller (a frame) takes ownership.
wxMenuBar* CreateMainMenuBar();

}  // namespace qmr
