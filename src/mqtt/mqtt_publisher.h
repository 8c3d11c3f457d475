// Motion events to an MQTT broker, for home-automation systems: ON and OFF
// on "<prefix>/<camera>/motion" when a camera's motion period starts and
// ends, a JSON summary on "<prefix>/<camera>/event" at the end, the
// program's availability on "<prefix>/status" ("online", and "offline" as the
// last will the broker sends when the program vanishes), and optionally one
// discovery message per camera for the home-automation side.
//
// Everything network runs on the publisher's own thread with its own
// reconnect. The calls made by the detectors only put a message into a
// bounded queue: a broker that is down or slow never holds up a camera.
// While the broker is away the queue keeps the newest messages; older ones
// are dropped, with one log line per outage.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/process.h"

namespace qmr {

struct Settings;

struct MqttConfig {
  std::string host;  // empty: no broker
  int port = 1883;
  std::string user;
  std::string password;
  std::string prefix;  // topic prefix, no trailing "/"
  std::string caFile;  // TLS: certificate authority file; empty: the system's
  bool tls = false;
  bool retain = false;
  bool discovery = false;
  bool operator==(const MqttConfig&) const = default;
};

// The MQTT part of the settings. An unusable SERVER gives an empty host.
MqttConfig MqttConfigFrom(const Settings& settings);
// "host", "host:port" or "[v6 address]:port"; the port defaults to 1883, or
// 8883 with TLS. False when empty or the port is not 1..65535.
bool ParseMqttServer(const std::string& server, bool tls, std::string& host, int& port);
// A camera name as one topic level: letters, digits, "-" and "_" stay; every
// run of anything else becomes one "_" ("Front door   NO.1" -> "Front_door_NO_1").
std::string MqttTopicLevel(const std::string& camera);

// One finished motion period, as the event message tells it.
struct MotionEventInfo {
  std::string camera;
  SystemTime start;
  SystemTime end;
  int pictures = 0;
  std::string recording;  // path of the kept recording, "" when none
  std::string archive;    // path of the kept picture archive, "" when none
};
// {"camera":..,"start":..,"end":..,"pictures":..,"recording":..,"archive":..}
// with the times in ISO 8601 with the local offset.
std::string MotionEventJson(const MotionEventInfo& event);
// "2026-12-09T05:40:01.123+01:00" of a local time.
std::string IsoLocalTime(const SystemTime& t);

class MqttPublisher {
 public:
  static constexpr std::size_t kQueueLimit = 256;
  static constexpr int kKeepAliveSeconds = 30;

  // config is asked again every second on the publisher's thread; a change
  // (the internet accounts dialog) reconnects with the new values.
  explicit MqttPublisher(std::function<MqttConfig()> config);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Starts the thread; false when it could not be started.
  bool Start();
  // Sends "offline", disconnects and waits for the thread at most timeoutMs.
  bool Stop(int timeoutMs = 5000);

  // Any thread; never blocks on the network. Nothing is queued while no
  // broker is configured.
  void MotionStarted(const std::string& camera);
  void MotionEnded(const MotionEventInfo& event);
  // Makes the camera known for discovery (sent at every connection).
  void AddCamera(const std::string& camera);

  bool Connected() const;
  std::size_t Queued() const;
  std::uint64_t Dropped() const;

  // Connects once with config (login and TLS included) and waits at most
  // timeoutMs for the broker's answer. message says what happened.
  static bool Probe(const MqttConfig& config, std::string& message, int timeoutMs = 5000);

  struct State;

 private:
  void Enqueue(int kind, const std::string& camera, const std::string& payload);

  std::shared_ptr<State> state_;
};

}  // namespace qmr
