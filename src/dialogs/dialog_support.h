// Pieces every settings dialog builds the same way: the OK/Cancel row, the
// way a dialog closes, labelled text fields, and the writer that stores only
// the keys whose value changed.
#pragma once

#include <wx/string.h>

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "config/settings.h"

class wxDialog;
class wxFlexGridSizer;
class wxSizer;
class wxTextCtrl;
class wxWindow;

namespace qmr {

class AppContext;
class IniFile;

// A row with OK (the default button) and Cancel at its right end, added to
// top with the given border sides (8 pixels); Enter and Escape press them.
void AddOkCancelRow(wxDialog* dialog, wxSizer* top, int okId, int cancelId, int borderSides);

// OK (the default button) and Cancel side by side in the middle of a row at
// the bottom of top; Enter and Escape press them.
void AddCentredOkCancelRow(wxDialog* dialog, wxSizer* top, int okId, int cancelId);

// "Default" at the left, OK and Cancel at the right (wxID_OK, wxID_CANCEL).
void AddDefaultOkCancelRow(wxDialog* dialog, wxSizer* top, int defaultId);

// Closes the dialog with code: ends a modal one, hides a modeless one (which
// keeps the code for GetReturnCode).
void FinishDialog(wxDialog* dialog, int code);

// A grid of labels and fields whose second column takes the spare width.
wxFlexGridSizer* NewFieldGrid(int columns, int gap);

// A label and its text field on the next grid row; the field is named after
// the key it edits and is width pixels wide.
wxTextCtrl* AddLabelledField(wxWindow* parent, wxFlexGridSizer* grid, const wxString& label,
                             const char* key, const std::string& value, int width, long style = 0);

// A text field's value without surrounding spaces, in UTF-8.
std::string TrimmedText(const wxTextCtrl* field);

// Stores a dialog's values in one section of the settings file and in the
// settings in memory. Put writes a key only when its value differs from the
// one in memory when the writer was made; Commit takes just the values set
// into memory (another dialog may have changed other keys meanwhile), saves
// the file and returns the number of keys written.
class SettingsWriter {
 public:
  SettingsWriter(AppContext& context, std::string section);

  template <typename T>
  bool Put(const char* key, T Settings::*field, const std::type_identity_t<T>& now) {
    if (values_.*field == now) return false;
    Set(field, now);
    if constexpr (std::is_same_v<T, bool>) {
      WriteInt(key, now ? 1 : 0);
    } else if constexpr (std::is_same_v<T, int>) {
      WriteInt(key, now);
    } else {
      static_assert(std::is_same_v<T, std::string>);
      WriteText(key, now);
    }
    return true;
  }

  // A password: in clear in memory, scrambled in the file (empty stays empty).
  bool PutPassword(const char* key, std::string Settings::*field, const std::string& now);

  // The value in memory only.
  template <typename T>
  void Set(T Settings::*field, const std::type_identity_t<T>& now) {
    values_.*field = now;
    changes_.push_back([field, now](Settings& s) { s.*field = now; });
  }

  // The key in the file only, counted as written.
  void WriteInt(const char* key, int value);
  void WriteText(const char* key, const std::string& value);

  IniFile& File() { return ini_; }

  int Commit();

 private:
  AppContext& context_;
  IniFile& ini_;
  std::string section_;
  Settings values_;
  std::vector<std::function<void(Settings&)>> changes_;
  int written_ = 0;
};

}  // namespace qmr
