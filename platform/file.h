#pragma once
// The file calls the portable core needs, over the OS's native handle. Paths are the
// tool's UTF-8 text: the bytes as they are on POSIX, the wide (UTF-16) name on Windows, so
// that every name reaches its file whatever the ANSI code page spells.

#include <cstdint>
#include <string>

namespace vexa::platform {

using FileHandle = std::intptr_t;
inline constexpr FileHandle InvalidFileHandle = -1;

// Creates or truncates Path for exclusive reading and writing; never follows a symbolic
// link at the last component. InvalidFileHandle on failure.
FileHandle CreateFileExclusive(const std::string& Path);
// Opens an existing file for reading. InvalidFileHandle on failure.
FileHandle OpenFileForReading(const std::string& Path);
// Deletes the file Path where it can; nothing tells whether it did.
void RemoveFile(const std::string& Path);
// Bytes transferred; 0 when the call fails.
std::int32_t ReadFile(FileHandle Handle, void* Buffer, std::int32_t Count);
std::int32_t WriteFile(FileHandle Handle, const void* Buffer, std::int32_t Count);
// The new position (low 32 bits); origins 0, 1, 2 as for streams. -1 on failure.
std::int32_t SeekFile(FileHandle Handle, std::int32_t Offset, std::uint16_t Origin);
bool SetEndOfFile(FileHandle Handle);
void CloseFile(FileHandle Handle);

} // namespace vexa::platform
