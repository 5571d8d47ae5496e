#pragma once

// Bottom-up bulk load of a B-tree: entries given in ascending order fill
// leaves left to right, then each node level is built over the level
// below, and the top level is written into the root page, whose number was
// given out before (an index definition already holds it). Building an
// index over an existing table so costs one page write per page instead of
// one descent per entry.
//
// Fill: leaves take `leaf_fill` entries and nodes `node_fill` entries
// (0: as many as a page holds less one, so that the next insert into any
// page does not split it at once). The entries of the last two pages of a
// level are spread evenly over both, so no page but the root is less than
// half of the fill.

#include <cstdint>
#include <vector>

#include "engine/table/btree_key_ref.h"

namespace orb {

class TORBPageManager;

class TORBBTreeBuilder {
 public:
  // Starts a load into the tree whose root is `root_page_no`: an empty root
  // leaf (InitAsRoot), else Finish raises 30657. Raises 30650 when the
  // key reference's entries do not fit three to a page.
  // REQUIRES: `page_manager` and `key_ref` outlive the builder.
  TORBBTreeBuilder(TORBPageManager* page_manager, TORBBTreeKeyRef* key_ref, int32_t session_id, int32_t root_page_no,
                   int32_t leaf_fill = 0, int32_t node_fill = 0);
  TORBBTreeBuilder(const TORBBTreeBuilder&) = delete;
  TORBBTreeBuilder& operator=(const TORBBTreeBuilder&) = delete;

  // Adds the next entry: ShortKeySize() key bytes and ReferenceSize()
  // reference bytes. An entry ordered before the previous one (or equal to
  // it, when the key reference stores whole keys) raises 30656.
  void Add(const uint8_t* key, const uint8_t* reference);
  // Writes the remaining pages and the root. Nothing may be added after.
  void Finish();

  int64_t EntryCount() const { return FCount; }
  int32_t LeafFill() const { return FLeafFill; }
  int32_t NodeFill() const { return FNodeFill; }

 private:
  struct TChild {
    std::vector<uint8_t> Key;
    int32_t PageNo;
  };
  // Writes `count` buffered leaf entries from the front of the buffer as a
  // new leaf page linked after the previous one.
  void WriteLeaf(int32_t count);
  // Writes a page of `count` raw entries of `entry_size` (leaf or node),
  // linked after `previous_page_no`; returns its number.
  int32_t WritePage(bool leaf, const uint8_t* entries, int32_t count, int32_t previous_page_no);
  // Spreads `total` items over pages of at most `fill`: sizes in order,
  // the last two evened out.
  static std::vector<int32_t> PageSizes(int64_t total, int32_t fill);

  TORBPageManager* LPageManager;
  TORBBTreeKeyRef* LKeyRef;
  int32_t FSession;
  int32_t FRootPageNo;
  int32_t FLeafFill;
  int32_t FNodeFill;
  int32_t FLeafCapacity;
  int32_t FNodeCapacity;
  int32_t FLeafEntrySize;
  int64_t FCount = 0;
  bool FFinished = false;
  // Entries not yet written (at most two leaves' worth).
  std::vector<uint8_t> FPending;
  int32_t FPendingCount = 0;
  std::vector<uint8_t> FLastEntry;
  int32_t FLastLeafPageNo = -1;
  std::vector<TChild> FLeaves;
};

}  // namespace orb
