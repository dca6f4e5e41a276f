#include "cli/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vexa::tool {

namespace {
constexpr int BarWidth = 30;
constexpr int NameWidth = 32;
} // namespace

void TProgress::Step(std::size_t Index, const std::string& Name) {
  if (!Enabled || Total == 0)
    return;
  const int filled = static_cast<int>(BarWidth * Index / Total);
  std::fprintf(stderr, "\r[%-*.*s] %zu/%zu %-*.*s", BarWidth, filled,
               "##############################", Index + 1, Total, NameWidth, NameWidth,
               Name.c_str());
  std::fflush(stderr);
}

void TProgress::Done() {
  if (Enabled && Total != 0)
    std::fprintf(stderr, "\r%*s\r", BarWidth + NameWidth + 20, "");
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr));
#else
  return ::isatty(STDERR_FILENO);
#endif
}

} // namespace vexa::tool
