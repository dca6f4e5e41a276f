#include "packer/ordered_work.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "platform/threads.h"

namespace vexa::tool {

namespace {

void RunOnThisThread(std::size_t Count, const std::function<void(std::size_t, std::size_t)>& Work,
                     const std::function<void(std::size_t)>& Deliver) {
  for (std::size_t item = 0; item < Count; ++item) {
    Work(0, item);
    Deliver(item);
  }
}

class TOrderedRun {
public:
  TOrderedRun(std::size_t Count, std::size_t Ahead,
              const std::function<void(std::size_t, std::size_t)>& Work)
      : Count(Count), Ahead(Ahead), Work(Work), Finished(Count), Errors(Count) {}

  // Stops handing out items and joins the threads, on every way out of the run.
  ~TOrderedRun() {
    {
      const platform::Monitor::Lock lock(Shared);
      Stopped = true;
    }
    Shared.NotifyAll();
    Threads.clear(); // each joins its thread
  }

  void Start(std::size_t Workers) {
    for (std::size_t worker = 0; worker < Workers; ++worker)
      Threads.emplace_back([this, worker] { WorkOn(worker); });
  }

  // Waits for Item's work and rethrows its exception. An exception stops new work only:
  // every item before the one that failed was started already, so each finishes.
  void AwaitItem(std::size_t Item) {
    platform::Monitor::Lock lock(Shared);
    lock.WaitUntil([&] { return Finished[Item] != 0; });
    if (Errors[Item])
      std::rethrow_exception(Errors[Item]);
  }

  void Delivered(std::size_t Item) {
    {
      const platform::Monitor::Lock lock(Shared);
      DeliveredCount = Item + 1;
    }
    Shared.NotifyAll();
  }

private:
  void WorkOn(std::size_t Worker) {
    for (;;) {
      std::size_t item;
      {
        platform::Monitor::Lock lock(Shared);
        lock.WaitUntil([&] { return Stopped || Next >= Count || Next < DeliveredCount + Ahead; });
        if (Stopped || Next >= Count)
          return;
        item = Next++;
      }
      std::exception_ptr error;
      try {
        Work(Worker, item);
      } catch (...) {
        error = std::current_exception();
      }
      {
        const platform::Monitor::Lock lock(Shared);
        Finished[item] = true;
        if (error) {
          Errors[item] = error;
          Stopped = true;
        }
      }
      Shared.NotifyAll();
    }
  }

  const std::size_t Count;
  const std::size_t Ahead;
  const std::function<void(std::size_t, std::size_t)>& Work;
  // Guards what follows, and tells of every change to it.
  platform::Monitor Shared;
  std::size_t Next = 0;
  std::size_t DeliveredCount = 0;
  std::vector<char> Finished;
  std::vector<std::exception_ptr> Errors;
  bool Stopped = false;
  std::vector<platform::Thread> Threads;
};

} // namespace

std::size_t WorkerCount(std::optional<std::size_t> Wanted, std::size_t Count) {
  const std::size_t wanted = Wanted.value_or(platform::ProcessorCount());
  return std::max<std::size_t>(1, std::min(wanted, Count));
}

void RunInItemOrder(std::size_t Count, std::size_t Workers, std::size_t Ahead,
                    const std::function<void(std::size_t, std::size_t)>& Work,
                    const std::function<void(std::size_t)>& Deliver) {
  if (Workers > 1) {
    TOrderedRun run(Count, std::max(Ahead, Workers), Work);
    run.Start(Workers);
    for (std::size_t item = 0; item < Count; ++item) {
      run.AwaitItem(item);
      Deliver(item);
      run.Delivered(item);
    }
    return;
  }
  RunOnThisThread(Count, Work, Deliver);
}

} // namespace vexa::tool
