#pragma once

// B+-tree pages (page type 12) and the tree operations over them.
//
// Every ordered structure of the engine is one tree design: fixed-size
// entries (a key and a reference) kept sorted in leaf pages, node pages
// whose entries point to child pages, and left/right sibling links on every
// level. The key semantics come from a TORBBTreeKeyRef. A position is a
// TORBKeyPath (page and entry on every level, root first).
//
// Page data layout. The page data area (after the page manager's page
// header) begins with the tree page header, little-endian, packed:
// | offset | size | type   | meaning                                          |
// |      0 |    1 | bool   | IsRoot                                           |
// |      1 |    1 | bool   | IsLeaf                                           |
// |      2 |    4 | int32  | LeftPageNo: left sibling on the level, -1 none   |
// |      6 |    4 | int32  | RightPageNo: right sibling, -1 none              |
// |     10 |    1 | bool   | HasKeys: set on a new root                       |
// |     11 |    1 | bool   | HasSuffixes: always 0; pages with 1 are rejected |
// |     12 |    2 | uint16 | KeyPrefixSize: key bytes per entry (the key      |
// |        |      |        | reference's short key size)                      |
// |     14 |    2 | uint16 | EntryCount                                       |
// |     16 |    2 | uint16 | PagePrefixSize: always 0; other values rejected  |
// Entries follow at 18 + PagePrefixSize, back to back, EntrySize bytes each:
// | offset   | size          | meaning                                        |
// |        0 | KeyPrefixSize | key bytes                                      |
// | KeyPref. | ReferenceSize | leaf: the key reference's reference (6 for     |
// |          |               | record IDs, 2 for page index values);          |
// |          |               | node: child page number, int32                 |
// Entries are in ascending key order, ties in ascending reference order. In
// a node, entry j (j >= 1) holds a separator: every key of child j - 1 is
// at most it, every key of child j at least it. Entry 0's key is never
// compared.
//
// Pages are held only for the duration of one operation; the root page
// number never changes while the tree exists.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/platform/byte_order.h"
#include "engine/table/btree_key_ref.h"
#include "engine/table/key_path.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"
#include "engine/table/search_condition.h"

namespace orb {

class TORBPageManager;
class TORBBTreePage;

// The tree page header, see the byte table above.
struct TORBBTreePageHeader {
  static constexpr size_t kSize = 18;
  static constexpr size_t kOffIsRoot = 0;
  static constexpr size_t kOffIsLeaf = 1;
  static constexpr size_t kOffLeftPageNo = 2;
  static constexpr size_t kOffRightPageNo = 6;
  static constexpr size_t kOffHasKeys = 10;
  static constexpr size_t kOffHasSuffixes = 11;
  static constexpr size_t kOffKeyPrefixSize = 12;
  static constexpr size_t kOffEntryCount = 14;
  static constexpr size_t kOffPagePrefixSize = 16;

  bool IsRoot = false;
  bool IsLeaf = false;
  int32_t LeftPageNo = -1;
  int32_t RightPageNo = -1;
  bool HasKeys = false;
  bool HasSuffixes = false;
  uint16_t KeyPrefixSize = 0;
  uint16_t EntryCount = 0;
  uint16_t PagePrefixSize = 0;

  void SaveTo(uint8_t* dst) const;
  static TORBBTreePageHeader LoadFrom(const uint8_t* src);
};

// Outcome of an insertion at a remembered leaf.
enum TORBLeafHintResult {
  lhrInserted,   // the entry is in the leaf
  lhrDuplicate,  // a unique tree holds an equal key; nothing changed
  lhrMissed,     // nothing changed: insert by a descent
};

// Tree operations behind a page; the page forwards to the leaf controller
// when it is a leaf, else to the node controller. Every tree operation is
// called on the root page.
class TORBBTreePageController {
 public:
  explicit TORBBTreePageController(TORBBTreePage* page) : FPage(page) {}
  virtual ~TORBBTreePageController() = default;
  TORBBTreePageController(const TORBBTreePageController&) = delete;
  TORBBTreePageController& operator=(const TORBBTreePageController&) = delete;

  // Orders (key, reference) against entry `entry_no` of the page: -1, 0, 1.
  virtual int CompareEntries(int32_t session_id, const uint8_t* key, const uint8_t* reference, int32_t entry_no);
  virtual void InsertLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  virtual bool InsertUniqueLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                     TORBKeyPath& path);
  virtual bool DeleteLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  virtual void FreeAllPages(int32_t session_id, bool keep_root_page);
  virtual void CheckIntegrity(int32_t session_id);
  virtual bool FindEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  virtual bool GetFirstPosition(int32_t session_id, TORBKeyPath& path);
  virtual bool GetLastPosition(int32_t session_id, TORBKeyPath& path);
  virtual bool FindByCondition(int32_t session_id, bool first, const uint8_t* key, TORBSearchCondition condition,
                               TORBKeyPath& path);
  virtual bool GetFirstKey(int32_t session_id, uint8_t* key);
  virtual bool GetLastKey(int32_t session_id, uint8_t* key);
  virtual bool GetFirstEntry(int32_t session_id, uint8_t* key, uint8_t* reference);
  virtual bool GetLastEntry(int32_t session_id, uint8_t* key, uint8_t* reference);

  void SetPage(TORBBTreePage* page) { FPage = page; }

 protected:
  TORBBTreePage* FPage;
};

class TORBBTreeLeafController : public TORBBTreePageController {
 public:
  using TORBBTreePageController::TORBBTreePageController;
  // Leaf entries compare their references when keys tie.
  int CompareEntries(int32_t session_id, const uint8_t* key, const uint8_t* reference, int32_t entry_no) override;
};

class TORBBTreeNodeController : public TORBBTreePageController {
 public:
  using TORBBTreePageController::TORBBTreePageController;
  // Node entries compare with the first entry of the child's subtree when
  // keys tie (the separator holds no reference).
  int CompareEntries(int32_t session_id, const uint8_t* key, const uint8_t* reference, int32_t entry_no) override;
  // Inserts (key, child page) right after the entry at the path's current
  // level; splits the node when it overflows.
  virtual void InsertNodeEntry(int32_t session_id, const uint8_t* key, int32_t child_page_no, TORBKeyPath& path);
  // Deletes the entry at the path's current level, keeping the separators
  // above consistent; `merge_with_left` tells which sibling absorbed the
  // child it pointed to.
  virtual void DeleteNodeEntry(int32_t session_id, TORBKeyPath& path, bool merge_with_left);
};

// One page of a tree, held from GetIndexPage/AddIndexPage until
// PutIndexPage or destruction. Movable, not copyable.
class TORBBTreePage : public TORBPageController {
 public:
  static constexpr int32_t kSuffixPtrSize = 6;
  static constexpr int32_t kNodeReferenceSize = 4;

  // REQUIRES: `page_manager` and `key_ref` outlive the object.
  TORBBTreePage(TORBPageManager* page_manager, TORBBTreeKeyRef* key_ref);
  ~TORBBTreePage() override;
  TORBBTreePage(TORBBTreePage&& other) noexcept;
  TORBBTreePage& operator=(TORBBTreePage&& other) noexcept;
  TORBBTreePage(const TORBBTreePage&) = delete;
  TORBBTreePage& operator=(const TORBBTreePage&) = delete;

  // Raises 30650 unless a page of `page_data_size` bytes holds at least
  // three leaf entries and three node entries of `key_ref`'s sizes. Trees
  // are refused at creation when it fails: a split must leave at least one
  // entry on each side and a node at least two children.
  static void CheckEntrySize(uint16_t page_data_size, const TORBBTreeKeyRef& key_ref);

  // Takes a new page of type 12 with a fresh header: not root, not leaf,
  // no siblings, sizes and count 0. The page is dirty.
  void AddIndexPage(int32_t session_id);
  // Takes page `page_no` (type 12 required) and checks its header against
  // the page size and the key reference: a header that does not fit raises
  // 30654.
  void GetIndexPage(int32_t session_id, int32_t page_no);
  // Releases the page held (no-op when none).
  void PutIndexPage();
  // Schedules `page_no` to be freed when the session applies.
  void RemoveIndexPage(int32_t session_id, int32_t page_no);
  bool HasPage() const { return static_cast<bool>(FGuard); }

  // Fresh header (see AddIndexPage).
  void Init();
  // Root leaf without entries; KeyPrefixSize from the key reference.
  void InitAsRoot();
  // This page becomes `source`'s header and prefix with `count` of its
  // entries from `start_no`.
  void CopyFrom(const TORBBTreePage& source, int32_t start_no, int32_t count);
  // Appends `count` of `source`'s entries from `start_no`.
  void AppendFrom(const TORBBTreePage& source, int32_t start_no, int32_t count);
  // Inserts `count` of `source`'s entries from `start_no` at the front.
  void InsertFrom(const TORBBTreePage& source, int32_t start_no, int32_t count);

  // Header fields (setters mark the page dirty). Getters read the held
  // page's bytes directly: they are called once per probed entry.
  bool IsRoot() const { return LoadU8(FData + TORBBTreePageHeader::kOffIsRoot) != 0; }
  void SetIsRoot(bool value);
  bool IsLeaf() const { return LoadU8(FData + TORBBTreePageHeader::kOffIsLeaf) != 0; }
  void SetIsLeaf(bool value);
  int32_t LeftPageNo() const { return LoadI32LE(FData + TORBBTreePageHeader::kOffLeftPageNo); }
  void SetLeftPageNo(int32_t value);
  int32_t RightPageNo() const { return LoadI32LE(FData + TORBBTreePageHeader::kOffRightPageNo); }
  void SetRightPageNo(int32_t value);
  bool HasKeys() const { return LoadU8(FData + TORBBTreePageHeader::kOffHasKeys) != 0; }
  void SetHasKeys(bool value);
  bool HasSuffixes() const { return LoadU8(FData + TORBBTreePageHeader::kOffHasSuffixes) != 0; }
  uint16_t KeyPrefixSize() const { return LoadU16LE(FData + TORBBTreePageHeader::kOffKeyPrefixSize); }
  void SetKeyPrefixSize(uint16_t value);
  int32_t EntryCount() const { return LoadU16LE(FData + TORBBTreePageHeader::kOffEntryCount); }
  void SetEntryCount(int32_t value);
  uint16_t PagePrefixSize() const { return LoadU16LE(FData + TORBBTreePageHeader::kOffPagePrefixSize); }
  // Leaf: the key reference's reference size; node: 4.
  int32_t ReferenceSize() const { return IsLeaf() ? LKeyRef->ReferenceSize() : kNodeReferenceSize; }
  int32_t EntrySize() const { return KeyPrefixSize() + ReferenceSize(); }
  int32_t EntriesOffset() const { return static_cast<int32_t>(TORBBTreePageHeader::kSize) + PagePrefixSize(); }
  // Entries the page holds at most.
  int32_t MaxEntryCount() const;

  // Entry access. REQUIRES: 0 <= position < EntryCount().
  const uint8_t* GetPKey(int32_t position) const { return EntryPtr(position); }
  const uint8_t* GetPReference(int32_t position) const { return EntryPtr(position) + KeyPrefixSize(); }
  void UpdateKey(int32_t position, const uint8_t* key);
  void UpdateReference(int32_t position, const uint8_t* reference);
  // Child page of node entry `position`; a negative one raises 30654.
  int32_t ChildPageNo(int32_t position) const;
  // Inserts an entry at `position` (0..EntryCount()), moving later ones up.
  // REQUIRES: CanAddEntry().
  void InsertEntry(int32_t position, const uint8_t* key, const uint8_t* reference);
  // Removes entry `position`; 20025 on an empty page.
  void DeleteEntry(int32_t position);
  // Replaces all entries by `count` raw entries (EntrySize() bytes each,
  // back to back). REQUIRES: they fit the page.
  void ReplaceEntries(const uint8_t* entries, int32_t count);

  // Space rules (D = page data size, E = entry size, n = entry count).
  bool CanAddEntry() const;    // 18 + (n + 1) E <= D
  bool IsOverflow() const;     // 18 + n E > D
  bool CanUnderflow() const;   // n E < (D - 18) / 2: less than half used
  // All entries of both pages fit in one page. An emptied page can always
  // merge, so no non-root page stays without entries.
  bool CanMergeWithPage(const TORBBTreePage& other) const;

  // Searches the page from entry `lo` for (key, reference): the first entry
  // not below it (kstFirst/kstAny), or the last entry equal to it
  // (kstLast). Reports kppOnKey with an equal entry, else kppBeforeKey and
  // the first entry above; an empty page reports kppEOF and 0. Without a
  // reference, keys alone decide.
  int32_t GetKeyPosition(bool may_use_full_keys, int32_t session_id, const uint8_t* key, const uint8_t* reference,
                         int32_t lo, TORBKeyPathPosition& position_type, TORBKeySearchType search_type);

  // Tree operations, called on the root page (forwarded to the controller).
  // After InsertLeafEntry the path is on the new entry. Delete returns false
  // when no entry has this key and reference; without a reference the first
  // entry with an equal key goes. After a delete the path is no position
  // (pages may have merged): search again to get one.
  void InsertLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  // As InsertLeafEntry unless an entry with an equal key exists (the one
  // FindByCondition with scEqual would find): then false and the tree is
  // unchanged. One descent does both.
  bool InsertUniqueLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  // Inserts into the leaf `leaf_page_no` (typically where the previous
  // insertion went: keys often arrive in ascending order) without taking
  // the pages above it, when that is provably where a descent would put
  // the entry. The caller saw the page as a leaf of this tree, private to
  // the session, when the manager's ApplyCount() was `apply_count`; it is
  // used when the count is unchanged, the manager is single-user, the
  // page is still private to the session and the session freed no page,
  // the page is no root and has room, and the entry orders after its first
  // entry and before its last (or after the last of the rightmost leaf).
  // With `unique` an equal key found there gives lhrDuplicate. Otherwise
  // lhrMissed and nothing changed. The page object's own page is left
  // alone.
  TORBLeafHintResult InsertAtLeafHint(int32_t session_id, int32_t leaf_page_no, uint64_t apply_count,
                                      const uint8_t* key, const uint8_t* reference, bool unique);
  bool DeleteLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  // On a leaf these raise 20020 / 20024.
  void InsertNodeEntry(int32_t session_id, const uint8_t* key, int32_t child_page_no, TORBKeyPath& path);
  void DeleteNodeEntry(int32_t session_id, TORBKeyPath& path, bool merge_with_left);
  // The entry with this key and reference; without a reference the first
  // entry with an equal key. False when there is none.
  bool FindEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path);
  bool GetFirstPosition(int32_t session_id, TORBKeyPath& path);
  bool GetLastPosition(int32_t session_id, TORBKeyPath& path);
  // The first (`first`) or last entry satisfying `condition` against
  // `key`; scNone or a null key: the first or last entry. False when none.
  bool FindByCondition(int32_t session_id, bool first, const uint8_t* key, TORBSearchCondition condition,
                       TORBKeyPath& path);
  // The first (`first`) or last leaf, held in `leaf` (a page object of
  // this tree's manager and key reference); false on an empty tree. An
  // empty page below the root raises 20028, a chain deeper than a path
  // holds kErrBTreeTooDeep.
  bool GetEdgeLeaf(int32_t session_id, bool first, TORBBTreePage& leaf);
  // Removes every page below the root, and the root unless
  // `keep_root_page` (the root's contents stay as they are).
  void FreeAllPages(int32_t session_id, bool keep_root_page);
  // Walks the whole tree: page headers, sibling links, uniform leaf depth,
  // separators bounding their subtrees, and leaf entries in order (equal
  // whole keys with strictly ascending references). Raises 20028 at the
  // first violation.
  void CheckIntegrity(int32_t session_id);
  // Key (and reference) of the first or last entry; false on an empty tree.
  bool GetFirstKey(int32_t session_id, uint8_t* key);
  bool GetLastKey(int32_t session_id, uint8_t* key);
  bool GetFirstEntry(int32_t session_id, uint8_t* key, uint8_t* reference);
  bool GetLastEntry(int32_t session_id, uint8_t* key, uint8_t* reference);

  // Steps a position to the next / prior entry through sibling links;
  // false (path unchanged) at the last / first entry. A path without
  // levels raises 20069; a missing sibling 20070 / 20071.
  bool GetNextPosition(int32_t session_id, TORBKeyPath& path);
  bool GetPriorPosition(int32_t session_id, TORBKeyPath& path);
  // The same, raising `empty_path_code` / `missing_sibling_code` instead
  // (for trees whose owners have codes of their own).
  bool GetNextPosition(int32_t session_id, TORBKeyPath& path, int32_t empty_path_code, int32_t missing_sibling_code);
  bool GetPriorPosition(int32_t session_id, TORBKeyPath& path, int32_t empty_path_code, int32_t missing_sibling_code);
  // Key and reference of the leaf entry at `path` (either may be null).
  // A path without levels or outside its leaf raises 30655.
  void GetEntryAtPosition(int32_t session_id, const TORBKeyPath& path, uint8_t* key, uint8_t* reference);
  // Descends from the root following only the path's entry numbers (its
  // page numbers are ignored and filled in, with the counts), and reads the
  // leaf entry. False when an entry number does not exist or the path
  // does not reach a leaf exactly.
  bool GetEntryByIndexPosition(int32_t session_id, TORBKeyPath& path, uint8_t* key, uint8_t* reference);
  // 0-based rank of the position in the leaf order: its entry number plus
  // the entries of all leaves to the left.
  int64_t GetRecNoByPosition(int32_t session_id, const TORBKeyPath& path);
  // Leaf entry of 0-based rank `rec_no`, walking leaves from the first;
  // false beyond the last entry.
  bool GetEntryByRecNo(int32_t session_id, int64_t rec_no, uint8_t* key, uint8_t* reference);
  // Entries in all leaves.
  int64_t GetEntryTotal(int32_t session_id);
  // Levels from the root to the leaves.
  int32_t GetDepth(int32_t session_id);

  TORBPageManager* LPageManager;
  TORBBTreeKeyRef* LKeyRef;

 private:
  friend class TORBBTreePageController;
  friend class TORBBTreeNodeController;

  TORBBTreePageController& Controller();
  uint8_t* Data() const { return FData; }
  const uint8_t* EntryPtr(int32_t position) const {
    return FData + EntriesOffset() + static_cast<size_t>(position) * static_cast<size_t>(EntrySize());
  }
  void Dirty();
  void CheckHeader() const;
  // Takes over the page `guard` holds (or none).
  void Hold(TORBPageGuard guard);

  TORBPageGuard FGuard;
  // The held page's data area (after the page manager's header), null
  // when none is held. A held page keeps its buffer: the manager re-reads
  // or replaces a buffer only while nobody uses the page.
  uint8_t* FData = nullptr;
  TORBBTreeLeafController FLeafController{this};
  TORBBTreeNodeController FNodeController{this};
};

}  // namespace orb
