#include "platform/win32/system_message.h"

namespace vexa::win32 {

std::string SystemMessage(DWORD Error) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, Error, 0, text, sizeof text, nullptr);
  std::string reason(text, n);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.'))
    reason.pop_back();
  if (reason.empty())
    reason = "error " + std::to_string(Error);
  return reason;
}

} // namespace vexa::win32
