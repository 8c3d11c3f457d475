#include "mqtt/mqtt_publisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <set>

#include "base/log_file.h"
#include "config/settings.h"

namespace qmr {

namespace {

enum Kind { kMotionOn, kMotionOff, kEvent, kDiscovery };

constexpr int kQos = 1;
constexpr int kLoopWaitMs = 100;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;
constexpr int kAnswerTimeoutMs = 10000;
constexpr const char* kDiscoveryPrefix = "homeassistant";

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

struct MosquittoDeleter {
  void operator()(mosquitto* m) const { mosquitto_destroy(m); }
};
using MosquittoPtr = std::unique_ptr<mosquitto, MosquittoDeleter>;

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "qmr";
  return host;
}

// The connection's callbacks write here (on the publisher's thread, inside
// mosquitto_loop).
struct Session {
  bool answered = false;  // the broker's CONNACK came
  int refusal = 0;        // its refusal code, 0 = accepted
  bool lost = false;      // the connection went away after the answer
};

void OnConnect(mosquitto*, void* data, int rc) {
  auto* s = static_cast<Session*>(data);
  s->answered = true;
  s->refusal = rc;
}

void OnDisconnect(mosquitto*, void* data, int) { static_cast<Session*>(data)->lost = true; }

// A handle with login, TLS and (when willTopic is given) the last will set.
MosquittoPtr MakeClient(const MqttConfig& c, const std::string& clientId, Session* session,
                        const std::string& willTopic, std::string& error) {
  InitLibrary();
  MosquittoPtr m(mosquitto_new(clientId.c_str(), true, session));
  if (!m) {
    error = "the MQTT client cannot be created";
    return nullptr;
  }
  mosquitto_connect_callback_set(m.get(), &OnConnect);
  mosquitto_disconnect_callback_set(m.get(), &OnDisconnect);
  if (!c.user.empty() &&
      mosquitto_username_pw_set(m.get(), c.user.c_str(),
                                c.password.empty() ? nullptr : c.password.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    error = "the user name is not accepted";
    return nullptr;
  }
  if (!willTopic.empty()) {
    mosquitto_will_set(m.get(), willTopic.c_str(), 7, "offline", kQos, true);
  }
  if (c.tls) {
    const int rc =
        c.caFile.empty()
            ? mosquitto_tls_set(m.get(), nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
            : mosquitto_tls_set(m.get(), c.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("TLS cannot be set up: ") + mosquitto_strerror(rc);
      return nullptr;
    }
  }
  return m;
}

std::string Address(const MqttConfig& c) { return c.host + ":" + std::to_string(c.port); }

}  // namespace

MqttConfig MqttConfigFrom(const Settings& s) {
  MqttConfig c;
  if (!ParseMqttServer(s.mqttServer, s.mqttTls, c.host, c.port)) c.host.clear();
  c.user = s.mqttUser;
  c.password = s.mqttPassword;
  c.prefix = s.mqttTopic.empty() ? DefaultMqttTopic() : s.mqttTopic;
  while (c.prefix.size() > 1 && c.prefix.back() == '/') c.prefix.pop_back();
  c.caFile = s.mqttCaFile;
  c.tls = s.mqttTls;
  c.retain = s.mqttRetain;
  c.discovery = s.mqttDiscovery;
  return c;
}

bool ParseMqttServer(const std::string& server, bool tls, std::string& host, int& port) {
  const std::string text = TrimSpaces(server);
  port = tls ? 8883 : 1883;
  host.clear();
  if (text.empty()) return false;
  std::string portText;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portText = text.substr(close + 2);
    }
  } else {
    const std::size_t colon = text.rfind(':');
    // More than one colon without brackets: a bare IPv6 address.
    if (colon != std::string::npos && text.find(':') == colon) {
      host = text.substr(0, colon);
      portText = text.substr(colon + 1);
    } else {
      host = text;
    }
  }
  if (host.empty()) return false;
  if (!portText.empty()) {
    if (portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    port = std::stoi(portText);
    if (port < 1 || port > 65535) return false;
  }
  return true;
}

std::string MqttTopicLevel(const std::string& camera) {
  std::string out;
  bool gap = false;
  for (unsigned char c : camera) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    if (keep) {
      if (gap && !out.empty()) out += '_';
      gap = false;
      out += static_cast<char>(c);
    } else {
      gap = true;
    }
  }
  return out.empty() ? "camera" : out;
}

std::string IsoLocalTime(const SystemTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  std::tm normalised = tm;
  long offset = 0;
  if (mktime(&normalised) != static_cast<std::time_t>(-1)) offset = normalised.tm_gmtoff;
  const char sign = offset < 0 ? '-' : '+';
  offset = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.milliseconds, sign, offset / 3600,
                offset / 60 % 60);
  return text;
}

std::string MotionEventJson(const MotionEventInfo& e) {
  return "{\"camera\":" + JsonString(e.camera) + ",\"start\":" + JsonString(IsoLocalTime(e.start)) +
         ",\"end\":" + JsonString(IsoLocalTime(e.end)) +
         ",\"pictures\":" + std::to_string(e.pictures) +
         ",\"recording\":" + JsonString(e.recording) + ",\"archive\":" + JsonString(e.archive) +
         "}";
}

// ---- the publisher's shared state and thread ----------------------------------

struct MqttPublisher::State {
  struct Message {
    int kind;
    std::string camera;
    std::string payload;
  };

  explicit State(std::function<MqttConfig()> source) : config(std::move(source)) {}

  std::function<MqttConfig()> config;
  ThreadHandle handle{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> enabled{false};
  std::atomic<bool> connected{false};
  std::atomic<std::uint64_t> dropped{0};

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::deque<Message> queue;
  std::set<std::string> cameras;
  bool camerasChanged = false;
  bool dropLogged = false;

  static void ThreadMain(void* argument);
  void Run();
};

void MqttPublisher::State::ThreadMain(void* argument) {
  // The thread holds its own reference: a publisher that gave up waiting for
  // it cannot free the state under it.
  std::unique_ptr<std::shared_ptr<State>> self(static_cast<std::shared_ptr<State>*>(argument));
  (*self)->Run();
}

void MqttPublisher::State::Run() {
  const std::string clientId =
      "qmr-" + MqttTopicLevel(HostName()) + "-" + std::to_string(static_cast<long>(getpid()));
  MqttConfig c;
  bool haveConfig = false;
  Session session;
  MosquittoPtr client;
  bool socketOpen = false;  // a connection is being made or is up
  bool up = false;          // the broker accepted it
  std::uint32_t connectStarted = 0;
  std::uint32_t nextAttempt = TickCount();
  std::uint32_t nextConfig = TickCount();
  int retryMs = kFirstRetryMs;
  bool outageLogged = false;

  auto topic = [&](const Message& m) {
    const std::string level = MqttTopicLevel(m.camera);
    if (m.kind == kDiscovery) {
      return std::string(kDiscoveryPrefix) + "/binary_sensor/" + MqttTopicLevel(c.prefix) + "/" +
             level + "/config";
    }
    return c.prefix + "/" + level + (m.kind == kEvent ? "/event" : "/motion");
  };
  auto closeConnection = [&](bool sayOffline) {
    if (client && up && sayOffline) {
      const std::string status = c.prefix + "/status";
      mosquitto_publish(client.get(), nullptr, status.c_str(), 7, "offline", kQos, true);
      // Give the broker a moment to take the last messages.
      for (int i = 0; i < 10 && mosquitto_want_write(client.get()); ++i)
        mosquitto_loop(client.get(), 50, 1);
      mosquitto_disconnect(client.get());
      mosquitto_loop(client.get(), 50, 1);
    }
    client.reset();
    socketOpen = up = false;
    connected = false;
  };
  auto failed = [&](const std::string& why) {
    if (!outageLogged) {
      LogFile::Write("MQTT broker " + Address(c) + ": " + why + "; trying again in the background");
      outageLogged = true;
    }
    client.reset();
    socketOpen = up = false;
    connected = false;
    nextAttempt = TickCount() + static_cast<std::uint32_t>(retryMs);
    retryMs = std::min(retryMs * 2, kLastRetryMs);
  };
  auto wait = [&](int ms) {
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop.load(); });
  };

  while (!stop.load()) {
    const std::uint32_t now = TickCount();
    if (static_cast<std::int32_t>(now - nextConfig) >= 0) {
      MqttConfig fresh = config ? config() : MqttConfig{};
      if (!haveConfig || !(fresh == c)) {
        closeConnection(true);
        c = std::move(fresh);
        haveConfig = true;
        enabled = !c.host.empty();
        retryMs = kFirstRetryMs;
        nextAttempt = now;
        outageLogged = false;
      }
      nextConfig = now + 1000;
    }
    if (!enabled.load()) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        queue.clear();
      }
      wait(200);
      continue;
    }
    if (!socketOpen) {
      if (static_cast<std::int32_t>(now - nextAttempt) < 0) {
        wait(kLoopWaitMs);
        continue;
      }
      std::string error;
      session = Session{};
      client = MakeClient(c, clientId, &session, c.prefix + "/status", error);
      if (!client) {
        failed(error);
        continue;
      }
      const int rc =
          mosquitto_connect_async(client.get(), c.host.c_str(), c.port, kKeepAliveSeconds);
      if (rc != MOSQ_ERR_SUCCESS) {
        failed(rc == MOSQ_ERR_ERRNO ? std::string("cannot connect") : mosquitto_strerror(rc));
        continue;
      }
      socketOpen = true;
      connectStarted = now;
    }

    const int rc = mosquitto_loop(client.get(), kLoopWaitMs, 1);
    if (session.answered && session.refusal != 0) {
      failed(std::string("connection refused: ") + mosquitto_connack_string(session.refusal));
      continue;
    }
    if (rc != MOSQ_ERR_SUCCESS || session.lost) {
      failed(up ? "connection lost" : "cannot connect");
      continue;
    }
    if (!session.answered) {
      if (static_cast<std::uint32_t>(TickCount() - connectStarted) > kAnswerTimeoutMs)
        failed("no answer");
      continue;
    }

    if (!up) {
      up = true;
      connected = true;
      retryMs = kFirstRetryMs;
      LogFile::Write("MQTT broker " + Address(c) + ": connected");
      outageLogged = false;
      const std::string status = c.prefix + "/status";
      mosquitto_publish(client.get(), nullptr, status.c_str(), 6, "online", kQos, true);
      std::lock_guard<std::mutex> lock(mutex);
      camerasChanged = true;  // announce every camera on each connection
      dropLogged = false;
    }

    // Discovery messages, then the queue in order.
    std::vector<Message> batch;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (camerasChanged && c.discovery) {
        for (const std::string& camera : cameras) {
          const std::string level = MqttTopicLevel(camera);
          const std::string node = MqttTopicLevel(c.prefix);
          const std::string payload =
              "{\"name\":" + JsonString(camera) +
              ",\"unique_id\":" + JsonString(node + "_" + level) +
              ",\"state_topic\":" + JsonString(c.prefix + "/" + level + "/motion") +
              ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\",\"device_class\":\"motion\"" +
              ",\"availability_topic\":" + JsonString(c.prefix + "/status") +
              ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
              ",\"json_attributes_topic\":" + JsonString(c.prefix + "/" + level + "/event") +
              ",\"device\":{\"identifiers\":[" + JsonString(node) +
              "],\"name\":" + JsonString("Quelmar Video Capture " + HostName()) + "}}";
          batch.push_back(Message{kDiscovery, camera, payload});
        }
      }
      camerasChanged = false;
      while (!queue.empty()) {
        batch.push_back(std::move(queue.front()));
        queue.pop_front();
      }
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
      const Message& m = batch[i];
      const std::string t = topic(m);
      const bool retain =
          m.kind == kDiscovery || ((m.kind == kMotionOn || m.kind == kMotionOff) && c.retain);
      const int prc =
          mosquitto_publish(client.get(), nullptr, t.c_str(), static_cast<int>(m.payload.size()),
                            m.payload.data(), kQos, retain);
      if (prc != MOSQ_ERR_SUCCESS) {
        // Put back what was not sent, in order, for the next connection.
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t j = batch.size(); j > i; --j) {
          if (batch[j - 1].kind != kDiscovery) queue.push_front(std::move(batch[j - 1]));
        }
        while (queue.size() > kQueueLimit) queue.pop_front();
        break;
      }
    }
  }
  closeConnection(true);
  enabled = false;
}

// ---- the public side ------------------------------------------------------------

MqttPublisher::MqttPublisher(std::function<MqttConfig()> config)
    : state_(std::make_shared<State>(std::move(config))) {}

MqttPublisher::~MqttPublisher() { Stop(); }

bool MqttPublisher::Start() {
  if (state_->handle.load() != 0) return true;
  InitLibrary();
  state_->stop = false;
  auto* ref = new std::shared_ptr<State>(state_);
  if (!StartThread(&State::ThreadMain, ref, state_->handle)) {
    delete ref;
    return false;
  }
  return true;
}

bool MqttPublisher::Stop(int timeoutMs) {
  if (state_->handle.load() == 0) return true;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stop = true;
  }
  state_->wake.notify_all();
  return WaitForThreadEnd(state_->handle, timeoutMs, "MQTT");
}

void MqttPublisher::Enqueue(int kind, const std::string& camera, const std::string& payload) {
  State& s = *state_;
  if (!s.enabled.load()) return;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.queue.size() >= kQueueLimit) {
    s.queue.pop_front();
    s.dropped.fetch_add(1);
    if (!s.dropLogged) {
      s.dropLogged = true;
      LogFile::Write("MQTT: the broker is away and the queue is full; older messages are dropped");
    }
  }
  s.queue.push_back(State::Message{kind, camera, payload});
  s.wake.notify_all();
}

void MqttPublisher::MotionStarted(const std::string& camera) { Enqueue(kMotionOn, camera, "ON"); }

void MqttPublisher::MotionEnded(const MotionEventInfo& event) {
  Enqueue(kMotionOff, event.camera, "OFF");
  Enqueue(kEvent, event.camera, MotionEventJson(event));
}

void MqttPublisher::AddCamera(const std::string& camera) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->cameras.insert(camera).second) state_->camerasChanged = true;
}

bool MqttPublisher::Connected() const { return state_->connected.load(); }

std::size_t MqttPublisher::Queued() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->queue.size();
}

std::uint64_t MqttPublisher::Dropped() const { return state_->dropped.load(); }

bool MqttPublisher::Probe(const MqttConfig& c, std::string& message, int timeoutMs) {
  if (c.host.empty()) {
    message = "No MQTT server is set.";
    return false;
  }
  Session session;
  std::string error;
  MosquittoPtr client =
      MakeClient(c, "qmr-test-" + std::to_string(static_cast<long>(getpid())), &session, "", error);
  if (!client) {
    message = "Cannot connect to " + Address(c) + ": " + error + ".";
    return false;
  }
  int rc = mosquitto_connect_async(client.get(), c.host.c_str(), c.port, kKeepAliveSeconds);
  const std::uint32_t start = TickCount();
  while (rc == MOSQ_ERR_SUCCESS && !session.answered && !session.lost &&
         static_cast<std::uint32_t>(TickCount() - start) < static_cast<std::uint32_t>(timeoutMs)) {
    rc = mosquitto_loop(client.get(), 50, 1);
  }
  if (session.answered && session.refusal == 0) {
    mosquitto_disconnect(client.get());
    mosquitto_loop(client.get(), 50, 1);
    message = "Connected to the MQTT broker " + Address(c) + ".";
    return true;
  }
  if (session.answered) {
    message = "The MQTT broker " + Address(c) +
              " refused the connection: " + mosquitto_connack_string(session.refusal) + ".";
  } else if (rc != MOSQ_ERR_SUCCESS || session.lost) {
    message = "Cannot connect to " + Address(c) + (c.tls ? " (TLS)" : "") + ": " +
              (rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_SUCCESS ? std::string("connection failed")
                                                              : mosquitto_strerror(rc)) +
              ".";
  } else {
    message = "The MQTT broker " + Address(c) + " did not answer in time.";
  }
  return false;
}

}  // namespace qmr
