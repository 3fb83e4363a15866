// Messages from the broker on their way to the one thread that calls TavMain: libmosquitto's
// thread puts each in, the bridge's thread takes them out between its transfers, waiting for one
// no longer than until its next poll is due.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace tavhost::bridge {

struct InboundMessage {
  std::string topic;
  std::string payload;
};

class Inbox {
 public:
  void Put(InboundMessage message) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(message));
    }
    arrived_.notify_one();
  }

  // The oldest message, waiting for one until `deadline`; none when none came.
  std::optional<InboundMessage> Take(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_until(lock, deadline, [this] { return !messages_.empty(); })) {
      return std::nullopt;
    }
    InboundMessage message = std::move(messages_.front());
    messages_.pop_front();
    return message;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<InboundMessage> messages_;
};

}  // namespace tavhost::bridge
