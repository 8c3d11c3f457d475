#include "platform/audio_player.h"

#include <SDL.h>
#include <dlfcn.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/log_file.h"

namespace qmr {

namespace {

// An alarm sound is a few seconds long; anything beyond ten minutes of
// stereo audio at 48 kHz is refused rather than decoded into memory.
constexpr sf_count_t kMaxSamples = 48000LL * 2 * 600;

struct SndFileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};

// SDL's own messages go to the log rather than to the terminal.
void LogSdlMessage(void*, int, SDL_LogPriority priority, const char* message) {
  if (priority >= SDL_LOG_PRIORITY_WARN && message != nullptr) {
    LogFile::Write(std::string("Audio: ") + message);
  }
}

// ALSA prints every failed probe of a missing sound card on the terminal;
// its messages go to the log, at most a few per run.
extern "C" void LogAlsaMessage(const char*, int, const char*, int, const char* format, ...) {
  static std::atomic<int> written{0};
  if (format == nullptr || written.fetch_add(1) >= 5) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  LogFile::Write(std::string("Audio (ALSA): ") + text);
}

void RouteAudioMessagesToLog() {
  SDL_LogSetOutputFunction(&LogSdlMessage, nullptr);
  // Loaded by SDL itself when it uses ALSA; found, not loaded, here.
  void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
  if (alsa == nullptr) return;
  using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetHandler = int (*)(Handler);
  if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
    set(&LogAlsaMessage);
  }
  dlclose(alsa);
}

}  // namespace

// The decoded sound and the read position of the audio callback. The
// callback runs on SDL's audio thread; the position and the end flag are only
// touched there while the device is open, and read here after it is closed
// or through the atomic.
struct AudioPlayer::Playback {
  std::vector<std::int16_t> samples;
  std::size_t position = 0;
  bool loop = false;
  std::atomic<bool> finished{false};

  static void Fill(void* userdata, Uint8* stream, int len) {
    auto* self = static_cast<Playback*>(userdata);
    auto* out = reinterpret_cast<std::int16_t*>(stream);
    std::size_t wanted = static_cast<std::size_t>(len) / sizeof(std::int16_t);
    std::size_t written = 0;
    const std::size_t total = self->samples.size();
    while (written < wanted && total > 0) {
      if (self->position >= total) {
        if (!self->loop) break;
        self->position = 0;
      }
      std::size_t n = std::min(wanted - written, total - self->position);
      std::memcpy(out + written, self->samples.data() + self->position, n * sizeof(std::int16_t));
      written += n;
      self->position += n;
    }
    if (written < wanted) {
      std::memset(out + written, 0, (wanted - written) * sizeof(std::int16_t));
      self->finished.store(true);
    }
  }
};

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
  if (sdlReady_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioPlayer::CloseLocked() {
  if (device_ != 0) {
    // Closing waits for a running callback, so the playback can go after it.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
  }
  playback_.reset();
}

bool AudioPlayer::Play(const std::string& path, bool loop) {
  if (path.empty()) return false;

  // Decode outside the lock: a long file must not hold up Stop.
  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    LogFile::Write("Sound file " + path + " can not be read: " + sf_strerror(nullptr));
    return false;
  }
  if (info.channels < 1 || info.channels > 8 || info.samplerate <= 0 || info.frames <= 0 ||
      info.frames > kMaxSamples / info.channels) {
    LogFile::Write("Sound file " + path + " has no playable sound");
    return false;
  }
  auto playback = std::make_unique<Playback>();
  playback->loop = loop;
  playback->samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  sf_count_t got = sf_readf_short(file.get(), playback->samples.data(), info.frames);
  if (got <= 0) {
    LogFile::Write("Sound file " + path + " has no playable sound");
    return false;
  }
  playback->samples.resize(static_cast<std::size_t>(got * info.channels));

  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
  if (!sdlReady_) {
    SDL_LogSetOutputFunction(&LogSdlMessage, nullptr);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      LogFile::Write(std::string("Audio can not be started: ") + SDL_GetError());
      SetNoAudioDevice(true);
      return false;
    }
    RouteAudioMessagesToLog();
    sdlReady_ = true;
  }
  SDL_AudioSpec want{};
  want.freq = info.samplerate;
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<Uint8>(info.channels);
  want.samples = 2048;
  want.callback = &Playback::Fill;
  want.userdata = playback.get();
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts our format to the device's itself.
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device == 0) {
    // Said once per run: the alarm tries again on every motion.
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
      LogFile::Write(std::string("No audio device can be opened: ") + SDL_GetError());
    }
    SetNoAudioDevice(true);
    return false;
  }
  device_ = device;
  playback_ = std::move(playback);
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

namespace {
std::atomic<bool> noAudioDevice{false};
}  // namespace

bool AudioPlayer::NoAudioDevice() { return noAudioDevice.load(); }
void AudioPlayer::SetNoAudioDevice(bool none) { noAudioDevice.store(none); }

void AudioPlayer::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

bool AudioPlayer::IsPlaying() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_ != 0 && playback_ && !playback_->finished.load();
}

}  // namespace qmr
