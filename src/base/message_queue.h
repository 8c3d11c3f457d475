// A first-in first-out thread message queue: post from any thread, a blocking
// wait on the receiving thread, and a quit message that ends the wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace qmr {

template <typename Message>
class MessageQueue {
 public:
  // Adds a message at the end. False once the queue has been closed.
  bool Post(Message message) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
      messages_.push_back(std::move(message));
    }
    ready_.notify_one();
    return true;
  }

  // Asks the receiver to end: Wait returns nothing once the messages posted
  // before the quit have been taken.
  void PostQuit() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    ready_.notify_all();
  }

  // Blocks until a message arrives (returned) or quit was posted and every
  // earlier message taken (nothing returned).
  std::optional<Message> Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return !messages_.empty() || quit_; });
    return TakeLocked();
  }

  // As Wait, but gives up after timeoutMs with nothing.
  std::optional<Message> WaitFor(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return !messages_.empty() || quit_; });
    return TakeLocked();
  }

  bool QuitPosted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_;
  }

  // Refuses every later post and drops what is queued (the receiver ended).
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    messages_.clear();
  }

  // As Close, but hands back what was queued, in order.
  std::deque<Message> CloseAndTake() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    std::deque<Message> left;
    left.swap(messages_);
    return left;
  }

  // Opens the queue again for a new receiver.
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
    quit_ = false;
    messages_.clear();
  }

  std::size_t Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }

 private:
  std::optional<Message> TakeLocked() {
    if (messages_.empty()) return std::nullopt;
    Message m = std::move(messages_.front());
    messages_.pop_front();
    return m;
  }

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Message> messages_;
  bool quit_ = false;
  bool closed_ = false;
};

}  // namespace qmr
