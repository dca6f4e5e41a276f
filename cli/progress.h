#pragma once
// A one-line progress display on stderr for long packs and extracts; silent unless
// enabled (the tool enables it when stderr is a terminal).

#include <cstddef>
#include <string>

namespace vexa::tool {

class TProgress {
public:
  TProgress(bool Enabled, std::size_t Total) : Enabled(Enabled), Total(Total) {}
  // Item Index (from 0) named Name is being worked on.
  void Step(std::size_t Index, const std::string& Name);
  // Clears the line.
  void Done();

private:
  bool Enabled;
  std::size_t Total;
};

// Whether stderr is a terminal, where a progress line helps rather than clutters a log.
bool StderrIsTerminal();

} // namespace vexa::tool
