#pragma once
// Windows path rules the extractor relies on, kept portable so that the tool and the
// tests apply exactly the stub's rules.

#include <string>
#include <string_view>

namespace vexa {

// Folder + name with one backslash between them, unless the folder already ends in one.
// The folder must not be empty.
std::string PathJoin(const std::string& Folder, const std::string& Name);

// The path up to and including its last backslash or colon; empty when it has neither.
std::string FolderPart(const std::string& Path);

// An item's FileName is joined to the destination folder unchanged, so only a plain
// name may be written: not empty, no drive or colon, no separator of either kind, and
// not a name that Windows resolves to the folder itself or its parent ("." and "..",
// or dots and spaces only, which Windows trims away).
bool IsSafeItemFileName(std::string_view Name);

} // namespace vexa
