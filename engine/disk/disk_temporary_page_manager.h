#pragma once

// Pages of a disk table's temporary indexes: held in process memory, never
// written to the database file, gone with the table's close.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/table/page_manager.h"

namespace orb {

class TORBDiskTemporaryPageManager : public TORBPageManager {
 public:
  // Pages of the database's page and page header size.
  TORBDiskTemporaryPageManager(uint16_t page_size, uint16_t header_size);
  ~TORBDiskTemporaryPageManager() override;

 protected:
  void InternalAddPage(TORBPage& page) override;
  void InternalRemovePage(int32_t page_no) override;
  bool InternalReadPage(TORBPage& page) override;
  void InternalWritePage(TORBPage& page) override;

 private:
  std::vector<std::unique_ptr<uint8_t[]>> FPages;
  std::vector<int32_t> FFreePageNos;
};

}  // namespace orb
