#include "app/message_pump.h"

#include "platform/win32/windows.h"
#include "runtime/failure_policy.h"

namespace vexa {

bool PumpOneMessage() {
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    return false;
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
  return true;
}

void WaitForQueue() {
  ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void MessageLoop() {
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  ExitProcessNormally();
}

} // namespace vexa
