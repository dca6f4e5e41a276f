#pragma once
// Files named in UTF-16, the system's own spelling: the paths of a folder tree's items hold
// names that the ANSI code page cannot spell.

#include <string>

#include "platform/file.h"

namespace vexa::win32 {

// platform::CreateFileExclusive for a path in UTF-16.
platform::FileHandle CreateFileExclusive(const std::wstring& Path);

} // namespace vexa::win32
