#pragma once
// A one-line progress display on stderr for long packs and extracts, counted in bytes of
// input and fed from any number of threads; silent unless enabled (the tool enables it
// when stderr is a terminal). After a few seconds it estimates the time left.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace vexa::tool {

class TProgress {
public:
  TProgress(bool Enabled, std::uint64_t TotalBytes);
  // Count more bytes done. Safe from any thread; redraws at most a few times a second.
  void Advance(std::uint64_t Count);
  // Clears the line.
  void Done();

private:
  using Clock = std::chrono::steady_clock;
  void Draw(std::uint64_t DoneBytes, Clock::duration Elapsed);

  const bool Enabled;
  const std::uint64_t Total;
  const Clock::time_point Started;
  std::atomic<std::uint64_t> DoneBytes{0};
  // Ticks since Started of the last redraw; a thread redraws only after claiming it.
  std::atomic<Clock::rep> LastDraw{0};
};

// Whether stderr is a terminal, where a progress line helps rather than clutters a log.
bool StderrIsTerminal();

} // namespace vexa::tool
