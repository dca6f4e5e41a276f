#pragma once
// Windows path rules the extractor relies on, kept portable so that the tool and the
// tests apply exactly the stub's rules.

#include <string>
#include <string_view>
#include <vector>

namespace vexa {

// Folder + name with one backslash between them, unless the folder already ends in one.
// The folder must not be empty.
std::string PathJoin(const std::string& Folder, const std::string& Name);

// The path up to and including its last backslash or colon; empty when it has neither.
std::string FolderPart(const std::string& Path);

// An item's FileName is joined to the destination folder unchanged, so it may name a
// file in an existing subfolder (sub\inner.txt). It is safe when the joined path cannot
// name anything but a file inside the destination: not empty, no drive or colon, no
// separator (backslash or slash) at its start, and no component that is empty (a doubled
// or trailing separator) or dots and spaces only, which Windows resolves to the folder
// itself or its parent once it has trimmed trailing dots and spaces.
bool IsSafeItemPath(std::string_view Name);

// The components of Path between any of Separators, empty ones included.
std::vector<std::string> SplitPath(std::string_view Path, std::string_view Separators);

} // namespace vexa
