#include "ui/dialog_layout.h"

#include <algorithm>

namespace vexa {

namespace {

// In dialog units: the widest a text grows before it wraps (some 65 characters of the
// dialog font, a line that still reads at a glance), and the room a button keeps on each
// side of its caption.
constexpr int LongestLine = 260;
constexpr int ButtonPadding = 5;

enum class Role { Fixed, Text, Button, Field };

// The stub's dialogs have a handful of controls; any past this many keep their places.
constexpr int MaxControls = 16;

struct Control {
  HWND Window;
  Role Kind;
  RECT Old; // in the dialog's client area
  RECT New;
};

struct Layout {
  Control Controls[MaxControls];
  int Count = 0;
  RECT Content; // what the controls cover

  Control* begin() { return Controls; }
  Control* end() { return Controls + Count; }
};

Role RoleOf(HWND Window) {
  char name[8] = {};
  ::GetClassNameA(Window, name, sizeof name);
  const LONG style = ::GetWindowLongA(Window, GWL_STYLE);
  if (::lstrcmpiA(name, "Static") == 0)
    return (style & SS_TYPEMASK) <= SS_RIGHT ? Role::Text : Role::Fixed;
  if (::lstrcmpiA(name, "Button") == 0)
    return (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON ? Role::Button : Role::Fixed;
  return ::lstrcmpiA(name, "Edit") == 0 ? Role::Field : Role::Fixed;
}

// The size of the control's text as the control draws it: a static text broken into lines
// at Width, a button's caption on one line. Nothing for an empty text.
SIZE TextExtent(HDC Dc, const Control& C, int Width) {
  wchar_t text[256] = {};
  ::GetWindowTextW(C.Window, text, 256);
  if (!text[0])
    return {0, 0};
  UINT format = DT_CALCRECT | DT_SINGLELINE;
  if (C.Kind == Role::Text) {
    const LONG style = ::GetWindowLongA(C.Window, GWL_STYLE);
    format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
  }
  RECT r = {0, 0, Width, 0};
  ::DrawTextW(Dc, text, -1, &r, format);
  return {r.right, r.bottom};
}

int Width(const RECT& R) { return R.right - R.left; }
int Height(const RECT& R) { return R.bottom - R.top; }

// How far a line may draw past its measured width: an italic's last glyph overhangs it, and
// Wine draws glyphs with a negative bearing wider apart than it measures them (a line of
// 117 pixels with three such glyphs reached 4 pixels further).
int Overdraw(int MeasuredWidth) { return MeasuredWidth / 16 + 2; }

// Sizes every text and button in New; Room is how far right a text may reach.
void MeasureTexts(HWND Dialog, Layout& L, int Room) {
  RECT units = {LongestLine, 0, ButtonPadding, 0};
  ::MapDialogRect(Dialog, &units);
  HDC dc = ::GetDC(Dialog);
  const HGDIOBJ previous =
      ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(Dialog, WM_GETFONT, 0, 0)));
  for (Control& c : L) {
    if (c.Kind == Role::Text) {
      SIZE need = TextExtent(dc, c, Width(c.Old));
      if (need.cx + Overdraw(need.cx) <= Width(c.Old) && need.cy <= Height(c.Old))
        continue;
      // The control breaks the lines at its own width: narrowing it to its longest line keeps
      // them, widening it may take up more words, which are measured again.
      int width = std::max<int>(Width(c.Old), std::min<int>(units.left, Room - c.Old.left));
      for (;;) {
        need = TextExtent(dc, c, width);
        const int wanted = std::max<int>(Width(c.Old), need.cx + Overdraw(need.cx));
        const bool settled = wanted <= width;
        width = wanted;
        if (settled)
          break;
      }
      c.New.right = c.Old.left + width;
      c.New.bottom = c.Old.top + std::max<int>(Height(c.Old), need.cy);
    } else if (c.Kind == Role::Button) {
      const SIZE need = TextExtent(dc, c, 0);
      const int wanted = need.cx + Overdraw(need.cx) + 2 * units.right;
      c.New.left = c.Old.right - std::max<int>(Width(c.Old), wanted);
    }
  }
  ::SelectObject(dc, previous);
  ::ReleaseDC(Dialog, dc);
}

// How far the buttons right of B in its row grew, which moves B left.
int GrowthRightOf(Layout& L, const Control& B) {
  int growth = 0;
  for (const Control& c : L)
    if (c.Kind == Role::Button && c.Old.top == B.Old.top && c.Old.left >= B.Old.right)
      growth += Width(c.New) - Width(c.Old);
  return growth;
}

// Widens the content by the most that a text grew past it, or that the buttons need to stay
// inside it when they keep to its right edge; edit fields widen with it. The growth.
int GrowWidth(Layout& L) {
  int grow = 0;
  for (const Control& c : L) {
    if (c.Kind == Role::Text)
      grow = std::max<int>(grow, c.New.right - L.Content.right);
    else if (c.Kind == Role::Button)
      grow =
          std::max<int>(grow, L.Content.left - (c.Old.right - GrowthRightOf(L, c) - Width(c.New)));
  }
  for (Control& c : L) {
    if (c.Kind == Role::Button) {
      const int width = Width(c.New);
      c.New.right = c.Old.right + grow - GrowthRightOf(L, c);
      c.New.left = c.New.right - width;
    } else if (c.Kind == Role::Field) {
      c.New.right += grow;
    }
  }
  return grow;
}

// Moves down whatever lies below a text that wrapped onto more lines. The growth.
int GrowHeight(Layout& L) {
  int down[MaxControls] = {};
  for (const Control& text : L)
    if (const int taller = Height(text.New) - Height(text.Old); taller > 0)
      for (int i = 0; i < L.Count; ++i)
        if (L.Controls[i].Old.top >= text.Old.bottom)
          down[i] += taller;
  int bottom = L.Content.bottom;
  for (int i = 0; i < L.Count; ++i) {
    ::OffsetRect(&L.Controls[i].New, 0, down[i]);
    bottom = std::max<int>(bottom, L.Controls[i].New.bottom);
  }
  return bottom - L.Content.bottom;
}

} // namespace

bool FitDialogToTexts(HWND Dialog) {
  Layout layout;
  for (HWND child = ::GetWindow(Dialog, GW_CHILD); child && layout.Count < MaxControls;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, Dialog, reinterpret_cast<POINT*>(&r), 2);
    if (layout.Count == 0)
      layout.Content = r;
    ::UnionRect(&layout.Content, &layout.Content, &r);
    layout.Controls[layout.Count++] = {child, RoleOf(child), r, r};
  }
  if (layout.Count == 0)
    return false;

  RECT window, client;
  ::GetWindowRect(Dialog, &window);
  ::GetClientRect(Dialog, &client);
  const int frame = Width(window) - client.right;
  const int rightMargin = client.right - layout.Content.right;
  MeasureTexts(Dialog, layout, ::GetSystemMetrics(SM_CXFULLSCREEN) - frame - rightMargin);
  const int wider = GrowWidth(layout);
  const int taller = GrowHeight(layout);

  for (const Control& c : layout) {
    if (::EqualRect(&c.New, &c.Old))
      continue;
    ::MoveWindow(c.Window, c.New.left, c.New.top, Width(c.New), Height(c.New), TRUE);
    // A static control repaints only what its growth uncovered, though its lines break anew.
    ::InvalidateRect(c.Window, nullptr, TRUE);
  }
  if (wider == 0 && taller == 0)
    return false;
  ::SetWindowPos(Dialog, nullptr, 0, 0, Width(window) + wider, Height(window) + taller,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

} // namespace vexa
