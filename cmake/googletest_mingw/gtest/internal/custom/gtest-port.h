// GoogleTest's own customisation point, for the MinGW toolchain's win32 thread model, which has no
// std::mutex or std::condition_variable. GoogleTest builds its Notification from those; it only
// lets GoogleTest's own thread helpers wait for their controller, which the project's tests never
// start. This one waits on an atomic flag instead.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
