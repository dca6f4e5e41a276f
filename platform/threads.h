#pragma once
// Threads for the tool's parallel packing: a thread that runs one function until it is
// joined, and a lock with the one condition its holders wait on. POSIX builds use the C++
// library's threads; the Windows builds use the system's own, since their toolchain's
// thread model has no std::thread and a threading library beside vexa.exe is one more
// file to ship.

#include <functional>
#include <memory>

namespace vexa::platform {

// The processors this program's threads can run on; at least 1.
unsigned ProcessorCount();

class Thread {
public:
  // Starts running Body on a thread of its own; raises std::runtime_error (std::system_error
  // on POSIX) when the system cannot start one. An exception that leaves Body ends the
  // program, as one leaving a std::thread does.
  explicit Thread(std::function<void()> Body);
  // Joins the thread.
  ~Thread();
  Thread(Thread&&) noexcept;
  Thread& operator=(Thread&&) = delete;

private:
  struct Running;
  std::unique_ptr<Running> Self;
};

// A lock and a condition: a holder waits until what it needs holds, and whoever changes
// what it waits on, under the lock, tells every waiter with NotifyAll.
class Monitor {
public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  // Holds the monitor's lock for as long as it lives.
  class Lock {
  public:
    explicit Lock(Monitor& Owner);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Lets the lock go until Ready() holds; Ready is asked with the lock held.
    template <class Predicate> void WaitUntil(Predicate Ready) {
      while (!Ready())
        Wait();
    }

  private:
    // Lets the lock go until a NotifyAll (or a spurious wake-up), then takes it again.
    void Wait();
    Monitor& Owner;
  };

  // Wakes every waiter to look again; with or without the lock.
  void NotifyAll();

private:
  struct State;
  std::unique_ptr<State> Self;
};

} // namespace vexa::platform
