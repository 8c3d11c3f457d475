// Motion events through a real broker: the order of ON and OFF, the event
// message, availability with the last will after a kill, TLS with login,
// and a broker that goes away and comes back while events happen.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../support/temp_folder.h"
#include "base/log_file.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "mqtt/mqtt_publisher.h"

extern char** environ;

namespace qmr {
namespace {

using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// A mosquitto broker on 127.0.0.1 with the given extra configuration lines,
// started and stopped by the test (never as a service).
class Broker {
 public:
  Broker(const std::string& folder, const std::string& extra)
      : folder_(folder), port_(FreePort()), config_(folder + "/broker.conf") {
    std::string text = "listener " + std::to_string(port_) + " 127.0.0.1\n" + extra +
                       "log_dest file " + folder + "/broker.log\n";
    if (getuid() == 0) text += "user root\n";
    WriteWhole(config_, text);
    Start();
  }
  ~Broker() { Stop(); }

  bool Start() {
    const char* argv[] = {"/usr/sbin/mosquitto", "-c", config_.c_str(), nullptr};
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = 0;
      return false;
    }
    // Ready when the port takes connections.
    return WaitUntil(
        [&] {
          const int fd = socket(AF_INET, SOCK_STREAM, 0);
          sockaddr_in a{};
          a.sin_family = AF_INET;
          a.sin_port = htons(static_cast<std::uint16_t>(port_));
          a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
          close(fd);
          return ok;
        },
        5000);
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
  }
  int Port() const { return port_; }
  std::string Log() const { return ReadWhole(folder_ + "/broker.log"); }

 private:
  std::string folder_;
  int port_;
  std::string config_;
  pid_t pid_ = 0;
};

struct Received {
  std::string topic;
  std::string payload;
  bool retained;
};

// A subscriber to everything, with a persistent session when an id is given.
class Subscriber {
 public:
  explicit Subscriber(int port, const std::string& id = "",
                      const std::function<void(mosquitto*)>& setup = nullptr) {
    client_ = mosquitto_new(id.empty() ? nullptr : id.c_str(), id.empty(), this);
    if (setup) setup(client_);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "#", 1);
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self,
                                               const mosquitto_message* message) {
      auto* s = static_cast<Subscriber*>(self);
      std::lock_guard<std::mutex> lock(s->mutex_);
      s->messages_.push_back(Received{message->topic,
                                      std::string(static_cast<const char*>(message->payload),
                                                  static_cast<std::size_t>(message->payloadlen)),
                                      message->retain});
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Subscriber*>(self)->subscribed_ = true;
    });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
    WaitUntil([&] { return subscribed_.load(); }, 5000);
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  std::vector<Received> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // The payloads of one topic, in arrival order.
  std::vector<std::string> On(const std::string& topic) const {
    std::vector<std::string> out;
    for (const auto& m : Messages()) {
      if (m.topic == topic) out.push_back(m.payload);
    }
    return out;
  }
  bool Saw(const std::string& topic, const std::string& payload, int timeoutMs = 5000) const {
    return WaitUntil(
        [&] {
          for (const auto& m : Messages()) {
            if (m.topic == topic && m.payload == payload) return true;
          }
          return false;
        },
        timeoutMs);
  }

 private:
  mosquitto* client_;
  mutable std::mutex mutex_;
  std::vector<Received> messages_;
  std::atomic<bool> subscribed_{false};
};

MqttConfig Config(int port) {
  MqttConfig c;
  c.host = "127.0.0.1";
  c.port = port;
  c.prefix = "qmr/test";
  return c;
}

SystemTime At(int hour, int minute, int second, int ms) {
  return SystemTime{2026,
                    12,
                    4,
                    3,
                    static_cast<std::uint16_t>(hour),
                    static_cast<std::uint16_t>(minute),
                    static_cast<std::uint16_t>(second),
                    static_cast<std::uint16_t>(ms)};
}

// One field of a JSON object as Python's json module reads it.
std::string JsonField(const std::string& json, const std::string& field) {
  const std::string file = "/tmp/qmr_mqtt_json_" + std::to_string(getpid());
  WriteWhole(file, json);
  std::string out = Shell(
      "/usr/bin/python3 -c \"import json,sys; print(json.load(open(sys.argv[1]))"
      "[sys.argv[2]], end='')\" " +
      file + " " + field + " 2>&1");
  std::remove(file.c_str());
  return out;
}

class MqttTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationFolder(folder_.Path());
    LogFile::ResetPath();
    mosquitto_lib_init();
  }
  TempFolder folder_;
};

TEST_F(MqttTest, SettingsBecomeTopicsAndTheServerAddress) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseMqttServer(" broker.lan ", false, host, port));
  EXPECT_EQ(host, "broker.lan");
  EXPECT_EQ(port, 1883);
  EXPECT_TRUE(ParseMqttServer("10.0.0.2:1884", true, host, port));
  EXPECT_EQ(port, 1884);
  EXPECT_TRUE(ParseMqttServer("[::1]", true, host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 8883);
  EXPECT_FALSE(ParseMqttServer("", false, host, port));
  EXPECT_FALSE(ParseMqttServer("host:0", false, host, port));
  EXPECT_FALSE(ParseMqttServer("host:http", false, host, port));
  EXPECT_FALSE(ParseMqttServer("host:99999", false, host, port));
  EXPECT_EQ(MqttTopicLevel("Front door   NO.1"), "Front_door_NO_1");
  EXPECT_EQ(MqttTopicLevel("a/b+c#"), "a_b_c");
  EXPECT_EQ(MqttTopicLevel("..."), "camera");

  // The section as stored: the password scrambled, TOPIC defaulting to the
  // host name, PRECAPTURE 2 when missing and clamped to 10.
  WriteWhole(folder_.File("qmr.ini"),
             "[MQTT]\nSERVER=127.0.0.1:1999\nUSER=cam\nTLS=1\nRETAIN=1\n[MOTION]\n");
  IniFile ini;
  Settings s;
  LoadSettings(ini, s);
  EXPECT_EQ(s.preCapture, 2);
  EXPECT_EQ(s.mqttTopic, DefaultMqttTopic());
  EXPECT_EQ(s.mqttTopic.rfind("qmr/", 0), 0u);
  const MqttConfig c = MqttConfigFrom(s);
  EXPECT_EQ(c.host, "127.0.0.1");
  EXPECT_EQ(c.port, 1999);
  EXPECT_TRUE(c.tls && c.retain && !c.discovery);
  WriteWhole(folder_.File("qmr.ini"), "[MOTION]\nPRECAPTURE=60\n");
  LoadSettings(ini, s);
  EXPECT_EQ(s.preCapture, 10);
  EXPECT_TRUE(MqttConfigFrom(s).host.empty());
}

TEST_F(MqttTest, MotionOnOffAndTheEventArriveInOrder) {
  Broker broker(folder_.Path(), "allow_anonymous true\n");
  Subscriber sub(broker.Port());
  MqttConfig config = Config(broker.Port());
  config.retain = true;
  config.discovery = true;
  MqttPublisher publisher([&] { return config; });
  publisher.AddCamera("Front door   NO.1");
  ASSERT_TRUE(publisher.Start());
  ASSERT_TRUE(sub.Saw("qmr/test/status", "online")) << broker.Log();
  ASSERT_TRUE(WaitUntil([&] { return publisher.Connected(); }, 5000));

  for (int i = 0; i < 3; ++i) {
    publisher.MotionStarted("Front door   NO.1");
    MotionEventInfo event;
    event.camera = "Front door   NO.1";
    event.start = At(10, 0, i, 5);
    event.end = At(10, 0, i + 7, 250);
    event.pictures = 10 + i;
    event.recording = "/home/qmr/AVI/Motion-Front door   NO.1 \"x\".avi";
    event.archive = i == 0 ? "" : "/home/qmr/PIC/Motion-2026.zip";
    publisher.MotionEnded(event);
  }
  ASSERT_TRUE(
      WaitUntil([&] { return sub.On("qmr/test/Front_door_NO_1/event").size() == 3; }, 5000));
  EXPECT_EQ(sub.On("qmr/test/Front_door_NO_1/motion"),
            (std::vector<std::string>{"ON", "OFF", "ON", "OFF", "ON", "OFF"}));
  // OFF comes before its event message.
  const auto all = sub.Messages();
  std::vector<std::string> order;
  for (const auto& m : all) {
    if (m.topic.rfind("qmr/test/Front_door_NO_1/", 0) == 0) order.push_back(m.payload.substr(0, 3));
  }
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(order[0], "ON");
  EXPECT_EQ(order[1], "OFF");
  EXPECT_EQ(order[2], "{\"c");

  const std::string json = sub.On("qmr/test/Front_door_NO_1/event")[1];
  EXPECT_EQ(JsonField(json, "camera"), "Front door   NO.1");
  EXPECT_EQ(JsonField(json, "pictures"), "11");
  EXPECT_EQ(JsonField(json, "start").substr(0, 23), "2026-12-03T10:00:01.005");
  EXPECT_EQ(JsonField(json, "end").substr(0, 23), "2026-12-03T10:00:08.250");
  EXPECT_EQ(JsonField(json, "recording"), "/home/qmr/AVI/Motion-Front door   NO.1 \"x\".avi");
  EXPECT_EQ(JsonField(json, "archive"), "/home/qmr/PIC/Motion-2026.zip");
  EXPECT_EQ(JsonField(sub.On("qmr/test/Front_door_NO_1/event")[0], "archive"), "");

  // Discovery: one retained binary sensor for the camera.
  const auto discovery = sub.On("homeassistant/binary_sensor/qmr_test/Front_door_NO_1/config");
  ASSERT_EQ(discovery.size(), 1u);
  EXPECT_EQ(JsonField(discovery[0], "state_topic"), "qmr/test/Front_door_NO_1/motion");
  EXPECT_EQ(JsonField(discovery[0], "availability_topic"), "qmr/test/status");

  // A late subscriber finds the retained state and availability.
  Subscriber late(broker.Port());
  ASSERT_TRUE(late.Saw("qmr/test/Front_door_NO_1/motion", "OFF"));
  ASSERT_TRUE(late.Saw("qmr/test/status", "online"));

  // A clean stop says offline.
  EXPECT_TRUE(publisher.Stop());
  EXPECT_TRUE(sub.Saw("qmr/test/status", "offline"));
}

TEST_F(MqttTest, LastWillSaysOfflineWhenTheProgramIsKilled) {
  Broker broker(folder_.Path(), "allow_anonymous true\n");
  const int port = broker.Port();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    MqttPublisher publisher([port] { return Config(port); });
    publisher.Start();
    for (;;) pause();
  }
  Subscriber sub(port);
  ASSERT_TRUE(sub.Saw("qmr/test/status", "online", 10000)) << broker.Log();
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(sub.Saw("qmr/test/status", "offline", 10000)) << broker.Log();
  const auto status_messages = sub.On("qmr/test/status");
  EXPECT_EQ(status_messages.back(), "offline");
}

TEST_F(MqttTest, TlsWithLoginAndACertificateMadeForTheTest) {
  const std::string dir = folder_.Path();
  Shell(
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
      dir + "/key.pem -out " + dir + "/cert.pem 2>&1");
  Shell("/usr/bin/mosquitto_passwd -b -c " + dir + "/passwd camera 's3cret pass' 2>&1");
  ASSERT_TRUE(std::ifstream(dir + "/cert.pem").good());
  Broker broker(dir, "allow_anonymous false\npassword_file " + dir + "/passwd\ncafile " + dir +
                         "/cert.pem\ncertfile " + dir + "/cert.pem\nkeyfile " + dir + "/key.pem\n");

  MqttConfig config = Config(broker.Port());
  config.tls = true;
  config.caFile = dir + "/cert.pem";
  config.user = "camera";
  config.password = "s3cret pass";
  std::string message;
  EXPECT_TRUE(MqttPublisher::Probe(config, message)) << message << broker.Log();

  MqttConfig wrong = config;
  wrong.password = "guess";
  EXPECT_FALSE(MqttPublisher::Probe(wrong, message));
  EXPECT_NE(message.find("refused"), std::string::npos) << message;
  MqttConfig untrusted = config;
  untrusted.caFile.clear();  // the system's authorities do not know the test's certificate
  EXPECT_FALSE(MqttPublisher::Probe(untrusted, message));
  MqttConfig plain = config;
  plain.tls = false;
  EXPECT_FALSE(MqttPublisher::Probe(plain, message));

  // Events go through the encrypted connection with the login.
  Subscriber sub(broker.Port(), "", [&](mosquitto* m) {
    mosquitto_tls_set(m, config.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    mosquitto_username_pw_set(m, "camera", "s3cret pass");
  });
  MqttPublisher publisher([&] { return config; });
  ASSERT_TRUE(publisher.Start());
  ASSERT_TRUE(sub.Saw("qmr/test/status", "online", 10000)) << broker.Log();
  publisher.MotionStarted("Yard   NO.2");
  EXPECT_TRUE(sub.Saw("qmr/test/Yard_NO_2/motion", "ON"));
  EXPECT_TRUE(publisher.Stop());
  EXPECT_TRUE(sub.Saw("qmr/test/status", "offline"));
}

TEST_F(MqttTest, BrokerStoppedAndRestartedDuringEvents) {
  Broker broker(folder_.Path(), "allow_anonymous true\npersistence true\npersistence_location " +
                                    folder_.Path() + "/\n");
  // A persistent session: the broker keeps what arrives while this reader is
  // away (the broker restart included).
  auto sub = std::make_unique<Subscriber>(broker.Port(), "qmr-test-reader");
  MqttPublisher publisher([&] { return Config(broker.Port()); });
  ASSERT_TRUE(publisher.Start());
  ASSERT_TRUE(WaitUntil([&] { return publisher.Connected(); }, 5000));
  publisher.MotionStarted("Cam");
  ASSERT_TRUE(sub->Saw("qmr/test/Cam/motion", "ON"));
  sub.reset();

  broker.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !publisher.Connected(); }, 5000));
  // 100 events while the broker is away: 300 messages for a queue of 256;
  // the calls return at once and the oldest messages are dropped.
  for (int i = 0; i < 100; ++i) {
    if (i > 0) publisher.MotionStarted("Cam");
    MotionEventInfo event;
    event.camera = "Cam";
    event.pictures = i;
    publisher.MotionEnded(event);
  }
  EXPECT_EQ(publisher.Queued(), MqttPublisher::kQueueLimit);
  EXPECT_EQ(publisher.Dropped(), 299u - MqttPublisher::kQueueLimit);

  ASSERT_TRUE(broker.Start());
  ASSERT_TRUE(WaitUntil([&] { return publisher.Connected() && publisher.Queued() == 0; }, 20000))
      << broker.Log();
  sub = std::make_unique<Subscriber>(broker.Port(), "qmr-test-reader");
  ASSERT_TRUE(WaitUntil([&] { return sub->On("qmr/test/Cam/event").size() >= 86; }, 10000))
      << sub->Messages().size();
  // The newest 256 messages in their order: events 15 to 99 (and the OFF of
  // event 14), each OFF before its event message.
  const auto events = sub->On("qmr/test/Cam/event");
  ASSERT_EQ(events.size(), 86u);
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(JsonField(events[i], "pictures"), std::to_string(14 + i));
  }
  const auto motion = sub->On("qmr/test/Cam/motion");
  ASSERT_FALSE(motion.empty());
  EXPECT_EQ(motion.back(), "OFF");
  for (std::size_t i = 1; i < motion.size(); ++i) EXPECT_NE(motion[i], motion[i - 1]) << i;

  // One log line for the outage's dropped messages.
  const std::string log = ReadWhole(folder_.File("log.txt"));
  std::size_t count = 0;
  for (std::size_t at = log.find("queue is full"); at != std::string::npos;
       at = log.find("queue is full", at + 1))
    ++count;
  EXPECT_EQ(count, 1u) << log;
}

}  // namespace
}  // namespace qmr
