#include "packer/ordered_work.h"

#include <algorithm>
#include <exception>
#include <vector>

#ifdef VEXA_HAVE_THREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace vexa::tool {

namespace {

void RunOnThisThread(std::size_t Count,
                     const std::function<void(std::size_t, std::size_t)>& Work,
                     const std::function<void(std::size_t)>& Deliver) {
  for (std::size_t item = 0; item < Count; ++item) {
    Work(0, item);
    Deliver(item);
  }
}

#ifdef VEXA_HAVE_THREADS
class TOrderedRun {
public:
  TOrderedRun(std::size_t Count, std::size_t Ahead,
              const std::function<void(std::size_t, std::size_t)>& Work)
      : Count(Count), Ahead(Ahead), Work(Work), Finished(Count), Errors(Count) {}

  // Stops handing out items and joins the threads, on every way out of the run.
  ~TOrderedRun() {
    {
      const std::lock_guard lock(Mutex);
      Stopped = true;
    }
    Changed.notify_all();
    for (std::thread& thread : Threads)
      thread.join();
  }

  void Start(std::size_t Workers) {
    for (std::size_t worker = 0; worker < Workers; ++worker)
      Threads.emplace_back([this, worker] { WorkOn(worker); });
  }

  // Waits for Item's work and rethrows its exception. An exception stops new work only:
  // every item before the one that failed was started already, so each finishes.
  void AwaitItem(std::size_t Item) {
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [&] { return Finished[Item] != 0; });
    if (Errors[Item])
      std::rethrow_exception(Errors[Item]);
  }

  void Delivered(std::size_t Item) {
    {
      const std::lock_guard lock(Mutex);
      DeliveredCount = Item + 1;
    }
    Changed.notify_all();
  }

private:
  void WorkOn(std::size_t Worker) {
    for (;;) {
      std::size_t item;
      {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [&] { return Stopped || Next >= Count || Next < DeliveredCount + Ahead; });
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
        const std::lock_guard lock(Mutex);
        Finished[item] = true;
        if (error) {
          Errors[item] = error;
          Stopped = true;
        }
      }
      Changed.notify_all();
    }
  }

  const std::size_t Count;
  const std::size_t Ahead;
  const std::function<void(std::size_t, std::size_t)>& Work;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::size_t Next = 0;
  std::size_t DeliveredCount = 0;
  std::vector<char> Finished;
  std::vector<std::exception_ptr> Errors;
  bool Stopped = false;
  std::vector<std::thread> Threads;
};
#endif

} // namespace

std::size_t WorkerCount(std::optional<std::size_t> Wanted, std::size_t Count) {
#ifdef VEXA_HAVE_THREADS
  const std::size_t wanted = Wanted.value_or(std::max(1u, std::thread::hardware_concurrency()));
  return std::max<std::size_t>(1, std::min(wanted, Count));
#else
  (void)Wanted;
  (void)Count;
  return 1;
#endif
}

void RunInItemOrder(std::size_t Count, std::size_t Workers, std::size_t Ahead,
                    const std::function<void(std::size_t, std::size_t)>& Work,
                    const std::function<void(std::size_t)>& Deliver) {
#ifdef VEXA_HAVE_THREADS
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
#endif
  (void)Workers;
  (void)Ahead;
  RunOnThisThread(Count, Work, Deliver);
}

} // namespace vexa::tool
