// The MQTT group of the internet accounts dialog: its values go to section
// MQTT with the password scrambled, only changed keys are written, and the
// Test button reports a broker that cannot be reached.
#include "dialogs/mqtt_panel.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/checkbox.h>
#include <wx/textctrl.h>

#include <string>

#include "config/password_scrambler.h"
#include "dialog_test_support.h"
#include "dialogs/internet_accounts_dialog.h"
#include "mqtt/mqtt_publisher.h"

namespace qmr {
namespace {

using testing::DialogContext;
using testing::FileValue;
using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

template <typename T>
T* Named(wxWindow& parent, const char* name) {
  auto* window = dynamic_cast<T*>(wxWindow::FindWindowByName(name, &parent));
  EXPECT_NE(window, nullptr) << name;
  return window;
}

TEST(MqttPanelTest, StoresTheBrokerAndTestsTheConnection) {
  TempFolder folder;
  SetApplicationFolder(folder.Path());
  const std::string ini = folder.File("qmr.ini");
  WriteWhole(ini, "[MQTT]\nTOPIC=home/cams\n");
  DialogContext context(folder.File("peers"));
  ASSERT_TRUE(context.SettingsFile().Load(ini));
  context.Settings().Update([](Settings& s) { s.mqttTopic = "home/cams"; });

  InternetAccountsDialog dialog(nullptr, context);
  auto* server = Named<wxTextCtrl>(dialog, "MQTT_SERVER");
  auto* password = Named<wxTextCtrl>(dialog, "MQTT_PASSWORD");
  ASSERT_TRUE(server && password);
  EXPECT_EQ(Named<wxTextCtrl>(dialog, "MQTT_TOPIC")->GetValue(), "home/cams");
  EXPECT_TRUE(password->HasFlag(wxTE_PASSWORD));

  server->SetValue("  broker.lan:1884 ");
  Named<wxTextCtrl>(dialog, "MQTT_USER")->SetValue("camera");
  password->SetValue("mqtt secret");
  Named<wxCheckBox>(dialog, "MQTT_RETAIN")->SetValue(true);
  EXPECT_EQ(dialog.Apply(), 4);
  EXPECT_EQ(FileValue(ini, "MQTT", "SERVER"), "broker.lan:1884");
  EXPECT_EQ(FileValue(ini, "MQTT", "USER"), "camera");
  EXPECT_EQ(FileValue(ini, "MQTT", "RETAIN"), "1");
  EXPECT_EQ(FileValue(ini, "MQTT", "TLS"), "<absent>");
  EXPECT_EQ(ReadWhole(ini).find("mqtt secret"), std::string::npos);
  std::string clear;
  PasswordScrambler::Unscramble(FileValue(ini, "MQTT", "PASSWORD"), clear);
  EXPECT_EQ(clear, "mqtt secret");
  const Settings s = context.Settings().Get();
  EXPECT_EQ(s.mqttServer, "broker.lan:1884");
  EXPECT_EQ(s.mqttPassword, "mqtt secret");
  EXPECT_EQ(MqttConfigFrom(s).port, 1884);
  EXPECT_EQ(dialog.Apply(), 0);  // nothing changed, nothing written

  // The Test button's check: a bad address, and a port where nobody listens.
  MqttPanel* panel = nullptr;
  for (wxWindow* child : dialog.GetChildren()) {
    if (auto* p = dynamic_cast<MqttPanel*>(child)) panel = p;
  }
  ASSERT_NE(panel, nullptr);
  std::string message;
  server->SetValue("broker.lan:http");
  EXPECT_FALSE(panel->Test(message));
  EXPECT_NE(message.find("not valid"), std::string::npos) << message;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);
  close(fd);
  server->SetValue("127.0.0.1:" + std::to_string(port));
  EXPECT_FALSE(panel->Test(message));
  EXPECT_NE(message.find("Cannot connect to 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << message;
}

}  // namespace
}  // namespace qmr
