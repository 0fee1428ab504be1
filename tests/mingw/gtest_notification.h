// GoogleTest's Notification for MinGW's win32 threading model, whose C++ library has no
// std::mutex or std::condition_variable to build GoogleTest's own on. Force-included into every
// translation unit that sees GoogleTest, so that all of them agree on the one definition.
//
// Only GoogleTest's thread helpers use it, to hold a new thread until it may run; our tests start
// no threads. Waiting spins on an atomic flag, which needs nothing from the threading model.
#pragma once

#ifdef __cplusplus

#include <atomic>
#include <thread>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  // Lets every thread waiting on this notification go on. Called by the controlling thread.
  void Notify() { notified_.store(true, std::memory_order_release); }

  // Returns once Notify has been called.
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) std::this_thread::yield();
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif  // __cplusplus
