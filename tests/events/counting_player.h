// A sound channel for tests: counts what the alarm asks of it, plays nothing.
#pragma once

#include <atomic>
#include <string>

#include "platform/audio_player.h"

namespace qmr::testing {

// Counts what the alarm asks of the sound channel; plays nothing.
class CountingPlayer : public AudioPlayer {
 public:
  bool Play(const std::string& path, bool loop) override {
    ++plays;
    lastPath = path;
    lastLoop = loop;
    audible = true;
    return playResult;
  }
  void Stop() override {
    ++stops;
    audible = false;
  }
  bool IsPlaying() const override { return audible; }
  std::atomic<int> plays{0}, stops{0};
  std::string lastPath;
  std::atomic<bool> lastLoop{false}, audible{false};
  // What Play answers: false stands for a sound that could not be played.
  std::atomic<bool> playResult{true};
};

}  // namespace qmr::testing
