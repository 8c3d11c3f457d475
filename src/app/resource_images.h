// The program's own images (tool 32 x 32, menu 16 x 16, window icons), read
// from the copies built into the program file.
#pragma once

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/iconbndl.h>
#include <wx/image.h>

namespace qmr {

// Names: "tool_camera", "tool_playback", "tool_stop_alarm", "tool_record",
// "tool_snapshot", "tool_detect", "tool_zones", "tool_schedule",
// "tool_folders", "tool_trigger", "tool_compressor", "tool_accounts",
// "tool_startup" (32 x 32, flat background colour at (1, 1));
// "menu_camera", "menu_playback", "menu_folders", "menu_compressor",
// "menu_trigger", "menu_accounts", "menu_startup", "menu_record",
// "menu_snapshot", "menu_detect", "menu_zones", "menu_schedule" (16 x 16 with
// alpha); "icon_main_16/32/48/64" and "icon_detect" (with alpha).
// An unknown name gives an invalid image.
wxImage LoadResourceImage(const char* name);
wxBitmap LoadResourceBitmap(const char* name);

// A tool image with its background blended into the given colour.
wxBitmap LoadToolBitmap(const char* name, const wxColour& background);

// The program icon in every size, for SetIcons.
wxIconBundle ProgramIcons();

// Every pixel whose red, green and blue each differ by at most 2 from the
// pixel at (1, 1) takes the colour `background`; the others keep theirs. The
// result has no alpha channel.
wxImage ReplaceBackground(const wxImage& image, const wxColour& background);

}  // namespace qmr
