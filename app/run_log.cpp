#include "app/run_log.h"

#include <cstdlib>

#include "platform/win32/ansi_path.h"
#include "platform/win32/windows.h"
#include "runtime/failure_policy.h"
#include "ui/message_boxes.h"

namespace vexa {

namespace {

HANDLE Log = INVALID_HANDLE_VALUE;
bool NobodyWatches = false;

std::string Utf8FromWide(const std::wstring& Text) {
  const int size = static_cast<int>(Text.size());
  std::string utf8(static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, Text.data(), size,
                                                                   nullptr, 0, nullptr, nullptr)),
                   '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), size, utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
  return utf8;
}

// Value in Width digits at At; no printf, which would add a fifth to the stub.
void PutDigits(char* At, unsigned Value, int Width) {
  for (int i = Width - 1; i >= 0; --i, Value /= 10)
    At[i] = static_cast<char>('0' + Value % 10);
}

void LogExitCode() { LogLine({"Exit code: ", std::to_string(RecordedExitCode())}); }

bool HearMessage(const std::wstring& Text) {
  LogLine({Text});
  if (NobodyWatches)
    RecordExitCode(1);
  return NobodyWatches;
}

} // namespace

void OpenRunLog(const std::string& Path) {
  if (Path.empty())
    return;
  // Several runs (or a deployment tool's own lines) may share one log: each write lands at
  // its end.
  Log = ::CreateFileA(Path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Log != INVALID_HANDLE_VALUE)
    std::atexit(LogExitCode);
}

void LogLine(std::initializer_list<std::string_view> Parts) {
  if (Log == INVALID_HANDLE_VALUE)
    return;
  std::string text;
  for (const std::string_view part : Parts)
    text += part;
  LogLine(win32::WideFromAnsi(text));
}

void LogLine(const std::wstring& Text) {
  if (Log == INVALID_HANDLE_VALUE)
    return;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[] = "yyyy-mm-dd hh:mm:ss ";
  PutDigits(stamp, now.wYear, 4);
  PutDigits(stamp + 5, now.wMonth, 2);
  PutDigits(stamp + 8, now.wDay, 2);
  PutDigits(stamp + 11, now.wHour, 2);
  PutDigits(stamp + 14, now.wMinute, 2);
  PutDigits(stamp + 17, now.wSecond, 2);
  std::string line = stamp;
  for (const char c : Utf8FromWide(Text))
    if (c != '\r')
      line += c == '\n' ? ' ' : c;
  line += "\r\n";
  DWORD written = 0;
  ::WriteFile(Log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void LogMessages(bool Unattended) {
  NobodyWatches = Unattended;
  SetMessageListener(HearMessage);
}

} // namespace vexa
