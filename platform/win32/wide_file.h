#pragma once
// Files named in UTF-16, the system's own spelling: the paths of a folder tree's items hold
// names that the ANSI code page cannot spell.

#include <string>
#include <string_view>

#include "platform/file.h"

namespace vexa::win32 {

// Creates Path for exclusive reading and writing, as platform::CreateFileExclusive does;
// a file that is there already is overwritten only when Overwrite is true, else the call
// fails with ERROR_FILE_EXISTS. InvalidFileHandle on failure.
platform::FileHandle CreateFileExclusive(const std::wstring& Path, bool Overwrite);

// Text in CodePage (CP_ACP, CP_UTF8 or any other), in UTF-16.
std::wstring WideFromCodePage(std::string_view Text, unsigned CodePage);
// Utf8, the tool's text, in UTF-16.
std::wstring WideFromUtf8(std::string_view Utf8);

// FullPath (full, \ between its components) as the wide file functions take it at any
// length: in the \\?\ form once it is too long for the others. CreateDirectoryW leaves room
// for an 8.3 name below the folder, 12 units less than MAX_PATH, so that is where it starts.
std::wstring LongFormOfFull(std::wstring FullPath);
// Path, in any form the system reads, likewise. The \\?\ form turns the system's
// normalisation off, so the path is made full first.
std::wstring LongPathForm(const std::wstring& Path);
// Utf8, a path in the tool's text, likewise.
std::wstring WidePath(std::string_view Utf8);

} // namespace vexa::win32
