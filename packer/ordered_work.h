#pragma once
// Work on numbered items spread over threads, finished in item order: the results of a
// parallel run are taken in the same order, on the same thread, as those of a run on
// one thread, so nothing that depends on that order can tell them apart.

#include <cstddef>
#include <functional>
#include <optional>

namespace vexa::tool {

// The workers a run over Count items uses: Wanted, else as many as there are processors;
// no more than there are items.
std::size_t WorkerCount(std::optional<std::size_t> Wanted, std::size_t Count);

// Runs Work(Worker, Item) for every Item below Count, on Workers threads numbered from 0
// (on the calling thread when Workers is 1), and Deliver(Item) on the calling thread in
// item order, each once Work for it is done. At most Ahead items (at least Workers) are
// started and not yet delivered at any time. The first exception in item order, from
// Work or Deliver, ends the run: no more work starts, the threads are joined, and it
// propagates.
void RunInItemOrder(std::size_t Count, std::size_t Workers, std::size_t Ahead,
                    const std::function<void(std::size_t Worker, std::size_t Item)>& Work,
                    const std::function<void(std::size_t Item)>& Deliver);

} // namespace vexa::tool
