#pragma once
// Writing a tree below a folder without ever resolving a link on the way: each folder is
// opened from the one above it, never through a link in its place, and a file is made in
// the folder it belongs to by its name alone. A link planted in the tree while it is being
// written, after any check by path, redirects nothing.
//
// On Windows a folder is reached by its path, but every folder held open cannot be
// renamed, deleted or replaced until it is closed: keep a folder's handle while its
// children are written.

#include <filesystem>
#include <string>
#include <utility>

#include "platform/file.h"

namespace vexa::platform {

class FolderHandle {
public:
  enum class Outcome {
    Done,
    Link,   // a link in the way: refused, neither followed nor removed
    Exists, // something of that name is there already
    Failed, // Why says why
  };

  FolderHandle() = default;
  ~FolderHandle() { Close(); }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  FolderHandle(FolderHandle&& Other) noexcept
      : Handle(std::exchange(Other.Handle, InvalidFileHandle)), Reached(std::move(Other.Reached)) {}
  FolderHandle& operator=(FolderHandle&& Other) noexcept {
    if (this != &Other) {
      Close();
      Handle = std::exchange(Other.Handle, InvalidFileHandle);
      Reached = std::move(Other.Reached);
    }
    return *this;
  }

  // Opens the folder at Path, which the user named: links on the way to it are followed.
  // Done or Failed.
  Outcome Open(const std::filesystem::path& Path, std::string& Why);
  // Opens the folder Name (one component) inside Parent, making it when nothing of that
  // name is there. Done, Link (a link of any kind, even a dangling one, stands there) or
  // Failed (a file stands there, or the system refused).
  Outcome OpenIn(const FolderHandle& Parent, const std::filesystem::path& Name, std::string& Why);
  void Close();

  // Creates the file Name (one component) in this folder, for reading and writing, into
  // File. What has that name already is Exists, unless Replace: a file or a link is then
  // removed first (the link itself, never what it leads to) and the file made anew; a
  // folder is never replaced. Done, Exists or Failed.
  Outcome OpenNewFile(const std::filesystem::path& Name, bool Replace, FileHandle& File,
                      std::string& Why) const;
  // Removes the file (or link) Name from this folder.
  bool RemoveFile(const std::filesystem::path& Name) const;

  // The path this folder was reached by, for messages: on POSIX it may no longer lead here.
  const std::filesystem::path& Path() const { return Reached; }

private:
  FileHandle Handle = InvalidFileHandle;
  std::filesystem::path Reached;
};

// Makes the folder at Path, which the user named, and every missing folder above it, at any
// depth; links on the way are followed. False, with Why, when it cannot be made or something
// other than a folder stands there.
bool MakeFolders(const std::filesystem::path& Path, std::string& Why);

} // namespace vexa::platform
