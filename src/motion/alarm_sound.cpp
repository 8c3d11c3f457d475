#include "motion/alarm_sound.h"

#include "platform/audio_player.h"

namespace qmr {

AlarmSound::AlarmSound() : player_(std::make_unique<AudioPlayer>()) {}

AlarmSound::AlarmSound(std::unique_ptr<AudioPlayer> player) : player_(std::move(player)) {}

AlarmSound::~AlarmSound() = default;

void AlarmSound::SetSoundFile(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  soundFile_ = name;
}

std::string AlarmSound::SoundFile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return soundFile_;
}

// The whole operation runs under the lock (the count, the playing flag and
// the player together), so two cameras entering or leaving motion at the same
// moment can neither start the sound twice nor silence a sound that another
// camera has just joined.
bool AlarmSound::Start(bool loop) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The count is joined before anything can fail, so the caller's one Stop
  // at the end of its period always balances it.
  if (loop) ++count_;
  if (soundFile_.empty()) return false;
  if (playing_) return false;
  if (!player_->Play(soundFile_, loop)) return false;
  if (loop) playing_ = true;
  return true;
}

bool AlarmSound::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ > 0) --count_;
  if (count_ != 0) return false;
  if (!playing_) return false;
  player_->Stop();
  playing_ = false;
  return true;
}

void AlarmSound::Silence() {
  std::lock_guard<std::mutex> lock(mutex_);
  player_->Stop();
  playing_ = false;
}

bool AlarmSound::PlayFile(const std::string& path, bool loop) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path.empty()) return false;
  // A test sound replaces the alarm; the alarm counts as silenced, so the
  // next camera whose period begins sounds it again.
  playing_ = false;
  return player_->Play(path, loop);
}

int AlarmSound::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool AlarmSound::IsPlaying() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playing_;
}

}  // namespace qmr
