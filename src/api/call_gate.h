// CallGate: counts the calls running on an object that another thread may
// destroy. Once the gate is shut no call enters any more, and the destroying
// thread waits (bounded) until the calls inside have left before it frees
// the object.
#pragma once

#include <condition_variable>
#include <mutex>

namespace zel {

class CallGate {
 public:
  // Enters a call. Returns false (the call must not touch the object) once
  // the gate is shut.
  bool Enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_) return false;
    ++inside_;
    return true;
  }

  // Leaves a call that Enter let in.
  void Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inside_ == 0) idle_.notify_all();
  }

  // Lets no further call in. Returns at once.
  void Shut() {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_ = true;
  }

  // Waits at most `limit` until no call is inside. Returns true when none is.
  bool WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return inside_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  int inside_ = 0;
  bool shut_ = false;
};

}  // namespace zel
