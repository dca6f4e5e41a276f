#pragma once
// How the tool refuses: a message for stderr and the exit code (1 for a failure, 2 for
// options that cannot work together).

#include <stdexcept>
#include <string>

namespace vexa::tool {

inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

class ToolError : public std::runtime_error {
public:
  explicit ToolError(const std::string& Message, int ExitCode = ExitFailure)
      : std::runtime_error(Message), Code(ExitCode) {}
  int ExitCode() const { return Code; }

private:
  int Code;
};

class UsageError : public ToolError {
public:
  explicit UsageError(const std::string& Message) : ToolError(Message, ExitUsage) {}
};

} // namespace vexa::tool
