// e2e_setup.exe: the setup program that the end-to-end archives carry. The stub starts it with no
// arguments, so it takes its orders from a file beside it: NAME.cfg for NAME.exe, one command a
// line. Orders on its command line, separated by ';', follow those of the file.
//
//   mark FILE     write FILE, holding the program's own path; FILE appears whole or not at all
//   args FILE     write FILE, holding the program's whole command line, the same way
//   delete FILE   delete FILE (the program ends with 90 when it cannot)
//   mkdir FOLDER  make FOLDER (the program ends with 91 when it cannot)
//   hold FILE     create FILE without sharing and keep it open until the program ends
//   title TEXT    the caption of the message boxes that follow (at first "E2E Setup")
//   box TEXT      show TEXT in a message box and wait for OK
//   sleep MS      wait
//   exit CODE     end with CODE (decimal, or hexadecimal after 0x); without it the code is 0
//
// A FILE without a colon is taken relative to the program's own folder. An unknown command or a
// file that cannot be written ends the program with 91. Paths are UTF-8 here and UTF-16 for the
// system, so the program runs from folders that the ANSI code page cannot spell; its own path
// is written in UTF-8.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT kDeleteFailed = 90;
constexpr UINT kBadOrder = 91;

std::wstring Wide(const std::string& utf8) {
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
  wide.resize(wide.empty() ? 0 : wide.size() - 1);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
  utf8.resize(utf8.empty() ? 0 : utf8.size() - 1);
  return utf8;
}

std::string OwnPath() {
  wchar_t path[32768] = L"";
  GetModuleFileNameW(nullptr, path, 32768);
  return Utf8(path);
}

std::string Resolve(const std::string& name) {
  if (name.find(':') != std::string::npos) return name;
  std::string own = OwnPath();
  return own.substr(0, own.find_last_of('\\') + 1) + name;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    std::string part = text.substr(start, end == std::string::npos ? end : end - start);
    size_t first = part.find_first_not_of(" \t\r");
    size_t last = part.find_last_not_of(" \t\r");
    if (first != std::string::npos) parts.push_back(part.substr(first, last - first + 1));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::vector<std::string> Orders(const char* commandLine) {
  std::string own = OwnPath();
  std::string config = own.substr(0, own.find_last_of('.')) + ".cfg";
  std::string text;
  HANDLE file = CreateFileW(Wide(config).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
    CloseHandle(file);
  }
  std::vector<std::string> orders = Split(text, '\n');
  for (std::string& order : Split(commandLine, ';')) orders.push_back(order);
  return orders;
}

// Written under another name first, so that whoever waits for FILE never reads it half done.
bool Mark(const std::string& name, const std::string& text) {
  std::string path = Resolve(name);
  std::string scratch = path + ".part";
  HANDLE file = CreateFileW(Wide(scratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(file);
  return ok && MoveFileExW(Wide(scratch).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  std::string caption = "E2E Setup";
  for (const std::string& order : Orders(commandLine)) {
    size_t space = order.find(' ');
    std::string verb = order.substr(0, space);
    std::string arg = space == std::string::npos ? "" : order.substr(space + 1);
    if (verb == "mark") {
      if (!Mark(arg, OwnPath())) return kBadOrder;
    } else if (verb == "args") {
      if (!Mark(arg, Utf8(GetCommandLineW()))) return kBadOrder;
    } else if (verb == "delete") {
      if (!DeleteFileW(Wide(Resolve(arg)).c_str())) return kDeleteFailed;
    } else if (verb == "mkdir") {
      if (!CreateDirectoryW(Wide(Resolve(arg)).c_str(), nullptr)) return kBadOrder;
    } else if (verb == "hold") {
      // Left open on purpose: the handle lives until the process ends.
      if (CreateFileW(Wide(Resolve(arg)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE)
        return kBadOrder;
    } else if (verb == "title") {
      caption = arg;
    } else if (verb == "box") {
      MessageBoxA(nullptr, arg.c_str(), caption.c_str(),
                  MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    } else if (verb == "sleep") {
      Sleep(std::strtoul(arg.c_str(), nullptr, 10));
    } else if (verb == "exit") {
      ExitProcess(std::strtoul(arg.c_str(), nullptr, 0));
    } else {
      return kBadOrder;
    }
  }
  return 0;
}
