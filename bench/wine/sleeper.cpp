// sleeper.exe: the setup program of the waiting benchmark. It does nothing for the given
// number of seconds (compiled in: the stub starts its program without arguments) and ends
// with exit code 0, so the stub deletes the files without asking.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#ifndef SLEEP_SECONDS
#define SLEEP_SECONDS 10
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ::Sleep(SLEEP_SECONDS * 1000);
  return 0;
}
