// Plays one sound file at a time through SDL audio, asynchronously, once or
// looping. The file (WAV, FLAC, OGG and whatever else libsndfile reads) is
// decoded completely before playback starts, so playback never touches the
// disk. Playing a new sound replaces the current one. Safe to call from any
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace qmr {

class AudioPlayer {
 public:
  AudioPlayer();
  virtual ~AudioPlayer();
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;

  // Starts playing path, replacing whatever plays now. False when the file
  // cannot be decoded or no audio device can be opened (both are logged);
  // the program carries on without sound then.
  virtual bool Play(const std::string& path, bool loop);
  // Silences the current sound. Nothing happens when nothing plays.
  virtual void Stop();
  // True while a sound is audible (a looping one until Stop).
  virtual bool IsPlaying() const;
  // True once a sound could not be played because no audio device opens
  // (the status bar notes it); any thread.
  static bool NoAudioDevice();
  static void SetNoAudioDevice(bool none);  // tests

 private:
  struct Playback;
  void CloseLocked();

  mutable std::mutex mutex_;
  std::uint32_t device_ = 0;  // SDL audio device id, 0 when closed
  std::unique_ptr<Playback> playback_;
  bool sdlReady_ = false;
};

}  // namespace qmr
