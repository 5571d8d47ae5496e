#include "engine/disk/system_directory.h"

#include "engine/base/orb_exception.h"
#include "engine/table/page_header.h"
#include "engine/table/page_manager.h"
#include "engine/platform/byte_order.h"

namespace orb {

TORBSystemDirectory::TORBSystemDirectory(TORBPageManager* page_manager)
    : LPageManager(page_manager), FHandle(page_manager, kPageTypeFileSystemDirectory) {}

void TORBSystemDirectory::CreateDirectory() {
  FHandle.CreateFile(TORBPageManager::kSystemSession);
  if (FHandle.GetStartPageNo() != kSystemDirectoryPageNo) {
    RaiseORB(30392, "Error creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
             {FHandle.GetStartPageNo(), kSystemDirectoryPageNo});
  }
  FFileList.clear();
}

void TORBSystemDirectory::LoadDirectory() {
  FHandle.OpenFile(kSystemDirectoryPageNo);
  std::vector<uint8_t> bytes;
  FHandle.ReadAll(TORBPageManager::kSystemSession, bytes);
  FFileList.clear();
  // A trailing partial entry is not an entry.
  for (size_t pos = 0; pos + TORBSystemDirectoryListItem::kSize <= bytes.size();
       pos += TORBSystemDirectoryListItem::kSize) {
    TORBSystemDirectoryListItem item;
    item.FileID = static_cast<TORBDBFileType>(LoadU8(&bytes[pos]));
    item.FirstPageNo = LoadI32LE(&bytes[pos + 1]);
    FFileList.push_back(item);
  }
}

void TORBSystemDirectory::SaveDirectory() {
  std::vector<uint8_t> bytes(FFileList.size() * TORBSystemDirectoryListItem::kSize);
  size_t pos = 0;
  for (const TORBSystemDirectoryListItem& item : FFileList) {
    StoreU8(&bytes[pos], item.FileID);
    StoreI32LE(&bytes[pos + 1], item.FirstPageNo);
    pos += TORBSystemDirectoryListItem::kSize;
  }
  FHandle.WriteFile(TORBPageManager::kSystemSession, bytes.data(), static_cast<int32_t>(bytes.size()));
}

void TORBSystemDirectory::CreateFile(TORBDBFileType file_type, int32_t first_page) {
  FFileList.push_back(TORBSystemDirectoryListItem{file_type, first_page});
}

int32_t TORBSystemDirectory::GetFileFirstPageNo(TORBDBFileType file_type) const {
  for (const TORBSystemDirectoryListItem& item : FFileList) {
    if (item.FileID == file_type) return item.FirstPageNo;
  }
  return -1;
}

}  // namespace orb
