#include "platform/threads.h"

#include <stdexcept>
#include <string>

#include "platform/win32/system_message.h"
#include "platform/win32/windows.h"

namespace vexa::platform {

// The processors of this process's processor group, which is where its threads run
// unless it places them in others.
unsigned ProcessorCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

struct Thread::Running {
  std::function<void()> Body;
  HANDLE Handle = nullptr;
};

namespace {

// 32-bit Windows starts a thread on a stack aligned to 4 bytes only, where the compiler's
// SSE code keeps 16-byte values (the C runtime realigns the main thread's stack itself).
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
DWORD WINAPI
RunBody(void* Running) noexcept {
  static_cast<std::function<void()>*>(Running)->operator()();
  return 0;
}

} // namespace

Thread::Thread(std::function<void()> Body) : Self(new Running{std::move(Body)}) {
  Self->Handle = ::CreateThread(nullptr, 0, RunBody, &Self->Body, 0, nullptr);
  if (!Self->Handle)
    throw std::runtime_error("cannot start a thread: " + win32::SystemMessage(::GetLastError()));
}

Thread::Thread(Thread&&) noexcept = default;

Thread::~Thread() {
  if (!Self)
    return;
  ::WaitForSingleObject(Self->Handle, INFINITE);
  ::CloseHandle(Self->Handle);
}

struct Monitor::State {
  SRWLOCK Lock = SRWLOCK_INIT;
  CONDITION_VARIABLE Changed = CONDITION_VARIABLE_INIT;
};

Monitor::Monitor() : Self(new State) {}
Monitor::~Monitor() = default;

Monitor::Lock::Lock(Monitor& Owner) : Owner(Owner) { ::AcquireSRWLockExclusive(&Owner.Self->Lock); }
Monitor::Lock::~Lock() { ::ReleaseSRWLockExclusive(&Owner.Self->Lock); }

void Monitor::Lock::Wait() {
  ::SleepConditionVariableSRW(&Owner.Self->Changed, &Owner.Self->Lock, INFINITE, 0);
}

void Monitor::NotifyAll() { ::WakeAllConditionVariable(&Self->Changed); }

} // namespace vexa::platform
