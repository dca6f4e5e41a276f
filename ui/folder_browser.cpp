#include "ui/folder_browser.h"

#include <cstring>

#include "app/status_window.h"
#include "platform/win32/ansi_path.h"
#include "platform/win32/windows.h"
#include "resources/resource_ids.h"
#include "ui/message_boxes.h"

#include <shlobj.h>

namespace vexa {

char BrowsedFolder[261] = {};

namespace {

int CALLBACK BrowseCallback(HWND Browser, UINT Message, LPARAM, LPARAM) {
  if (Message != BFFM_INITIALIZED)
    return 0;
  wchar_t caption[260] = {};
  if (::LoadStringW(::GetModuleHandleW(nullptr), IDS_BROWSE_CAPTION, caption, 260) > 0)
    ::SetWindowTextW(Browser, caption);
  CenterWindow(Browser);
  return 0;
}

void FreeItemList(LPITEMIDLIST List) {
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(::SHGetMalloc(&allocator))) {
    allocator->Free(List);
    allocator->Release();
  }
}

} // namespace

int BrowseForDestination() {
  wchar_t displayName[MAX_PATH];
  wchar_t instruction[260] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), IDS_BROWSE_INSTRUCTION, instruction, 260);

  BROWSEINFOW info{};
  info.pszDisplayName = displayName;
  info.lpszTitle = instruction;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;

  LPITEMIDLIST list = ::SHBrowseForFolderW(&info);
  if (!list)
    return 2;
  wchar_t chosen[MAX_PATH];
  const bool converted = ::SHGetPathFromIDListW(list, chosen);
  FreeItemList(list);
  if (!converted)
    return 2;
  const std::string folder = win32::AnsiPath(chosen);
  if (folder.empty() || folder.size() >= sizeof BrowsedFolder)
    FolderCannotBeNamed(chosen);
  std::memcpy(BrowsedFolder, folder.c_str(), folder.size() + 1);
  return 1;
}

} // namespace vexa
