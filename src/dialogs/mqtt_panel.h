// The "MQTT" group of the internet accounts dialog: the broker that motion
// events go to (section MQTT), with a button that tries the connection with
// the values as typed. The publisher thread reads the stored values every
// second, so a change applies without a restart.
#pragma once

#include <wx/panel.h>

#include <string>

class wxCheckBox;
class wxTextCtrl;

namespace qmr {

class AppContext;
struct MqttConfig;

class MqttPanel : public wxPanel {
 public:
  enum Id { kIdTest = 7120 };

  MqttPanel(wxWindow* parent, AppContext& context);

  // Writes the keys that changed (the password scrambled in the file) and
  // saves the settings file. Returns the number of keys written.
  int Apply();
  // The connection the fields describe, as the publisher would use it.
  MqttConfig FieldsConfig() const;

  // The Test button's work, without the message box: true when the broker
  // accepted the connection; message says what happened.
  bool Test(std::string& message) const;

 private:
  void OnTest(wxCommandEvent& event);

  AppContext& context_;
  wxTextCtrl* server_ = nullptr;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
  wxTextCtrl* topic_ = nullptr;
  wxTextCtrl* caFile_ = nullptr;
  wxCheckBox* tls_ = nullptr;
  wxCheckBox* retain_ = nullptr;
  wxCheckBox* discovery_ = nullptr;
};

}  // namespace qmr
