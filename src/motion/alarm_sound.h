// The alarm shared by every camera. Each camera whose motion period begins
// with a looping alarm adds itself to the alarm count; the sound starts with
// the first one and is silenced only when the last one has ended its period.
// One sound channel serves the whole program: the folder dialog's test sound
// plays through it too, and the main window's "Stop alarm" silences whatever
// plays.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace qmr {

class AudioPlayer;

class AlarmSound {
 public:
  AlarmSound();
  // Plays through the given player (tests pass a counting double).
  explicit AlarmSound(std::unique_ptr<AudioPlayer> player);
  ~AlarmSound();
  AlarmSound(const AlarmSound&) = delete;
  AlarmSound& operator=(const AlarmSound&) = delete;

  void SetSoundFile(const std::string& name);
  std::string SoundFile() const;

  // loop: the calling camera joins the alarm count (it must call Stop once
  // when its period ends, whatever the result) and the sound repeats until
  // the count falls back to 0. Without loop the sound plays once and the
  // count is left alone. False when there is no sound file, the alarm already
  // sounds, or the sound cannot be played.
  bool Start(bool loop);
  // One camera's period has ended: leaves the alarm count; when it reaches 0
  // the looping sound is silenced. False while other cameras still count or
  // when nothing was playing.
  bool Stop();
  // The main window's "Stop alarm": silences the sound playing now, the
  // alarm and a test sound alike. The count is kept, so a camera whose
  // period begins later sounds the alarm again.
  void Silence();
  // The folder dialog's "Play": plays a file at once, replacing any sound.
  bool PlayFile(const std::string& path, bool loop);

  int Count() const;
  bool IsPlaying() const;

 private:
  std::unique_ptr<AudioPlayer> player_;
  mutable std::mutex mutex_;
  std::string soundFile_;
  int count_ = 0;
  bool playing_ = false;
};

}  // namespace qmr
