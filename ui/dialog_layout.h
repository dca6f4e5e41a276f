#pragma once
// Sizing a dialog's controls to the texts they hold, measured in the dialog's own font, so
// that a translation longer than the English is never cut. Controls whose texts fit keep
// the template's layout.

#include "platform/win32/windows.h"

namespace vexa {

// A static text that does not fit grows wider, up to a comfortable line length and what
// the screen leaves, then wraps onto more lines, moving the controls below it down. A push
// button grows to its caption, the buttons of a row staying right-aligned. Edit fields
// widen with the dialog, which grows to hold everything; true when it grew, and is then to
// be centred again. Call it once the texts are set, and again when one changes.
bool FitDialogToTexts(HWND Dialog);

} // namespace vexa
