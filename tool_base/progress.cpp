#include "tool_base/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vexa::tool {

namespace {
constexpr int BarWidth = 30;
constexpr int LineWidth = 80;
constexpr auto RedrawEvery = std::chrono::milliseconds(200);
// Early rates mislead (the first items may be small, or already in the page cache).
constexpr auto EstimateAfter = std::chrono::seconds(3);
constexpr double MiB = 1024.0 * 1024.0;
} // namespace

TProgress::TProgress(bool Enabled, std::uint64_t TotalBytes)
    : Enabled(Enabled && TotalBytes > 0), Total(TotalBytes), Started(Clock::now()) {}

void TProgress::Advance(std::uint64_t Count) {
  const std::uint64_t done = DoneBytes.fetch_add(Count) + Count;
  if (!Enabled)
    return;
  const Clock::duration elapsed = Clock::now() - Started;
  Clock::rep last = LastDraw.load();
  if (elapsed.count() - last < Clock::duration(RedrawEvery).count() ||
      !LastDraw.compare_exchange_strong(last, elapsed.count()))
    return;
  Draw(done, elapsed);
}

void TProgress::Draw(std::uint64_t Done, Clock::duration Elapsed) {
  const double share = Done >= Total ? 1.0 : static_cast<double>(Done) / Total;
  char left[32] = "";
  if (Elapsed >= EstimateAfter && Done > 0 && Done < Total) {
    const auto seconds = static_cast<long long>(
        std::chrono::duration<double>(Elapsed).count() * (1.0 - share) / share + 0.5);
    std::snprintf(left, sizeof left, ", %lld:%02lld left", seconds / 60, seconds % 60);
  }
  std::fprintf(stderr, "\r[%-*.*s] %3d%% %.1f of %.1f MiB%s%-*s", BarWidth,
               static_cast<int>(BarWidth * share), "##############################",
               static_cast<int>(100 * share), Done / MiB, Total / MiB, left, 8, "");
  std::fflush(stderr);
}

void TProgress::Done() {
  if (Enabled)
    std::fprintf(stderr, "\r%*s\r", LineWidth, "");
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr));
#else
  return ::isatty(STDERR_FILENO);
#endif
}

} // namespace vexa::tool
