#pragma once
// The system's own words for an error code, as one line.

#include <string>

#include "platform/win32/windows.h"

namespace vexa::win32 {

// Error's text without the trailing full stop and line break; "error N" where the
// system has none.
std::string SystemMessage(DWORD Error);

} // namespace vexa::win32
