#include "dialogs/mqtt_panel.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "base/app_context.h"
#include "config/settings.h"
#include "dialogs/dialog_support.h"
#include "mqtt/mqtt_publisher.h"

namespace qmr {

MqttPanel::MqttPanel(wxWindow* parent, AppContext& context)
    : wxPanel(parent, wxID_ANY), context_(context) {
  const Settings s = context_.Settings().Get();
  auto* group = new wxStaticBoxSizer(wxVERTICAL, this, "MQTT");
  wxWindow* box = group->GetStaticBox();
  // Two fields a row, so the group adds little height to the dialog.
  wxFlexGridSizer* grid = NewFieldGrid(4, 6);
  grid->AddGrowableCol(3);
  server_ = AddLabelledField(box, grid, "Broker:", "MQTT_SERVER", s.mqttServer, 200);
  server_->SetHint("host:port (empty: off)");
  topic_ = AddLabelledField(box, grid, "Topic:", "MQTT_TOPIC", s.mqttTopic, 200);
  user_ = AddLabelledField(box, grid, "User:", "MQTT_USER", s.mqttUser, 200);
  password_ =
      AddLabelledField(box, grid, "Password:", "MQTT_PASSWORD", s.mqttPassword, 200, wxTE_PASSWORD);
  caFile_ = AddLabelledField(box, grid, "CA file:", "MQTT_CAFILE", s.mqttCaFile, 200);
  caFile_->SetHint("TLS only (empty: the system's)");
  group->Add(grid, 0, wxEXPAND | wxALL, 6);

  auto* row = new wxBoxSizer(wxHORIZONTAL);
  auto addBox = [&](const char* label, const char* name, bool value) {
    auto* check = new wxCheckBox(box, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, 0,
                                 wxDefaultValidator, name);
    check->SetValue(value);
    row->Add(check, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
    return check;
  };
  tls_ = addBox("TLS", "MQTT_TLS", s.mqttTls);
  retain_ = addBox("Retain", "MQTT_RETAIN", s.mqttRetain);
  discovery_ = addBox("Discovery", "MQTT_DISCOVERY", s.mqttDiscovery);
  row->AddStretchSpacer();
  row->Add(new wxButton(box, kIdTest, "Test"), 0, wxALIGN_CENTER_VERTICAL);
  group->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(group, 1, wxEXPAND);
  SetSizerAndFit(top);
  Bind(wxEVT_BUTTON, &MqttPanel::OnTest, this, kIdTest);
}

MqttConfig MqttPanel::FieldsConfig() const {
  Settings s;
  s.mqttServer = TrimmedText(server_);
  s.mqttUser = TrimmedText(user_);
  s.mqttPassword = TrimmedText(password_);
  s.mqttTopic = TrimmedText(topic_);
  s.mqttCaFile = TrimmedText(caFile_);
  s.mqttTls = tls_->GetValue();
  s.mqttRetain = retain_->GetValue();
  s.mqttDiscovery = discovery_->GetValue();
  return MqttConfigFrom(s);
}

int MqttPanel::Apply() {
  SettingsWriter writer(context_, keys::kMqtt);
  writer.Put("SERVER", &Settings::mqttServer, TrimmedText(server_));
  writer.Put("USER", &Settings::mqttUser, TrimmedText(user_));
  writer.PutPassword("PASSWORD", &Settings::mqttPassword, TrimmedText(password_));
  writer.Put("TOPIC", &Settings::mqttTopic, TrimmedText(topic_));
  writer.Put("CAFILE", &Settings::mqttCaFile, TrimmedText(caFile_));
  writer.Put("TLS", &Settings::mqttTls, tls_->GetValue());
  writer.Put("RETAIN", &Settings::mqttRetain, retain_->GetValue());
  writer.Put("DISCOVERY", &Settings::mqttDiscovery, discovery_->GetValue());
  return writer.Commit();
}

bool MqttPanel::Test(std::string& message) const {
  const MqttConfig config = FieldsConfig();
  if (config.host.empty() && !TrimmedText(server_).empty()) {
    message = "The broker address is not valid: use host or host:port.";
    return false;
  }
  return MqttPublisher::Probe(config, message);
}

void MqttPanel::OnTest(wxCommandEvent&) {
  std::string message;
  bool ok = false;
  {
    wxBusyCursor busy;
    ok = Test(message);
  }
  wxMessageBox(wxString::FromUTF8(message), ok ? "MQTT" : "Error",
               wxOK | (ok ? wxICON_INFORMATION : wxICON_ERROR), this);
}

}  // namespace qmr
