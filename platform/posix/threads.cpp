#include "platform/threads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vexa::platform {

unsigned ProcessorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

struct Thread::Running {
  std::thread Handle;
};

Thread::Thread(std::function<void()> Body)
    : Self(new Running{std::thread([Body = std::move(Body)]() noexcept { Body(); })}) {}

Thread::Thread(Thread&&) noexcept = default;

Thread::~Thread() {
  if (Self)
    Self->Handle.join();
}

struct Monitor::State {
  std::mutex Mutex;
  std::condition_variable Changed;
};

Monitor::Monitor() : Self(new State) {}
Monitor::~Monitor() = default;

Monitor::Lock::Lock(Monitor& Owner) : Owner(Owner) { Owner.Self->Mutex.lock(); }
Monitor::Lock::~Lock() { Owner.Self->Mutex.unlock(); }

void Monitor::Lock::Wait() {
  std::unique_lock held(Owner.Self->Mutex, std::adopt_lock);
  Owner.Self->Changed.wait(held);
  held.release();
}

void Monitor::NotifyAll() { Self->Changed.notify_all(); }

} // namespace vexa::platform
