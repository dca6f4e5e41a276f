#pragma once
// The ITEMPATHS resource: each item's full path below the destination in UTF-16, and the
// empty folders of the packed tree. A reader that finds it takes the paths from it; the
// 32-byte FileName of each item then only serves readers that do not know the resource.
// Kept portable so that the stub, the tool and the tests read it and judge its paths alike.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexa {

inline constexpr char ItemPathsResourceName[] = "ITEMPATHS";

// The longest component NTFS takes, and a path bound that leaves room for any destination
// within the 32,767 units of a \\?\ path.
inline constexpr std::size_t MaxPathComponentUnits = 255;
inline constexpr std::size_t MaxItemPathUnits = 4096;

struct TItemPaths {
  std::vector<std::u16string> Items;        // one per item, in item order
  std::vector<std::u16string> EmptyFolders; // folders of the tree that hold nothing packed
};

// UTF-16LE, each path ended by a NUL unit: the items' paths, then the empty folders.
std::vector<std::uint8_t> EncodeItemPaths(const TItemPaths& Paths);

// The resource as a reader keeps it, for thousands of items: each path split after its last
// backslash, its folder kept once for the run of paths in it (a packed tree lists a folder's
// files together), and its name, all in a few buffers rather than a string each.
class TItemPathTable {
public:
  // Nothing when the bytes cannot be the resource of an archive of ItemCount items: an odd
  // length, a last path without its NUL, fewer paths than items. The paths are kept as
  // stored; whether each is safe to write is IsSafeTreePath's question, asked per path, so
  // that one hostile path refuses its own item only.
  static std::optional<TItemPathTable> Decode(const std::uint8_t* Data, std::size_t Size,
                                              std::size_t ItemCount);

  std::u16string Item(std::size_t Index) const { return Path(Index); }
  std::size_t EmptyFolderCount() const { return NameEnds.size() - ItemCount; }
  std::u16string EmptyFolder(std::size_t Index) const { return Path(ItemCount + Index); }

private:
  void Add(std::u16string_view Path);
  std::u16string Path(std::size_t Index) const;

  std::u16string Folders;                   // each up to and including its last backslash
  std::vector<std::uint32_t> FolderEnds{0}; // where each ends; the first, empty, is no folder
  std::u16string Names;                     // what follows each path's folder
  std::vector<std::uint32_t> NameEnds;      // per path, the items' then the empty folders'
  std::vector<std::uint32_t> FolderOf;      // per path, the number of its folder
  std::size_t ItemCount = 0;
};

// A path of the resource is safe when, joined to the destination, it can name nothing but
// a file or folder inside it. Backslash is its only separator. Every component must be
// non-empty, hold more than dots and spaces (Windows resolves those to the folder itself or
// its parent), hold no character Windows forbids in a name (controls, < > : " / | ? *; the
// colon would also name a stream), not be a device name (CON, PRN, AUX, NUL, COM0-9,
// LPT0-9, CONIN$, CONOUT$, with or without an extension or trailing spaces), and fit
// MaxPathComponentUnits; the path fits MaxItemPathUnits.
bool IsSafeTreePath(std::u16string_view Path);

// The folders a path lies in, outermost first: a\b\c.txt gives a and a\b.
std::vector<std::u16string_view> FoldersOf(std::u16string_view Path);

} // namespace vexa
