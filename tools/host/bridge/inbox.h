// Messages from the broker on their way to the one thread that calls TavMain: libmosquitto's
// thread puts each in, the bridge's thread takes them out between its transfers, waiting for one
// no longer than until its next poll is due. The queue is bounded by count and by bytes, so that
// a flood of writes is turned away at once rather than held in memory and carried out minutes
// late; a message that waited longer than its lifetime is taken out marked expired.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace tavhost::bridge {

struct InboundMessage {
  std::string topic;
  std::string payload;
  bool retained = false;  // delivered from the broker's store, not sent just now
  std::chrono::steady_clock::time_point arrived{};
  bool expired = false;  // set by Take: it waited longer than the inbox's lifetime
};

struct InboxLimits {
  size_t messages = 1000;
  size_t bytes = size_t{1} << 20;  // topics and payloads together
  std::chrono::milliseconds lifetime{10'000};
};

class Inbox {
 public:
  explicit Inbox(InboxLimits limits = {}) : limits_(limits) {}

  // Queues `message`; false, with nothing queued, when the queue holds as many messages or bytes
  // as its limits allow.
  bool Put(InboundMessage message) {
    const size_t size = message.topic.size() + message.payload.size();
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (messages_.size() >= limits_.messages || bytes_ + size > limits_.bytes) return false;
      bytes_ += size;
      messages_.push_back(std::move(message));
    }
    arrived_.notify_one();
    return true;
  }

  // The oldest message, waiting for one until `deadline`; none when none came.
  std::optional<InboundMessage> Take(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_until(lock, deadline, [this] { return !messages_.empty(); })) {
      return std::nullopt;
    }
    InboundMessage message = std::move(messages_.front());
    messages_.pop_front();
    bytes_ -= message.topic.size() + message.payload.size();
    message.expired = std::chrono::steady_clock::now() - message.arrived > limits_.lifetime;
    return message;
  }

  void SetLifetime(std::chrono::milliseconds lifetime) {
    const std::lock_guard<std::mutex> lock(mutex_);
    limits_.lifetime = lifetime;
  }

 private:
  InboxLimits limits_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<InboundMessage> messages_;
  size_t bytes_ = 0;
};

}  // namespace tavhost::bridge
