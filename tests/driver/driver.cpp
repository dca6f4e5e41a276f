// driver.exe: drives the windows of a Windows program from the outside, for the end-to-end tests.
//
// Steps come one per line on stdin (or one per command-line argument); each runs as soon as its
// line has arrived, so a caller may act between steps. Each is a verb followed by key=value pairs;
// a value may be double-quoted, with \" \\ \n \r \t as escapes. Text is UTF-8 on both sides; the
// driver reads and sets window texts in UTF-16, so what the ANSI code page cannot hold survives,
// and types in the ANSI code page, as a keyboard of the system does. Every step prints one JSON
// object on its own line of stdout: {"step":N,"do":VERB,"ok":true,...,"t":MS}, where t counts
// milliseconds from the driver's start, as every time in the results does. The first failing step
// prints "ok":false with an "error", ends the run, terminates the started program, and makes the
// exit code 1 (2 for a step that cannot be parsed).
//
//   info                                  screen metrics, the temporary and Desktop folders
//   spawn exe=PATH [args=TEXT] [env=TEXT] start a helper program (not looked at; ended when the
//                                         driver ends, unless reaped)
//   start exe=PATH [args=TEXT] [dir=PATH] [env=TEXT]
//                                         start the program under test; from then on only its
//                                         windows are looked at. env: NAME=VALUE lines set in
//                                         the driver's environment first (and kept). Paths and
//                                         texts of both go to the system as UTF-16, so they may
//                                         hold what the ANSI code page cannot
//   reap [timeout=MS]                     wait for every spawned helper to end; the result holds
//                                         their exit codes
//   wait [title=T] [class=C] [timeout=MS] [any=1]
//                                         wait for a visible top-level window of the program
//                                         (with any=1: of any process, such as one that the
//                                         program started); it becomes the current window; the
//                                         result is its dump
//   dump                                  the current window and its controls (an edit
//                                         control also reports its selection, "sel")
//   fit                                   the dump, the window's client area on the screen, and
//                                         for each static text and push button the size and
//                                         place its text takes, laid out as the control lays
//                                         it out, in the font of the program's dialog
//                                         templates, beside the control's client area
//   expect id=N text=T [timeout=MS]       wait until control N of the current window says T
//   onscreen [timeout=MS]                 wait until the current window overlaps the screen
//   file path=PATH [state=present|absent] [timeout=MS]
//                                         wait until the file exists (is gone)
//   paintwhile path=PATH size=N budget=MS [timeout=MS]
//                                         while PATH exists with fewer than N bytes (a file that
//                                         the program is still writing), invalidate the current
//                                         window again and again and time each wait for its
//                                         paint; fails when a wait passes MS before the window
//                                         paints or the file is whole. A write shorter than MS
//                                         needs no paint. The result holds the longest wait and
//                                         the number of paints
//   gone [timeout=MS]                     wait until the current window is destroyed or hidden
//   focus id=N [timeout=MS]               wait until control N has the focus (posted keys take
//                                         effect only when the program gets to them)
//   click id=N [how=command|bm_click]     press a button once it is enabled; "command" posts
//                                         WM_COMMAND BN_CLICKED to its parent (the default)
//   settext id=N text=T                   WM_SETTEXT, then EN_CHANGE to the parent
//   type id=N text=T                      the text as WM_CHAR messages, as the keyboard sends it
//   key name=esc|enter|tab [id=N]         key down and up to control N, else to the focus
//   close                                 the close box: WM_SYSCOMMAND SC_CLOSE
//   browse button=ok|cancel               answer the folder browser (the current window) once
//                                         its tree is filled; OK takes the default selection
//   watch [interval=MS] [what=rect|progress]
//                                         sample the current window from now on: its rectangle,
//                                         or its progress bar's position and range (read by
//                                         messages, which the program answers when it next
//                                         takes its messages); one watch of each at a time
//   nowindow [timeout=MS]                 wait for the started program to end, and fail as soon
//                                         as it shows a top-level window (seen by a WinEvent
//                                         hook, and by looking every few milliseconds where the
//                                         hook hears nothing); the result holds its exit code
//   exit [timeout=MS]                     wait for the started program to end; the result holds
//                                         its exit code, every window it showed meanwhile, and
//                                         the watches' runs ("watch", "progress")

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vexa::driver {
namespace {

// A step that cannot go on; its text becomes the step's "error".
struct StepFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- time ------------------------------------------------------------------------------------

// Milliseconds since the driver started; the watch's times and the step results use it.
long long NowMs() {
  static LARGE_INTEGER frequency{}, origin{};
  if (frequency.QuadPart == 0) {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&origin);
  }
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (now.QuadPart - origin.QuadPart) * 1000 / frequency.QuadPart;
}

// ---- text ------------------------------------------------------------------------------------

std::string Convert(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
  int bytes = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(to, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::string AnsiFromUtf8(const std::string& text) { return Convert(text, CP_UTF8, CP_ACP); }

std::string Utf8FromWide(const std::wstring& text) {
  if (text.empty()) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

// A JSON string literal of UTF-8 text.
std::string Quote(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Builds one JSON object; values are added as ready JSON text.
class Json {
public:
  Json& Raw(const char* key, const std::string& json) {
    Body += (Body.empty() ? "" : ",") + Quote(key) + ":" + json;
    return *this;
  }
  Json& Str(const char* key, const std::string& utf8) { return Raw(key, Quote(utf8)); }
  Json& Num(const char* key, long long value) { return Raw(key, std::to_string(value)); }
  Json& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  Json& Append(const Json& other) {
    if (!other.Body.empty()) Body += (Body.empty() ? "" : ",") + other.Body;
    return *this;
  }
  std::string Text() const { return "{" + Body + "}"; }

private:
  std::string Body;
};

std::string Array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

// ---- steps -----------------------------------------------------------------------------------

std::wstring WideFromUtf8(const std::string& text) {
  int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
  return w;
}

struct Step {
  std::string Verb;
  std::map<std::string, std::string> Args;  // values in UTF-8

  bool Has(const char* key) const { return Args.count(key) != 0; }
  std::string Get(const char* key, const std::string& fallback = "") const {
    auto it = Args.find(key);
    return it == Args.end() ? fallback : it->second;
  }
  std::wstring Wide(const char* key) const {
    auto it = Args.find(key);
    return it == Args.end() ? std::wstring() : WideFromUtf8(it->second);
  }
  long Number(const char* key, long fallback) const {
    auto it = Args.find(key);
    if (it == Args.end()) return fallback;
    char* end = nullptr;
    long value = std::strtol(it->second.c_str(), &end, 0);
    if (it->second.empty() || *end != '\0') throw UsageError(std::string(key) + " is not a number");
    return value;
  }
};

Step ParseStep(const std::string& line) {
  Step step;
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  };
  skipSpace();
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') step.Verb += line[i++];
  for (skipSpace(); i < line.size(); skipSpace()) {
    size_t eq = line.find('=', i);
    if (eq == std::string::npos) throw UsageError("expected key=value at: " + line.substr(i));
    std::string key = line.substr(i, eq - i);
    std::string value;
    i = eq + 1;
    if (i < line.size() && line[i] == '"') {
      for (++i;; ++i) {
        if (i >= line.size()) throw UsageError("unterminated quote in: " + line);
        char c = line[i];
        if (c == '"') break;
        if (c == '\\' && i + 1 < line.size()) {
          char e = line[++i];
          c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        }
        value += c;
      }
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') value += line[i++];
    }
    step.Args[key] = value;
  }
  return step;
}

// ---- windows ---------------------------------------------------------------------------------

std::string ClassOf(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return Utf8FromWide(name);
}

std::string TitleOf(HWND window) {
  wchar_t title[1024] = L"";
  GetWindowTextW(window, title, 1024);
  return Utf8FromWide(title);
}

// Another process's control answers WM_GETTEXT itself, so an edit field reports what it holds;
// a hung target gives the text the system keeps for the window instead.
std::string ControlText(HWND control) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length))
    return TitleOf(control);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 1000, &copied))
    return TitleOf(control);
  text.resize(copied);
  return Utf8FromWide(text);
}

std::string RectJson(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return Json().Num("x", r.left).Num("y", r.top).Num("w", r.right - r.left).Num("h", r.bottom - r.top)
      .Text();
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                            : nullptr;
}

struct WindowSearch {
  DWORD Pid;  // 0: any process
  std::vector<HWND> Found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (search->Pid == 0 || ProcessOf(window) == search->Pid) search->Found.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
  WindowSearch search{pid, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

std::vector<HWND> Descendants(HWND window) {
  WindowSearch search{0, {}};
  EnumChildWindows(window, CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// EM_GETSEL without pointers answers in its result, so it works across processes.
std::string SelectionJson(HWND edit) {
  DWORD_PTR packed = 0;
  if (!SendMessageTimeoutA(edit, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 1000, &packed)) return "null";
  return "[" + std::to_string(LOWORD(packed)) + "," + std::to_string(HIWORD(packed)) + "]";
}

std::string Dump(HWND window) {
  HWND focus = FocusOf(window);
  std::vector<std::string> children;
  for (HWND child : Descendants(window)) {
    Json item;
    item.Num("id", GetDlgCtrlID(child))
        .Str("class", ClassOf(child))
        .Str("text", ControlText(child))
        .Num("style", static_cast<long long>(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE))))
        .Raw("rect", RectJson(child))
        .Bool("visible", IsWindowVisible(child))
        .Bool("enabled", IsWindowEnabled(child))
        .Bool("focus", child == focus);
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ClassOf(child).c_str(), -1, "Edit", -1) ==
        CSTR_EQUAL)
      item.Raw("sel", SelectionJson(child));
    children.push_back(item.Text());
  }
  return Json()
      .Str("title", TitleOf(window))
      .Str("class", ClassOf(window))
      .Raw("rect", RectJson(window))
      .Bool("visible", IsWindowVisible(window))
      .Bool("enabled", IsWindowEnabled(window))
      .Num("pid", ProcessOf(window))
      .Raw("children", Array(children))
      .Text();
}

// A short list of the windows there are, for the error of a wait that found none.
std::string WindowList(DWORD pid) {
  std::vector<std::string> items;
  for (HWND window : TopLevelWindows(pid)) {
    if (pid == 0 && !IsWindowVisible(window)) continue;
    items.push_back(Json()
                        .Str("title", TitleOf(window))
                        .Str("class", ClassOf(window))
                        .Bool("visible", IsWindowVisible(window))
                        .Raw("rect", RectJson(window))
                        .Text());
  }
  return Array(items);
}

// ---- text fit --------------------------------------------------------------------------------

// A font as a dialog template names it.
struct TemplateFont {
  std::wstring Face;
  int Points = 0;
  int Weight = FW_DONTCARE;
  bool Italic = false;

  bool operator==(const TemplateFont& other) const {
    return Face == other.Face && Points == other.Points && Weight == other.Weight &&
           Italic == other.Italic;
  }
};

// The font of a DS_SETFONT template, classic or extended; false for a template without one.
bool ReadTemplateFont(const BYTE* data, DWORD size, TemplateFont& font) {
  auto word = [&](size_t at) -> WORD {
    if (at + 2 > size) throw StepFailure("a dialog template of the program ends early");
    return static_cast<WORD>(data[at] | data[at + 1] << 8);
  };
  bool extended = word(0) == 1 && word(2) == 0xFFFF;
  size_t at = extended ? 12 : 0;
  DWORD style = word(at) | static_cast<DWORD>(word(at + 2)) << 16;
  at = (extended ? 16 : 8) + 2 + 8;
  for (int skip = 0; skip < 3; ++skip) {  // menu, class, title
    if (word(at) == 0xFFFF) {
      at += 4;
      continue;
    }
    while (word(at)) at += 2;
    at += 2;
  }
  if (!(style & DS_SETFONT)) return false;
  font.Points = word(at);
  if (extended) {
    font.Weight = word(at + 2);
    font.Italic = (word(at + 4) & 0xFF) != 0;
  }
  for (at += extended ? 6 : 2; word(at); at += 2) font.Face += static_cast<wchar_t>(word(at));
  return true;
}

struct TemplateFonts {
  std::vector<TemplateFont> Found;
  std::string Error;
};

// No exception may cross the system's callback: a failure is kept for the caller.
BOOL CALLBACK CollectTemplateFont(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  auto* fonts = reinterpret_cast<TemplateFonts*>(param);
  HRSRC found = FindResourceW(module, name, type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  TemplateFont font;
  try {
    if (data && ReadTemplateFont(data, SizeofResource(module, found), font))
      fonts->Found.push_back(font);
    return TRUE;
  } catch (const StepFailure& e) {
    fonts->Error = e.what();
    return FALSE;
  }
}

// The font that the program's dialogs are made with, made here as the dialog manager makes
// it. The handle that WM_GETFONT gives belongs to the program's process, and Wine does not let
// another process select it, so the driver reads the font from the program's dialog templates,
// which must agree on one.
HFONT ProgramDialogFont(const std::wstring& program) {
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) throw StepFailure("cannot read the program's resources");
  TemplateFonts fonts;
  EnumResourceNamesW(module, MAKEINTRESOURCEW(5), CollectTemplateFont,  // RT_DIALOG
                     reinterpret_cast<LONG_PTR>(&fonts));
  FreeLibrary(module);
  if (!fonts.Error.empty()) throw StepFailure(fonts.Error);
  if (fonts.Found.empty()) throw StepFailure("the program's dialog templates name no font");
  const TemplateFont& font = fonts.Found.front();
  for (const TemplateFont& other : fonts.Found)
    if (!(other == font)) throw StepFailure("the program's dialog templates name several fonts");
  HDC screen = GetDC(nullptr);
  int pixels = MulDiv(font.Points, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  return CreateFontW(-pixels, 0, 0, 0, font.Weight, font.Italic, FALSE, FALSE, DEFAULT_CHARSET, 0,
                     0, PROOF_QUALITY, FF_DONTCARE, font.Face.c_str());
}

bool IsClass(HWND window, const char* name) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ClassOf(window).c_str(), -1, name, -1) ==
         CSTR_EQUAL;
}

// How far the text's ink reaches, drawn from the corner of an area Width pixels wide: a renderer
// may draw glyphs wider apart than it measures them (Wine does with glyphs that have a negative
// bearing), so the measure alone would pass a text whose end is cut off.
SIZE InkExtent(HDC dc, const std::wstring& text, int width, UINT format, SIZE measured) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = std::max<LONG>(width, measured.cx) + 64;
  info.bmiHeader.biHeight = -(measured.cy + 16);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!canvas) throw StepFailure("cannot make a bitmap to draw texts on");
  HGDIOBJ previous = SelectObject(dc, canvas);
  const LONG w = info.bmiHeader.biWidth, h = -info.bmiHeader.biHeight;
  auto* pixels = static_cast<DWORD*>(bits);
  std::fill(pixels, pixels + w * h, 0xFFFFFFu);
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  RECT area{0, 0, width, h};
  DrawTextW(dc, text.c_str(), -1, &area, format | DT_NOCLIP);
  GdiFlush();
  SIZE ink{0, 0};
  for (LONG y = 0; y < h; ++y)
    for (LONG x = 0; x < w; ++x)
      if ((pixels[y * w + x] & 0xFFFFFFu) != 0xFFFFFFu) {
        ink.cx = std::max(ink.cx, x + 1);
        ink.cy = std::max(ink.cy, y + 1);
      }
  SelectObject(dc, previous);
  DeleteObject(canvas);
  return ink;
}

// For each static text and push button with a text: the size its text takes in Font, laid out
// as the control lays it out (a static text broken into lines at the control's width, where a
// word wider than that widens it; a caption on one line), the larger of its measure and its
// ink, where that lies on the screen, and the control's client area.
std::string TextFits(HWND window, HFONT font) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  std::vector<std::string> fits;
  for (HWND child : Descendants(window)) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    UINT format = 0;
    if (IsClass(child, "Static") && (style & SS_TYPEMASK) <= SS_RIGHT)
      format = DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    else if (IsClass(child, "Button") && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON)
      format = DT_SINGLELINE;
    std::string text = ControlText(child);
    if (!format || text.empty()) continue;
    std::wstring wide = WideFromUtf8(text);
    RECT client{};
    GetClientRect(child, &client);
    RECT extent{0, 0, client.right, 0};
    DrawTextW(dc, wide.c_str(), -1, &extent, DT_CALCRECT | format);
    SIZE measured{extent.right, extent.bottom};
    SIZE ink = InkExtent(dc, wide, client.right, format, measured);
    SIZE need{std::max(measured.cx, ink.cx), std::max(measured.cy, ink.cy)};
    // Where the text lies on the screen: a caption in the middle of its button, a static text
    // from the top, at the side its style aligns it to.
    POINT at{0, 0};
    if (format == DT_SINGLELINE || (style & SS_TYPEMASK) == SS_CENTER)
      at.x = (client.right - need.cx) / 2;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
      at.x = client.right - need.cx;
    if (format == DT_SINGLELINE) at.y = (client.bottom - need.cy) / 2;
    ClientToScreen(child, &at);
    fits.push_back(Json()
                       .Num("id", GetDlgCtrlID(child))
                       .Str("text", text)
                       .Bool("button", format == DT_SINGLELINE)
                       .Num("w", need.cx)
                       .Num("h", need.cy)
                       .Num("room_w", client.right)
                       .Num("room_h", client.bottom)
                       .Raw("at", Json().Num("x", at.x).Num("y", at.y).Text())
                       .Text());
  }
  SelectObject(dc, previous);
  DeleteDC(dc);
  return Array(fits);
}

// ---- the watch -------------------------------------------------------------------------------

// What a watch reads of its window: numbers that a run holds while they stay the same, and how
// they are reported. Read returns false when the window is gone.
struct Sampler {
  std::function<bool(HWND, std::vector<long long>&)> Read;
  std::function<Json(const std::vector<long long>&)> Describe;
};

Sampler RectSampler() {
  return {[](HWND window, std::vector<long long>& values) {
            RECT rect{};
            if (!IsWindow(window) || !GetWindowRect(window, &rect)) return false;
            values = {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                      IsWindowVisible(window) ? 1 : 0};
            return true;
          },
          [](const std::vector<long long>& v) {
            return Json().Num("x", v[0]).Num("y", v[1]).Num("w", v[2]).Num("h", v[3]).Bool(
                "visible", v[4] != 0);
          }};
}

// The first progress bar among the window's controls, once there is one (a window may show
// before its controls are made). PBM_GETRANGE without a structure answers one limit in its
// result, so it works across processes. A program that is busy answers later; a sample waits
// for it, so each one shows a value the bar really held.
Sampler ProgressSampler(HWND window) {
  HWND bar = nullptr;
  for (long long deadline = NowMs() + 5000; !bar; Sleep(10)) {
    for (HWND child : Descendants(window))
      if (!bar && IsClass(child, PROGRESS_CLASSA)) bar = child;
    if (!bar && NowMs() >= deadline) throw StepFailure("the window has no progress bar");
  }
  return {[bar](HWND, std::vector<long long>& values) {
            DWORD_PTR position = 0, low = 0, high = 0;
            const auto ask = [bar](UINT message, WPARAM which, DWORD_PTR& answer) {
              return SendMessageTimeoutA(bar, message, which, 0, SMTO_ABORTIFHUNG, 5000, &answer);
            };
            if (!ask(PBM_GETPOS, 0, position) || !ask(PBM_GETRANGE, TRUE, low) ||
                !ask(PBM_GETRANGE, FALSE, high))
              return IsWindow(bar) != FALSE;
            values = {static_cast<int>(position), static_cast<int>(low), static_cast<int>(high)};
            return true;
          },
          [](const std::vector<long long>& v) {
            return Json().Num("pos", v[0]).Num("low", v[1]).Num("high", v[2]);
          }};
}

// Samples one window on a thread of its own, so that the steps that make it change can run
// meanwhile. A run is a stretch of samples with the same values; its first and last sample
// times bound when the window really changed.
class Watch {
public:
  Watch(HWND window, DWORD intervalMs, Sampler sampler)
      : Window(window), IntervalMs(intervalMs), Reader(std::move(sampler)) {
    Thread = CreateThread(nullptr, 0, &Watch::Main, this, 0, nullptr);
    if (!Thread) throw StepFailure("cannot start the watch thread");
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;
  ~Watch() { Stop(); }

  void Stop() {
    if (!Thread) return;
    StopRequested = true;
    WaitForSingleObject(Thread, INFINITE);
    CloseHandle(Thread);
    Thread = nullptr;
  }

  // Call after Stop.
  std::string Report() const {
    std::vector<std::string> runs;
    for (const Run& run : Runs)
      runs.push_back(
          Reader.Describe(run.Values).Num("first", run.First).Num("last", run.Last).Text());
    Json report;
    report.Raw("runs", Array(runs)).Num("samples", Samples);
    if (GoneAt >= 0) report.Num("gone", GoneAt);
    return report.Text();
  }

private:
  struct Run {
    std::vector<long long> Values;
    long long First, Last;
  };

  static DWORD WINAPI Main(LPVOID self) {
    static_cast<Watch*>(self)->Sample();
    return 0;
  }

  void Sample() {
    std::vector<long long> values;
    while (!StopRequested) {
      values.clear();
      bool alive = Reader.Read(Window, values);
      long long now = NowMs();
      if (!alive) {
        GoneAt = now;
        return;
      }
      if (!values.empty()) {
        ++Samples;
        if (!Runs.empty() && Runs.back().Values == values)
          Runs.back().Last = now;
        else
          Runs.push_back({values, now, now});
      }
      Sleep(IntervalMs);
    }
  }

  HWND Window;
  DWORD IntervalMs;
  Sampler Reader;
  HANDLE Thread = nullptr;
  std::atomic<bool> StopRequested{false};
  std::vector<Run> Runs;
  long long Samples = 0;
  long long GoneAt = -1;
};

// ---- the session -----------------------------------------------------------------------------

class Session {
public:
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    if (Process) {
      if (WaitForSingleObject(Process, 0) == WAIT_TIMEOUT) TerminateProcess(Process, 255);
      CloseHandle(Process);
    }
    for (HANDLE helper : Helpers) {
      TerminateProcess(helper, 255);
      WaitForSingleObject(helper, 5000);
      CloseHandle(helper);
    }
  }

  // Runs one step and returns the JSON members of its result (without "step", "do" and "ok").
  Json Run(const Step& step) {
    static const std::map<std::string, std::pair<std::set<std::string>, Json (Session::*)(
                                                                             const Step&)>>
        verbs = {
            {"info", {{}, &Session::Info}},
            {"spawn", {{"exe", "args", "env"}, &Session::Spawn}},
            {"start", {{"exe", "args", "dir", "env"}, &Session::Start}},
            {"reap", {{"timeout"}, &Session::Reap}},
            {"wait", {{"title", "class", "timeout", "any"}, &Session::Wait}},
            {"dump", {{}, &Session::DumpCurrent}},
            {"fit", {{}, &Session::Fit}},
            {"expect", {{"id", "text", "timeout"}, &Session::Expect}},
            {"onscreen", {{"timeout"}, &Session::OnScreen}},
            {"file", {{"path", "state", "timeout"}, &Session::File}},
            {"gone", {{"timeout"}, &Session::Gone}},
            {"paintwhile", {{"path", "size", "budget", "timeout"}, &Session::PaintWhile}},
            {"focus", {{"id", "timeout"}, &Session::Focus}},
            {"click", {{"id", "how"}, &Session::Click}},
            {"settext", {{"id", "text"}, &Session::SetText}},
            {"type", {{"id", "text"}, &Session::Type}},
            {"key", {{"name", "id"}, &Session::Key}},
            {"close", {{}, &Session::Close}},
            {"browse", {{"button"}, &Session::Browse}},
            {"watch", {{"interval", "what"}, &Session::StartWatch}},
            {"nowindow", {{"timeout"}, &Session::NoWindow}},
            {"exit", {{"timeout"}, &Session::Exit}},
        };
    auto verb = verbs.find(step.Verb);
    if (verb == verbs.end()) throw UsageError("unknown step: " + step.Verb);
    for (const auto& [key, value] : step.Args)
      if (!verb->second.first.count(key)) throw UsageError(step.Verb + " takes no " + key);
    return (this->*verb->second.second)(step);
  }

  // Ends what the run left behind, so no program outlives its scenario.
  bool TerminateLeftover() {
    if (!Process || WaitForSingleObject(Process, 0) != WAIT_TIMEOUT) return false;
    TerminateProcess(Process, 255);
    WaitForSingleObject(Process, 5000);
    return true;
  }

private:
  Json Info(const Step&) {
    wchar_t temp[MAX_PATH + 1] = L"";
    GetTempPathW(MAX_PATH + 1, temp);
    wchar_t desktop[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    return Json()
        .Num("screen_w", GetSystemMetrics(SM_CXSCREEN))
        .Num("screen_h", GetSystemMetrics(SM_CYSCREEN))
        .Num("fullscreen_w", GetSystemMetrics(SM_CXFULLSCREEN))
        .Num("fullscreen_h", GetSystemMetrics(SM_CYFULLSCREEN))
        .Str("temp", Utf8FromWide(temp))
        .Str("desktop", Utf8FromWide(desktop));
  }

  static PROCESS_INFORMATION Launch(const Step& step) {
    std::wstring exe = step.Wide("exe");
    if (exe.empty()) throw UsageError(step.Verb + " needs exe=");
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (step.Has("args")) commandLine += L" " + step.Wide("args");
    std::wstring dir = step.Wide("dir");
    std::wstring env = step.Wide("env");
    for (size_t at = 0; at < env.size();) {
      size_t end = env.find(L'\n', at);
      if (end == std::wstring::npos) end = env.size();
      std::wstring line = env.substr(at, end - at);
      size_t eq = line.find(L'=');
      if (eq == std::wstring::npos || eq == 0) throw UsageError("env= takes NAME=VALUE lines");
      SetEnvironmentVariableW(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str());
      at = end + 1;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &startup, &info))
      throw StepFailure("cannot start " + step.Get("exe") + " (error " +
                        std::to_string(GetLastError()) + ")");
    CloseHandle(info.hThread);
    return info;
  }

  // A helper runs beside the program under test, for instance to hold a file open.
  Json Spawn(const Step& step) {
    PROCESS_INFORMATION info = Launch(step);
    Helpers.push_back(info.hProcess);
    return Json().Num("pid", info.dwProcessId);
  }

  Json Reap(const Step& step) {
    long long deadline = NowMs() + step.Number("timeout", 30000);
    std::vector<std::string> codes;
    for (HANDLE helper : Helpers) {
      long long left = deadline - NowMs();
      if (WaitForSingleObject(helper, left > 0 ? static_cast<DWORD>(left) : 0) != WAIT_OBJECT_0)
        throw StepFailure("a spawned helper is still running");
      DWORD code = 0;
      GetExitCodeProcess(helper, &code);
      codes.push_back(std::to_string(code));
      CloseHandle(helper);
    }
    Helpers.clear();
    return Json().Raw("exit_codes", Array(codes));
  }

  Json Start(const Step& step) {
    if (Process) throw UsageError("a program was started already");
    PROCESS_INFORMATION info = Launch(step);
    Process = info.hProcess;
    Pid = info.dwProcessId;
    ProgramPath = step.Wide("exe");
    return Json().Num("pid", Pid);
  }

  HWND FindWindowNow(const Step& step) const {
    for (HWND window : TopLevelWindows(step.Get("any") == "1" ? 0 : Pid)) {
      if (!IsWindowVisible(window)) continue;
      if (step.Has("title") && TitleOf(window) != step.Get("title")) continue;
      if (step.Has("class") && ClassOf(window) != step.Get("class")) continue;
      return window;
    }
    return nullptr;
  }

  Json Wait(const Step& step) {
    if (!step.Has("title") && !step.Has("class")) throw UsageError("wait needs title= or class=");
    long long deadline = NowMs() + step.Number("timeout", 10000);
    for (;;) {
      if (HWND window = FindWindowNow(step)) {
        Current = window;
        return Json().Raw("window", Dump(window));
      }
      if (NowMs() >= deadline)
        throw StepFailure("no such window; there are: " + WindowList(Pid));
      if (Process && WaitForSingleObject(Process, 0) == WAIT_OBJECT_0)
        throw StepFailure("the program ended with exit code " + std::to_string(ExitCode()) +
                          " before the window appeared");
      Sleep(10);
    }
  }

  HWND CurrentWindow() const {
    if (!Current) throw UsageError("no current window: wait for one first");
    if (!IsWindow(Current)) throw StepFailure("the current window is gone");
    return Current;
  }

  Json DumpCurrent(const Step&) { return Json().Raw("window", Dump(CurrentWindow())); }

  Json Fit(const Step&) {
    HWND window = CurrentWindow();
    if (ProgramPath.empty()) throw UsageError("fit needs a started program");
    HFONT font = ProgramDialogFont(ProgramPath);
    if (!font) throw StepFailure("cannot make the font of the program's dialogs");
    std::string fits = TextFits(window, font);
    DeleteObject(font);
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return Json()
        .Raw("window", Dump(window))
        .Raw("client", Json()
                           .Num("x", client.left)
                           .Num("y", client.top)
                           .Num("w", client.right - client.left)
                           .Num("h", client.bottom - client.top)
                           .Text())
        .Raw("fit", fits);
  }

  // What a program does after a posted click arrives later than the click step returns.
  Json Expect(const Step& step) {
    HWND control = Control(step);
    std::string wanted = step.Get("text");
    long long deadline = NowMs() + step.Number("timeout", 5000);
    for (;;) {
      std::string text = ControlText(control);
      if (text == wanted) return Json().Raw("window", Dump(Current));
      if (NowMs() >= deadline)
        throw StepFailure("control " + step.Get("id") + " says " + Quote(text));
      Sleep(10);
    }
  }

  Json OnScreen(const Step& step) {
    HWND window = CurrentWindow();
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    long long deadline = NowMs() + step.Number("timeout", 10000);
    for (;;) {
      RECT rect{}, overlap{};
      if (!IsWindow(window)) throw StepFailure("the current window is gone");
      if (GetWindowRect(window, &rect) && IntersectRect(&overlap, &rect, &screen))
        return Json().Raw("window", Dump(window));
      if (NowMs() >= deadline) throw StepFailure("the window stays off the screen");
      Sleep(2);
    }
  }

  Json File(const Step& step) {
    std::wstring path = step.Wide("path");
    if (path.empty()) throw UsageError("file needs path=");
    std::string state = step.Get("state", "present");
    if (state != "present" && state != "absent") throw UsageError("state= is present or absent");
    bool wanted = state == "present";
    long long deadline = NowMs() + step.Number("timeout", 10000);
    while ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) != wanted) {
      if (NowMs() >= deadline)
        throw StepFailure(step.Get("path") + (wanted ? " does not appear" : " stays"));
      Sleep(2);
    }
    return Json();
  }

  // -1 while the file is missing.
  static long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  Json PaintWhile(const Step& step) {
    HWND window = CurrentWindow();
    std::wstring path = step.Wide("path");
    long long full = step.Number("size", -1);
    long long budget = step.Number("budget", -1);
    if (path.empty() || full < 0 || budget < 0)
      throw UsageError("paintwhile needs path=, size= and budget=");
    long long deadline = NowMs() + step.Number("timeout", 60000);
    // Asked only once the file exists: a paint that the program did before it began the file
    // proves nothing.
    while (FileSize(path) < 0) {
      if (NowMs() >= deadline) throw StepFailure(step.Get("path") + " was never begun");
      Sleep(1);
    }
    long long longest = 0, paints = 0;
    RECT update;
    while (FileSize(path) < full) {
      if (!IsWindow(window)) throw StepFailure("the window is gone");
      InvalidateRect(window, nullptr, FALSE);
      long long asked = NowMs();
      while (GetUpdateRect(window, &update, FALSE) && IsWindow(window) && FileSize(path) < full &&
             NowMs() - asked <= budget)
        Sleep(1);
      long long waited = NowMs() - asked;
      longest = std::max(longest, waited);
      if (waited > budget)
        throw StepFailure("the window went " + std::to_string(waited) +
                          " ms without a paint while " + step.Get("path") + " was written");
      if (!GetUpdateRect(window, &update, FALSE)) ++paints;
      if (NowMs() >= deadline) throw StepFailure(step.Get("path") + " was never finished");
    }
    return Json().Num("longest_ms", longest).Num("paints", paints);
  }

  Json Gone(const Step& step) {
    if (!Current) throw UsageError("no current window: wait for one first");
    long long deadline = NowMs() + step.Number("timeout", 10000);
    while (IsWindow(Current) && IsWindowVisible(Current)) {
      if (NowMs() >= deadline) throw StepFailure("the window is still there");
      Sleep(10);
    }
    Current = nullptr;
    return Json();
  }

  Json Focus(const Step& step) {
    HWND control = Control(step);
    long long deadline = NowMs() + step.Number("timeout", 5000);
    while (FocusOf(Current) != control) {
      if (NowMs() >= deadline) throw StepFailure("the focus stays elsewhere");
      Sleep(10);
    }
    return Json().Raw("window", Dump(Current));
  }

  // Controls are looked up among all descendants: the folder browser nests its buttons.
  HWND Control(const Step& step) {
    HWND window = CurrentWindow();
    long id = step.Number("id", -1);
    if (id < 0) throw UsageError(step.Verb + " needs id=");
    if (HWND direct = GetDlgItem(window, static_cast<int>(id))) return direct;
    for (HWND child : Descendants(window))
      if (GetDlgCtrlID(child) == id) return child;
    throw StepFailure("no control with id " + std::to_string(id));
  }

  // A click on a disabled or hidden button is lost, so wait until it can be pressed.
  static void AwaitEnabled(HWND control) {
    long long deadline = NowMs() + 5000;
    while (!(IsWindowEnabled(control) && IsWindowVisible(control))) {
      if (NowMs() >= deadline) throw StepFailure("the control stays disabled or hidden");
      Sleep(10);
    }
  }

  static void Press(HWND button, const std::string& how) {
    AwaitEnabled(button);
    if (how == "bm_click") {
      PostMessageA(button, BM_CLICK, 0, 0);
    } else if (how == "command") {
      PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    } else {
      throw UsageError("how= is command or bm_click");
    }
  }

  Json Click(const Step& step) {
    Press(Control(step), step.Get("how", "command"));
    return Json();
  }

  Json SetText(const Step& step) {
    HWND field = Control(step);
    std::wstring text = step.Wide("text");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, 2000, &result))
      throw StepFailure("the field did not take the text");
    PostMessageA(GetParent(field), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(field), EN_CHANGE),
                 reinterpret_cast<LPARAM>(field));
    return Json();
  }

  Json Type(const Step& step) {
    HWND field = Control(step);
    for (unsigned char c : AnsiFromUtf8(step.Get("text"))) PostMessageA(field, WM_CHAR, c, 1);
    return Json();
  }

  Json Key(const Step& step) {
    static const std::map<std::string, UINT> keys = {
        {"esc", VK_ESCAPE}, {"enter", VK_RETURN}, {"tab", VK_TAB}};
    auto key = keys.find(step.Get("name"));
    if (key == keys.end()) throw UsageError("name= is esc, enter or tab");
    HWND window = CurrentWindow();
    HWND target = step.Has("id") ? Control(step) : FocusOf(window);
    if (!target) target = window;
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key->second, MAPVK_VK_TO_VSC)) << 16;
    PostMessageA(target, WM_KEYDOWN, key->second, scan | 1);
    PostMessageA(target, WM_KEYUP, key->second, scan | 1 | 0xC0000000);
    return Json().Str("target", ClassOf(target));
  }

  Json Close(const Step&) {
    PostMessageA(CurrentWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    return Json();
  }

  // OK before the browser has filled its tree would come before its own initialisation.
  Json Browse(const Step& step) {
    HWND window = CurrentWindow();
    std::string button = step.Get("button");
    if (button != "ok" && button != "cancel") throw UsageError("button= is ok or cancel");
    HWND tree = nullptr;
    for (HWND child : Descendants(window))
      if (ClassOf(child) == WC_TREEVIEWA) tree = child;
    if (!tree) throw StepFailure("the window has no folder tree");
    long long deadline = NowMs() + 10000;
    for (;;) {
      DWORD_PTR count = 0;
      if (SendMessageTimeoutA(tree, TVM_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &count) && count)
        break;
      if (NowMs() >= deadline) throw StepFailure("the folder tree stays empty");
      Sleep(10);
    }
    Step press;
    press.Args["id"] = button == "ok" ? "1" : "2";
    Press(Control(press), "command");
    return Json();
  }

  Json StartWatch(const Step& step) {
    std::string what = step.Get("what", "rect");
    if (what != "rect" && what != "progress") throw UsageError("what= is rect or progress");
    std::unique_ptr<Watch>& watch = what == "rect" ? ActiveWatch : ProgressWatch;
    if (watch) throw UsageError("one watch of each at a time");
    HWND window = CurrentWindow();
    watch = std::make_unique<Watch>(window, static_cast<DWORD>(step.Number("interval", 2)),
                                    what == "rect" ? RectSampler() : ProgressSampler(window));
    return Json().Num("at", NowMs());
  }

  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(Process, &code);
    return code;
  }

  // Every window the program shows while the driver waits is recorded, so that a scenario can
  // tell which boxes appeared even when it did not wait for them.
  Json Exit(const Step& step) {
    if (!Process) throw UsageError("exit needs a started program");
    long long deadline = NowMs() + step.Number("timeout", 30000);
    std::set<std::pair<std::string, std::string>> seen;
    std::vector<std::string> seenJson;
    for (;;) {
      for (HWND window : TopLevelWindows(Pid)) {
        if (!IsWindowVisible(window)) continue;
        auto key = std::make_pair(ClassOf(window), TitleOf(window));
        if (seen.insert(key).second)
          seenJson.push_back(Json().Str("class", key.first).Str("title", key.second).Text());
      }
      if (WaitForSingleObject(Process, 20) == WAIT_OBJECT_0) break;
      if (NowMs() >= deadline)
        throw StepFailure("the program is still running; its windows: " + WindowList(Pid));
    }
    Json result;
    result.Num("exit_code", ExitCode()).Raw("seen", Array(seenJson));
    if (ActiveWatch) {
      ActiveWatch->Stop();
      result.Raw("watch", ActiveWatch->Report());
    }
    if (ProgressWatch) {
      ProgressWatch->Stop();
      result.Raw("progress", ProgressWatch->Report());
    }
    return result;
  }

  // The first window of the program that the hook saw shown, as "class 'title'".
  static std::string& ShownByHook() {
    static std::string shown;
    return shown;
  }

  static void CALLBACK HearShow(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD,
                                DWORD) {
    if (object != OBJID_WINDOW || !window || GetAncestor(window, GA_ROOT) != window) return;
    if (ShownByHook().empty()) ShownByHook() = ClassOf(window) + " '" + TitleOf(window) + "'";
  }

  // The first visible top-level window of the program, as "class 'title'"; empty when none.
  std::string VisibleWindowNow() const {
    for (HWND window : TopLevelWindows(Pid))
      if (IsWindowVisible(window)) return ClassOf(window) + " '" + TitleOf(window) + "'";
    return ShownByHook();
  }

  Json NoWindow(const Step& step) {
    if (!Process) throw UsageError("nowindow needs a started program");
    long long deadline = NowMs() + step.Number("timeout", 30000);
    ShownByHook().clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, HearShow,
                                         Pid, 0, WINEVENT_OUTOFCONTEXT);
    std::string shown;
    for (;;) {
      // The hook's events arrive as messages of this thread.
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      shown = VisibleWindowNow();
      bool ended = WaitForSingleObject(Process, 0) == WAIT_OBJECT_0;
      if (!shown.empty() || ended) break;
      if (NowMs() >= deadline) {
        if (hook) UnhookWinEvent(hook);
        throw StepFailure("the program is still running; its windows: " + WindowList(Pid));
      }
      MsgWaitForMultipleObjects(1, &Process, FALSE, 2, QS_ALLINPUT);
    }
    if (hook) UnhookWinEvent(hook);
    if (!shown.empty()) throw StepFailure("the program showed a window: " + shown);
    return Json().Num("exit_code", ExitCode()).Bool("hooked", hook != nullptr);
  }

  HANDLE Process = nullptr;
  DWORD Pid = 0;  // 0 until a program is started: every process's windows count
  std::wstring ProgramPath;
  std::vector<HANDLE> Helpers;
  HWND Current = nullptr;
  std::unique_ptr<Watch> ActiveWatch;
  std::unique_ptr<Watch> ProgressWatch;
};

void Emit(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The next step's line: from the command line when it has arguments, else from stdin. False at
// the end.
bool NextLine(int argc, char** argv, std::string& line) {
  static int argument = 1;
  line.clear();
  if (argc > 1) {
    if (argument >= argc) return false;
    line = argv[argument++];
    return true;
  }
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n')
    if (c != '\r') line += static_cast<char>(c);
  return c != EOF || !line.empty();
}

int Main(int argc, char** argv) {
  NowMs();
  Session session;
  int number = 0;
  for (std::string line; NextLine(argc, argv, line);) {
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    Json result;
    result.Num("step", ++number);
    int failure = 0;
    try {
      Step step = ParseStep(line);
      result.Str("do", step.Verb);
      Json members = session.Run(step);
      Emit(result.Bool("ok", true).Append(members).Num("t", NowMs()).Text());
      continue;
    } catch (const UsageError& e) {
      result.Bool("ok", false).Str("error", e.what());
      failure = 2;
    } catch (const StepFailure& e) {
      result.Bool("ok", false).Str("error", e.what());
      failure = 1;
    }
    result.Bool("terminated", session.TerminateLeftover());
    Emit(result.Text());
    return failure;
  }
  return 0;
}

}  // namespace
}  // namespace vexa::driver

int main(int argc, char** argv) { return vexa::driver::Main(argc, argv); }
