#pragma once
// Letting the user choose the destination folder in the shell's folder browser.

namespace vexa {

// The last folder the browser produced; empty until one was chosen.
extern char BrowsedFolder[261];

// 1 when a file-system folder was chosen (its path is in BrowsedFolder), 2 otherwise.
int BrowseForDestination();

} // namespace vexa
