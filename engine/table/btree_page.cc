#include "engine/table/btree_page.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <unordered_set>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/table/page_header.h"
#include "engine/table/page_manager.h"

namespace orb {

// ---------------------------------------------------------------------------
// Header

void TORBBTreePageHeader::SaveTo(uint8_t* dst) const {
  StoreU8(dst + kOffIsRoot, IsRoot ? 1 : 0);
  StoreU8(dst + kOffIsLeaf, IsLeaf ? 1 : 0);
  StoreI32LE(dst + kOffLeftPageNo, LeftPageNo);
  StoreI32LE(dst + kOffRightPageNo, RightPageNo);
  StoreU8(dst + kOffHasKeys, HasKeys ? 1 : 0);
  StoreU8(dst + kOffHasSuffixes, HasSuffixes ? 1 : 0);
  StoreU16LE(dst + kOffKeyPrefixSize, KeyPrefixSize);
  StoreU16LE(dst + kOffEntryCount, EntryCount);
  StoreU16LE(dst + kOffPagePrefixSize, PagePrefixSize);
}

TORBBTreePageHeader TORBBTreePageHeader::LoadFrom(const uint8_t* src) {
  TORBBTreePageHeader h;
  h.IsRoot = LoadU8(src + kOffIsRoot) != 0;
  h.IsLeaf = LoadU8(src + kOffIsLeaf) != 0;
  h.LeftPageNo = LoadI32LE(src + kOffLeftPageNo);
  h.RightPageNo = LoadI32LE(src + kOffRightPageNo);
  h.HasKeys = LoadU8(src + kOffHasKeys) != 0;
  h.HasSuffixes = LoadU8(src + kOffHasSuffixes) != 0;
  h.KeyPrefixSize = LoadU16LE(src + kOffKeyPrefixSize);
  h.EntryCount = LoadU16LE(src + kOffEntryCount);
  h.PagePrefixSize = LoadU16LE(src + kOffPagePrefixSize);
  return h;
}

namespace {

using TBytes = std::vector<uint8_t>;
using H = TORBBTreePageHeader;

[[noreturn]] void RaiseIntegrity(int32_t page_no, int32_t entry_no) {
  RaiseORB(20028, "Index integrity error. PageNo=%d EntryNo=%d", {page_no, entry_no});
}

// How a search target orders against entries with an equal key.
enum class TBias {
  kExact,        // by reference when both sides have one, else equal
  kBeforeEqual,  // before every entry with an equal key
  kAfterEqual,   // after every entry with an equal key
};

struct TTarget {
  const uint8_t* Key;
  const uint8_t* Reference;
  TBias Bias;
};

// The tree algorithms, over the session's view of one tree. Pages are
// taken for the duration of a step and released; the same page may be held
// twice at once (the page manager hands the same object to its session),
// which is safe because nothing here caches page contents.
class TTree {
 public:
  TTree(TORBPageManager* page_manager, TORBBTreeKeyRef* key_ref, int32_t session_id, int32_t root_page_no)
      : FPageManager(page_manager), FKeyRef(key_ref), FSession(session_id), FRoot(root_page_no) {}

  TORBBTreePage Load(int32_t page_no) {
    TORBBTreePage page(FPageManager, FKeyRef);
    page.GetIndexPage(FSession, page_no);
    return page;
  }
  TORBBTreePage New() {
    TORBBTreePage page(FPageManager, FKeyRef);
    page.AddIndexPage(FSession);
    return page;
  }
  void Remove(int32_t page_no) { FPageManager->RemovePage(FSession, page_no); }

  int CompareTarget(const TTarget& t, const uint8_t* entry_key, const uint8_t* entry_reference) {
    int c = FKeyRef->CompareShortKeys(t.Key, entry_key, true, FSession, t.Reference, entry_reference);
    if (c != 0) return c < 0 ? -1 : 1;
    if (t.Bias == TBias::kBeforeEqual) return -1;
    if (t.Bias == TBias::kAfterEqual) return 1;
    if (t.Reference != nullptr && entry_reference != nullptr)
      return TORBBTreeKeyRef::CompareReferences(t.Reference, entry_reference, FKeyRef->ReferenceSize());
    return 0;
  }

  // First leaf entry of the subtree under `page_no`; false when that leaf
  // is empty (only an empty root leaf is).
  bool SubtreeFirst(int32_t page_no, TBytes* key, TBytes* reference) {
    for (int32_t level = 0; level <= TORBKeyPath::kMaxLevels; ++level) {
      TORBBTreePage page = Load(page_no);
      if (page.EntryCount() == 0) return false;
      if (page.IsLeaf()) {
        if (key) key->assign(page.GetPKey(0), page.GetPKey(0) + page.KeyPrefixSize());
        if (reference) reference->assign(page.GetPReference(0), page.GetPReference(0) + page.ReferenceSize());
        return true;
      }
      page_no = page.ChildPageNo(0);
    }
    RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, page_no});
  }

  // True when the subtree of node entry `j` starts at or before the target,
  // so the target belongs in child j or to its right.
  //
  // Separators are compared first and decide whenever they differ from the
  // key: they bound their subtrees (keys of child j - 1 <= separator j <=
  // keys of child j). Only a tie fetches the child's first entry: a
  // separator holds no reference and may be older than the subtree's
  // current first entry, so equal keys are ordered exactly only against
  // that entry. Fetching on every probe would cost a descent per probe.
  bool StartsAtOrBefore(const TORBBTreePage& node, int32_t j, const TTarget& t) {
    int c = FKeyRef->CompareShortKeys(t.Key, node.GetPKey(j), true, FSession, t.Reference, nullptr);
    if (c != 0) return c > 0;
    TBytes key, reference;
    if (!SubtreeFirst(node.ChildPageNo(j), &key, &reference)) RaiseIntegrity(node.PageNo(), j);
    return CompareTarget(t, key.data(), reference.data()) >= 0;
  }

  // With `probe_last` the last child is tried first: the probes are
  // monotone in j (true up to the answer, false after), so a true last
  // probe is the binary search's answer. Keys arriving in ascending order
  // then cost one comparison per level.
  int32_t ChooseChild(const TORBBTreePage& node, const TTarget& t, bool probe_last = false) {
    int32_t lo = 1, hi = node.EntryCount();
    if (probe_last && hi > 1) {
      if (StartsAtOrBefore(node, hi - 1, t)) return hi - 1;
      --hi;
    }
    while (lo < hi) {
      int32_t mid = lo + (hi - lo) / 2;
      if (StartsAtOrBefore(node, mid, t)) lo = mid + 1; else hi = mid;
    }
    return lo - 1;
  }

  // Number of leaf entries ordered before the target; `probe_last` as in
  // ChooseChild (after the last entry: one comparison).
  int32_t LeafPosition(const TORBBTreePage& leaf, const TTarget& t, bool probe_last = false) {
    int32_t lo = 0, hi = leaf.EntryCount();
    if (probe_last && hi > 0) {
      if (CompareTarget(t, leaf.GetPKey(hi - 1), leaf.GetPReference(hi - 1)) > 0) return hi;
      --hi;
    }
    while (lo < hi) {
      int32_t mid = lo + (hi - lo) / 2;
      if (CompareTarget(t, leaf.GetPKey(mid), leaf.GetPReference(mid)) > 0) lo = mid + 1; else hi = mid;
    }
    return lo;
  }

  // Fills `path` from the root to the leaf where the target belongs; the
  // leaf level's entry number is the leaf position (may equal the count).
  // With `leaf`, the leaf reached stays held there. `probe_last` (inserts:
  // keys often arrive in ascending order) tries the last entry of every
  // page first.
  void Descend(const TTarget& t, TORBKeyPath& path, TORBBTreePage* leaf = nullptr, bool probe_last = false) {
    path.Clear();
    int32_t page_no = FRoot;
    TORBBTreePage held(FPageManager, FKeyRef);
    const TORBBTreePage* page = FRootPage;
    if (page == nullptr) {
      held = Load(page_no);
      page = &held;
    }
    for (;;) {
      int32_t n = page->EntryCount();
      if (page->IsLeaf()) {
        path.AddItem(page_no, LeafPosition(*page, t, probe_last), n);
        if (leaf != nullptr) *leaf = page == &held ? std::move(held) : Load(page_no);
        return;
      }
      if (n == 0) RaiseIntegrity(page_no, 0);
      int32_t child = ChooseChild(*page, t, probe_last);
      path.AddItem(page_no, child, n);
      page_no = page->ChildPageNo(child);
      held = Load(page_no);
      page = &held;
    }
  }

  // Moves a leaf position that lies past its leaf's end onto the next
  // entry; false when there is none.
  bool Normalize(TORBKeyPath& path) {
    TORBKeyPathItem& leaf = path.Leaf();
    if (leaf.EntryNo < leaf.EntryCount) return true;
    if (leaf.EntryCount == 0) return false;
    leaf.EntryNo = leaf.EntryCount - 1;
    return Next(path);
  }
  // Moves the position one entry back from a leaf position (which may lie
  // past the end); false when there is none.
  bool StepBack(TORBKeyPath& path) {
    TORBKeyPathItem& leaf = path.Leaf();
    if (leaf.EntryNo > 0) {
      --leaf.EntryNo;
      return true;
    }
    if (leaf.EntryCount == 0) return false;
    return Prior(path);
  }

  bool Next(TORBKeyPath& path, int32_t empty_code = 20069, int32_t sibling_code = 20070) {
    if (path.Count() == 0) RaiseORB(empty_code, "Index error: invalid position");
    int32_t l = path.Count() - 1;
    while (l >= 0 && path.Item(l).EntryNo >= path.Item(l).EntryCount - 1) --l;
    if (l < 0) return false;
    TORBKeyPath moved = path;
    ++moved.Item(l).EntryNo;
    for (int32_t m = l + 1; m < moved.Count(); ++m) {
      int32_t right = Load(moved.Item(m).PageNo).RightPageNo();
      if (right < 0) RaiseORB(sibling_code, "Index error: invalid page number");
      moved.Item(m) = {right, 0, Load(right).EntryCount()};
    }
    path = moved;
    return true;
  }

  bool Prior(TORBKeyPath& path, int32_t empty_code = 20069, int32_t sibling_code = 20071) {
    if (path.Count() == 0) RaiseORB(empty_code, "Index error: invalid position");
    int32_t l = path.Count() - 1;
    while (l >= 0 && path.Item(l).EntryNo <= 0) --l;
    if (l < 0) return false;
    TORBKeyPath moved = path;
    --moved.Item(l).EntryNo;
    for (int32_t m = l + 1; m < moved.Count(); ++m) {
      int32_t left = Load(moved.Item(m).PageNo).LeftPageNo();
      if (left < 0) RaiseORB(sibling_code, "Index error: invalid page number");
      int32_t n = Load(left).EntryCount();
      moved.Item(m) = {left, n - 1, n};
    }
    path = moved;
    return true;
  }

  // Descends through entry 0 (first) or the last entry on every level.
  bool Edge(bool first, TORBKeyPath& path) {
    path.Clear();
    int32_t page_no = FRoot;
    for (;;) {
      TORBBTreePage page = Load(page_no);
      int32_t n = page.EntryCount();
      if (n == 0) {
        if (page.IsRoot() && page.IsLeaf()) return false;
        RaiseIntegrity(page_no, 0);
      }
      int32_t entry = first ? 0 : n - 1;
      path.AddItem(page_no, entry, n);
      if (page.IsLeaf()) {
        path.SetPositionType(kppOnKey);
        return true;
      }
      page_no = page.ChildPageNo(entry);
    }
  }

  void ReadAt(const TORBKeyPath& path, uint8_t* key, uint8_t* reference) {
    if (path.Count() == 0) RaiseORB(kErrKeyPathEntry, "Index error: invalid position");
    const TORBKeyPathItem& item = path.Leaf();
    TORBBTreePage page = Load(item.PageNo);
    if (!page.IsLeaf() || item.EntryNo < 0 || item.EntryNo >= page.EntryCount())
      RaiseORB(kErrKeyPathEntry, "Index error: invalid position");
    if (key) std::memcpy(key, page.GetPKey(item.EntryNo), page.KeyPrefixSize());
    if (reference) std::memcpy(reference, page.GetPReference(item.EntryNo), page.ReferenceSize());
  }

  // Key of the leaf entry at `path` against `key`, references resolving cut
  // prefixes.
  int CompareAt(const TORBKeyPath& path, const uint8_t* key) {
    const TORBKeyPathItem& item = path.Leaf();
    TORBBTreePage page = Load(item.PageNo);
    return FKeyRef->CompareShortKeys(page.GetPKey(item.EntryNo), key, true, FSession, page.GetPReference(item.EntryNo),
                                     nullptr);
  }

  // ---- insertion

  void Insert(const uint8_t* key, const uint8_t* reference, TORBKeyPath& path) {
    TTarget t{key, reference, TBias::kExact};
    Descend(t, path, nullptr, true);
    InsertDescended(t, path);
  }

  // Inserts unless an entry with an equal key exists (then false, nothing
  // changed). One descent serves both: without an equal key anywhere in
  // the tree every comparison on the way is decided by the keys, so the
  // position before all equal keys is the position of (key, reference).
  bool InsertUnique(const uint8_t* key, const uint8_t* reference, TORBKeyPath& path) {
    TORBBTreePage leaf(FPageManager, FKeyRef);
    Descend(TTarget{key, nullptr, TBias::kBeforeEqual}, path, &leaf, true);
    const TORBKeyPathItem& item = path.Leaf();
    if (item.EntryNo < item.EntryCount) {
      // CompareAt on the leaf held.
      if (FKeyRef->CompareShortKeys(leaf.GetPKey(item.EntryNo), key, true, FSession,
                                    leaf.GetPReference(item.EntryNo), nullptr) == 0)
        return false;
    } else {
      TORBKeyPath probe = path;
      if (Normalize(probe) && CompareAt(probe, key) == 0) return false;
    }
    InsertDescended(TTarget{key, reference, TBias::kExact}, path, &leaf);
    return true;
  }

  // Inserts at the leaf `leaf_page_no` without a descent when that leaf is
  // shown to be where a descent would put the target; see
  // TORBBTreePage::InsertAtLeafHint for when it is.
  TORBLeafHintResult InsertAtLeaf(int32_t leaf_page_no, uint64_t apply_count, const uint8_t* key,
                                  const uint8_t* reference, bool unique) {
    // The leaf was a leaf of this tree, private to the session, when
    // `apply_count` was read. Under the same count, private to the session
    // now and with no page freed by it, it has been private all along, so
    // it is a leaf of this tree still (pages change owner only through a
    // free; only a root turns from leaf to node) that only this session
    // changed; no other session committed meanwhile, and another process
    // cannot change a single-user file.
    if (FPageManager->GetMultiUser() || FPageManager->ApplyCount() != apply_count) return lhrMissed;
    const TORBSessionPageInfo* info = FPageManager->FindSessionInfo(FSession);
    if (info == nullptr || !info->RemovedPageNumbers.empty() || info->DirtyPages.Find(leaf_page_no) == nullptr)
      return lhrMissed;
    TORBBTreePage leaf = Load(leaf_page_no);
    const int32_t n = leaf.EntryCount();
    if (!leaf.IsLeaf() || leaf.IsRoot() || n == 0 || !leaf.CanAddEntry()) return lhrMissed;
    // The target's place is inside this leaf when it orders after the first
    // entry and before the last, or after the last of the rightmost leaf:
    // leaf entries are in tree order across leaves. A unique index orders
    // by keys alone; an equal key in the leaf is a key the tree holds.
    const TTarget t{key, unique ? nullptr : reference, unique ? TBias::kBeforeEqual : TBias::kExact};
    auto key_order = [&](int32_t entry_no) {
      return FKeyRef->CompareShortKeys(key, leaf.GetPKey(entry_no), true, FSession, nullptr,
                                       leaf.GetPReference(entry_no));
    };
    int32_t position;
    if (unique) {
      const int last = key_order(n - 1);
      if (last == 0) return lhrDuplicate;
      if (last > 0) {
        if (leaf.RightPageNo() >= 0) return lhrMissed;
        position = n;
      } else {
        const int first = key_order(0);
        if (first == 0) return lhrDuplicate;
        if (first < 0) return lhrMissed;
        position = LeafPosition(leaf, t);
        if (position < n && key_order(position) == 0) return lhrDuplicate;
      }
    } else {
      const int last = CompareTarget(t, leaf.GetPKey(n - 1), leaf.GetPReference(n - 1));
      if (last > 0) {
        if (leaf.RightPageNo() >= 0) return lhrMissed;
        position = n;
      } else {
        if (last == 0 || CompareTarget(t, leaf.GetPKey(0), leaf.GetPReference(0)) <= 0) return lhrMissed;
        position = LeafPosition(leaf, t);
      }
    }
    leaf.InsertEntry(position, key, reference);
    return lhrInserted;
  }

  // Inserts the target at the leaf position `path` was descended to; the
  // path then stands on the new entry. `leaf`, when given, holds the leaf
  // of the path (it is released here).
  void InsertDescended(const TTarget& t, TORBKeyPath& path, TORBBTreePage* leaf = nullptr) {
    const uint8_t* key = t.Key;
    const uint8_t* reference = t.Reference;
    int32_t key_size = FKeyRef->ShortKeySize();
    // Short entries are assembled on the stack.
    const size_t entry_size = static_cast<size_t>(key_size + FKeyRef->ReferenceSize());
    uint8_t small[256];
    TBytes large;
    if (entry_size > sizeof(small)) large.resize(entry_size);
    const std::span<uint8_t> entry(entry_size > sizeof(small) ? large.data() : small, entry_size);
    std::memcpy(entry.data(), key, static_cast<size_t>(key_size));
    if (FKeyRef->ReferenceSize() > 0) std::memcpy(entry.data() + key_size, reference, FKeyRef->ReferenceSize());
    // A split that runs up through a full path of kMaxLevels pages would
    // need one more level than a path holds: refuse before changing pages.
    if (path.Count() >= TORBKeyPath::kMaxLevels) {
      bool all_full = true;
      for (int32_t l = path.Count() - 1; l >= 0 && all_full; --l) all_full = !Load(path.Item(l).PageNo).CanAddEntry();
      if (all_full)
        RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, FRoot});
    }
    bool split = InsertAt(path, path.Count() - 1, path.Leaf().EntryNo, entry.data(), leaf);
    if (split) {
      TORBKeyPath found;
      Descend(t, found, nullptr, true);
      path = found;
    }
    path.SetPositionType(kppOnKey);
  }

  // Inserts a raw entry at `position` of the page at path level `level`;
  // true when pages were split.
  bool InsertAt(TORBKeyPath& path, int32_t level, int32_t position, const uint8_t* entry,
                TORBBTreePage* held = nullptr) {
    TORBBTreePage page = held != nullptr && held->HasPage() && held->PageNo() == path.Item(level).PageNo
                             ? std::move(*held)
                             : Load(path.Item(level).PageNo);
    int32_t key_size = page.KeyPrefixSize();
    if (page.CanAddEntry()) {
      page.InsertEntry(position, entry, entry + key_size);
      path.Item(level) = {page.PageNo(), position, page.EntryCount()};
      return false;
    }
    Split(page, path, level, position, entry);
    return true;
  }

  void Split(TORBBTreePage& page, TORBKeyPath& path, int32_t level, int32_t position, const uint8_t* entry) {
    const int32_t n = page.EntryCount();
    const size_t e = static_cast<size_t>(page.EntrySize());
    const size_t key_size = page.KeyPrefixSize();
    TBytes all((static_cast<size_t>(n) + 1) * e);
    std::memcpy(all.data(), page.GetPKey(0), static_cast<size_t>(position) * e);
    std::memcpy(all.data() + static_cast<size_t>(position) * e, entry, e);
    std::memcpy(all.data() + (static_cast<size_t>(position) + 1) * e, page.GetPKey(0) + static_cast<size_t>(position) * e,
                static_cast<size_t>(n - position) * e);
    const int32_t total = n + 1;
    const int32_t half = total / 2;
    const uint8_t* upper = all.data() + static_cast<size_t>(half) * e;

    if (page.IsRoot()) {
      TORBBTreePage left = New();
      TORBBTreePage right = New();
      left.CopyFrom(page, 0, 0);
      right.CopyFrom(page, 0, 0);
      left.ReplaceEntries(all.data(), half);
      right.ReplaceEntries(upper, total - half);
      left.SetIsRoot(false);
      right.SetIsRoot(false);
      left.SetLeftPageNo(-1);
      left.SetRightPageNo(right.PageNo());
      right.SetLeftPageNo(left.PageNo());
      right.SetRightPageNo(-1);
      TBytes node_entries(2 * (key_size + TORBBTreePage::kNodeReferenceSize), 0);
      StoreI32LE(node_entries.data() + key_size, left.PageNo());
      uint8_t* second = node_entries.data() + key_size + TORBBTreePage::kNodeReferenceSize;
      std::memcpy(second, upper, key_size);
      StoreI32LE(second + key_size, right.PageNo());
      page.SetIsLeaf(false);
      page.SetHasKeys(true);
      page.ReplaceEntries(node_entries.data(), 2);
      return;
    }

    TORBBTreePage sibling = New();
    sibling.CopyFrom(page, 0, 0);
    sibling.ReplaceEntries(upper, total - half);
    const int32_t old_right = page.RightPageNo();
    sibling.SetLeftPageNo(page.PageNo());
    sibling.SetRightPageNo(old_right);
    if (old_right >= 0) Load(old_right).SetLeftPageNo(sibling.PageNo());
    page.SetRightPageNo(sibling.PageNo());
    page.ReplaceEntries(all.data(), half);

    TBytes node_entry(key_size + TORBBTreePage::kNodeReferenceSize);
    std::memcpy(node_entry.data(), upper, key_size);
    StoreI32LE(node_entry.data() + key_size, sibling.PageNo());
    const int32_t parent_position = path.Item(level - 1).EntryNo + 1;
    sibling.PutIndexPage();
    page.PutIndexPage();
    InsertAt(path, level - 1, parent_position, node_entry.data());
  }

  // ---- deletion

  bool Delete(const uint8_t* key, const uint8_t* reference, TORBKeyPath& path) {
    TTarget t{key, reference, reference != nullptr ? TBias::kExact : TBias::kBeforeEqual};
    Descend(t, path);
    if (!Normalize(path)) return false;
    {
      const TORBKeyPathItem& item = path.Leaf();
      TORBBTreePage leaf = Load(item.PageNo);
      const uint8_t* entry_key = leaf.GetPKey(item.EntryNo);
      const uint8_t* entry_reference = leaf.GetPReference(item.EntryNo);
      if (FKeyRef->CompareShortKeys(key, entry_key, true, FSession, reference, entry_reference) != 0) return false;
      if (reference != nullptr &&
          TORBBTreeKeyRef::CompareReferences(reference, entry_reference, FKeyRef->ReferenceSize()) != 0)
        return false;
      leaf.DeleteEntry(item.EntryNo);
      if (leaf.IsRoot() || !leaf.CanUnderflow()) return true;
    }
    TryMerge(path, path.Count() - 1);
    return true;
  }

  void TryMerge(TORBKeyPath& path, int32_t level) {
    TORBBTreePage page = Load(path.Item(level).PageNo);
    const int32_t page_no = page.PageNo();
    const int32_t n = page.EntryCount();
    const int32_t left_no = page.LeftPageNo();
    const int32_t right_no = page.RightPageNo();
    if (left_no >= 0) {
      TORBBTreePage left = Load(left_no);
      if (left.CanMergeWithPage(page)) {
        if (!page.IsLeaf() && n > 0) {
          TBytes first;
          if (!SubtreeFirst(page_no, &first, nullptr)) RaiseIntegrity(page_no, 0);
          page.UpdateKey(0, first.data());
        }
        if (right_no >= 0) Load(right_no).SetLeftPageNo(left_no);
        left.AppendFrom(page, 0, n);
        left.SetRightPageNo(right_no);
        left.PutIndexPage();
        page.PutIndexPage();
        Remove(page_no);
        DeleteNodeEntry(path, level - 1, true, nullptr);
        return;
      }
    }
    if (right_no >= 0) {
      TORBBTreePage right = Load(right_no);
      if (right.CanMergeWithPage(page)) {
        TBytes first;
        bool has_first = n > 0 && SubtreeFirst(page_no, &first, nullptr);
        if (!right.IsLeaf() && right.EntryCount() > 0) {
          TBytes right_first;
          if (!SubtreeFirst(right_no, &right_first, nullptr)) RaiseIntegrity(right_no, 0);
          right.UpdateKey(0, right_first.data());
        }
        if (left_no >= 0) Load(left_no).SetRightPageNo(right_no);
        right.InsertFrom(page, 0, n);
        right.SetLeftPageNo(left_no);
        right.PutIndexPage();
        page.PutIndexPage();
        Remove(page_no);
        DeleteNodeEntry(path, level - 1, false, has_first ? first.data() : nullptr);
      }
    }
  }

  // Deletes the node entry at path level `level` whose child was merged
  // away. `new_separator`: the first key of the entries a right sibling
  // absorbed (its separator must come down to it).
  void DeleteNodeEntry(TORBKeyPath& path, int32_t level, bool merge_with_left, const uint8_t* new_separator) {
    TORBBTreePage node = Load(path.Item(level).PageNo);
    const int32_t j = path.Item(level).EntryNo;
    const int32_t n = node.EntryCount();
    if (j < 0 || j >= n) RaiseIntegrity(node.PageNo(), j);
    if (merge_with_left) {
      // Child 0 went to the left neighbour subtree: the separator bounding
      // this subtree from the left rises to the new first child's.
      if (j == 0 && n > 1) {
        for (int32_t a = level - 1; a >= 0; --a) {
          if (path.Item(a).EntryNo >= 1) {
            Load(path.Item(a).PageNo).UpdateKey(path.Item(a).EntryNo, node.GetPKey(1));
            break;
          }
        }
      }
    } else if (new_separator != nullptr) {
      if (j + 1 < n) {
        node.UpdateKey(j + 1, new_separator);
      } else {
        for (int32_t a = level - 1; a >= 0; --a) {
          TORBBTreePage ancestor = Load(path.Item(a).PageNo);
          int32_t e = path.Item(a).EntryNo;
          if (e + 1 < ancestor.EntryCount()) {
            ancestor.UpdateKey(e + 1, new_separator);
            break;
          }
        }
      }
    }
    node.DeleteEntry(j);
    path.Item(level).EntryCount = node.EntryCount();
    if (level == 0) {
      DecreaseTreeDepth(node);
      return;
    }
    if (!node.CanUnderflow()) return;
    node.PutIndexPage();
    TryMerge(path, level);
  }

  // A root node left with one child takes over that child's contents.
  void DecreaseTreeDepth(TORBBTreePage& root) {
    while (!root.IsLeaf() && root.EntryCount() == 1) {
      const int32_t child_no = root.ChildPageNo(0);
      {
        TORBBTreePage child = Load(child_no);
        root.CopyFrom(child, 0, child.EntryCount());
      }
      root.SetIsRoot(true);
      root.SetLeftPageNo(-1);
      root.SetRightPageNo(-1);
      Remove(child_no);
    }
  }

  // ---- searches

  bool FindEntry(const uint8_t* key, const uint8_t* reference, TORBKeyPath& path) {
    TTarget t{key, reference, reference != nullptr ? TBias::kExact : TBias::kBeforeEqual};
    Descend(t, path);
    TORBKeyPath found = path;
    if (!Normalize(found)) {
      path.SetPositionType(kppEOF);
      return false;
    }
    bool hit = CompareAt(found, key) == 0;
    if (hit && reference != nullptr) {
      TBytes entry_reference(FKeyRef->ReferenceSize());
      ReadAt(found, nullptr, entry_reference.data());
      hit = TORBBTreeKeyRef::CompareReferences(reference, entry_reference.data(), FKeyRef->ReferenceSize()) == 0;
    }
    path = found;
    path.SetPositionType(hit ? kppOnKey : kppBeforeKey);
    return hit;
  }

  bool FindByCondition(bool first, const uint8_t* key, TORBSearchCondition condition, TORBKeyPath& path) {
    if (key == nullptr || condition == scNone) return Edge(first, path);
    // The matching entries are one run of the leaf order: find its first
    // or last entry, then check it.
    auto bound = [&](TBias bias) { Descend(TTarget{key, nullptr, bias}, path); };
    bool found = false;
    switch (condition) {
      case scEqual:
        if (first) {
          bound(TBias::kBeforeEqual);
          found = Normalize(path) && CompareAt(path, key) == 0;
        } else {
          bound(TBias::kAfterEqual);
          found = StepBack(path) && CompareAt(path, key) == 0;
        }
        break;
      case scLower:
        if (first) {
          found = Edge(true, path) && CompareAt(path, key) < 0;
        } else {
          bound(TBias::kBeforeEqual);
          found = StepBack(path);
        }
        break;
      case scLowerEqual:
        if (first) {
          found = Edge(true, path) && CompareAt(path, key) <= 0;
        } else {
          bound(TBias::kAfterEqual);
          found = StepBack(path);
        }
        break;
      case scGreater:
        if (first) {
          bound(TBias::kAfterEqual);
          found = Normalize(path);
        } else {
          found = Edge(false, path) && CompareAt(path, key) > 0;
        }
        break;
      case scGreaterEqual:
        if (first) {
          bound(TBias::kBeforeEqual);
          found = Normalize(path);
        } else {
          found = Edge(false, path) && CompareAt(path, key) >= 0;
        }
        break;
      default:
        found = Edge(first, path);
        break;
    }
    path.SetPositionType(found ? kppOnKey : (first ? kppEOF : kppBOF));
    return found;
  }

  // ---- whole-tree walks

  // Every page of the tree, parents before children; a page met twice or a
  // chain deeper than a path holds is damage.
  std::vector<int32_t> AllPages() {
    std::vector<int32_t> pages;
    std::unordered_set<int32_t> seen;
    std::vector<std::pair<int32_t, int32_t>> stack{{FRoot, 0}};
    while (!stack.empty()) {
      auto [page_no, depth] = stack.back();
      stack.pop_back();
      if (depth >= TORBKeyPath::kMaxLevels)
        RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, page_no});
      if (!seen.insert(page_no).second) RaiseIntegrity(page_no, -1);
      pages.push_back(page_no);
      TORBBTreePage page = Load(page_no);
      if (page.IsLeaf()) continue;
      for (int32_t j = page.EntryCount() - 1; j >= 0; --j) stack.push_back({page.ChildPageNo(j), depth + 1});
    }
    return pages;
  }

  void CheckIntegrity() {
    std::vector<std::vector<int32_t>> levels;
    std::unordered_set<int32_t> seen;
    int32_t leaf_depth = -1;
    CheckPage(FRoot, 0, nullptr, nullptr, levels, seen, leaf_depth);
    for (const std::vector<int32_t>& level : levels) {
      for (size_t i = 0; i < level.size(); ++i) {
        TORBBTreePage page = Load(level[i]);
        int32_t want_left = i == 0 ? -1 : level[i - 1];
        int32_t want_right = i + 1 == level.size() ? -1 : level[i + 1];
        if (page.LeftPageNo() != want_left || page.RightPageNo() != want_right) RaiseIntegrity(level[i], -1);
      }
    }
    // Leaf entries in order, across leaves too.
    TBytes prev_key, prev_reference;
    bool have_prev = false;
    for (int32_t leaf_no : levels.back()) {
      TORBBTreePage leaf = Load(leaf_no);
      for (int32_t i = 0; i < leaf.EntryCount(); ++i) {
        const uint8_t* key = leaf.GetPKey(i);
        const uint8_t* reference = leaf.GetPReference(i);
        if (have_prev) {
          int c = FKeyRef->CompareShortKeys(prev_key.data(), key, true, FSession, prev_reference.data(), reference);
          if (c > 0) RaiseIntegrity(leaf_no, i);
          if (c == 0 && FKeyRef->StoresWholeKeys() &&
              TORBBTreeKeyRef::CompareReferences(prev_reference.data(), reference, FKeyRef->ReferenceSize()) >= 0)
            RaiseIntegrity(leaf_no, i);
        }
        prev_key.assign(key, key + leaf.KeyPrefixSize());
        prev_reference.assign(reference, reference + leaf.ReferenceSize());
        have_prev = true;
      }
    }
  }

  // Checks one page and its subtree: every key within [lo, hi] (null: open).
  void CheckPage(int32_t page_no, int32_t depth, const uint8_t* lo, const uint8_t* hi,
                 std::vector<std::vector<int32_t>>& levels, std::unordered_set<int32_t>& seen, int32_t& leaf_depth) {
    if (depth >= TORBKeyPath::kMaxLevels)
      RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, page_no});
    if (!seen.insert(page_no).second) RaiseIntegrity(page_no, -1);
    if (levels.size() <= static_cast<size_t>(depth)) levels.resize(static_cast<size_t>(depth) + 1);
    levels[static_cast<size_t>(depth)].push_back(page_no);
    TORBBTreePage page = Load(page_no);
    const int32_t n = page.EntryCount();
    if (page.IsRoot() != (depth == 0)) RaiseIntegrity(page_no, -1);
    if (depth > 0 && n == 0) RaiseIntegrity(page_no, 0);
    auto within = [&](const uint8_t* key) {
      return (lo == nullptr || FKeyRef->CompareShortKeys(lo, key, false, FSession, nullptr, nullptr) <= 0) &&
             (hi == nullptr || FKeyRef->CompareShortKeys(key, hi, false, FSession, nullptr, nullptr) <= 0);
    };
    if (page.IsLeaf()) {
      if (leaf_depth < 0) leaf_depth = depth;
      if (leaf_depth != depth) RaiseIntegrity(page_no, -1);
      for (int32_t i = 0; i < n; ++i) {
        if (!within(page.GetPKey(i))) RaiseIntegrity(page_no, i);
      }
      return;
    }
    if (n == 0) RaiseIntegrity(page_no, 0);
    for (int32_t j = 1; j < n; ++j) {
      if (!within(page.GetPKey(j))) RaiseIntegrity(page_no, j);
      if (j + 1 < n && FKeyRef->CompareShortKeys(page.GetPKey(j), page.GetPKey(j + 1), false, FSession, nullptr,
                                                 nullptr) > 0)
        RaiseIntegrity(page_no, j + 1);
    }
    // Keys are copied: the page is released while the children are checked.
    const size_t key_size = page.KeyPrefixSize();
    TBytes keys(static_cast<size_t>(n) * key_size);
    std::vector<int32_t> children(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) {
      std::memcpy(keys.data() + static_cast<size_t>(j) * key_size, page.GetPKey(j), key_size);
      children[static_cast<size_t>(j)] = page.ChildPageNo(j);
    }
    page.PutIndexPage();
    for (int32_t j = 0; j < n; ++j) {
      const uint8_t* child_lo = j == 0 ? lo : keys.data() + static_cast<size_t>(j) * key_size;
      const uint8_t* child_hi = j + 1 < n ? keys.data() + static_cast<size_t>(j + 1) * key_size : hi;
      CheckPage(children[static_cast<size_t>(j)], depth + 1, child_lo, child_hi, levels, seen, leaf_depth);
    }
  }

  TORBPageManager* FPageManager;
  TORBBTreeKeyRef* FKeyRef;
  int32_t FSession;
  int32_t FRoot;
  // The root page as the caller holds it, or null: a descent reads it
  // there instead of fetching it again. It is the same page in memory as
  // Load(FRoot) returns, so both see every change.
  const TORBBTreePage* FRootPage = nullptr;
};

TTree TreeOf(TORBBTreePage& root, int32_t session_id) {
  TTree tree(root.LPageManager, root.LKeyRef, session_id, root.PageNo());
  if (root.HasPage()) tree.FRootPage = &root;
  return tree;
}

}  // namespace

// ---------------------------------------------------------------------------
// Controllers

int TORBBTreePageController::CompareEntries(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                            int32_t entry_no) {
  int c = FPage->LKeyRef->CompareShortKeys(key, FPage->GetPKey(entry_no), true, session_id, reference, nullptr);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int TORBBTreeLeafController::CompareEntries(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                            int32_t entry_no) {
  const uint8_t* entry_reference = FPage->GetPReference(entry_no);
  int c = FPage->LKeyRef->CompareShortKeys(key, FPage->GetPKey(entry_no), true, session_id, reference,
                                           entry_reference);
  if (c != 0) return c < 0 ? -1 : 1;
  if (reference == nullptr) return 0;
  return TORBBTreeKeyRef::CompareReferences(reference, entry_reference, FPage->ReferenceSize());
}

int TORBBTreeNodeController::CompareEntries(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                            int32_t entry_no) {
  int c = FPage->LKeyRef->CompareShortKeys(key, FPage->GetPKey(entry_no), true, session_id, reference, nullptr);
  if (c != 0 || reference == nullptr) return c < 0 ? -1 : (c > 0 ? 1 : 0);
  TTree tree = TreeOf(*FPage, session_id);
  TBytes first_key, first_reference;
  if (!tree.SubtreeFirst(FPage->ChildPageNo(entry_no), &first_key, &first_reference))
    RaiseIntegrity(FPage->PageNo(), entry_no);
  return tree.CompareTarget(TTarget{key, reference, TBias::kExact}, first_key.data(), first_reference.data());
}

void TORBBTreePageController::InsertLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                              TORBKeyPath& path) {
  TreeOf(*FPage, session_id).Insert(key, reference, path);
}

bool TORBBTreePageController::InsertUniqueLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                                    TORBKeyPath& path) {
  return TreeOf(*FPage, session_id).InsertUnique(key, reference, path);
}

bool TORBBTreePageController::DeleteLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                              TORBKeyPath& path) {
  return TreeOf(*FPage, session_id).Delete(key, reference, path);
}

void TORBBTreePageController::FreeAllPages(int32_t session_id, bool keep_root_page) {
  TTree tree = TreeOf(*FPage, session_id);
  for (int32_t page_no : tree.AllPages()) {
    if (page_no == FPage->PageNo() && keep_root_page) continue;
    tree.Remove(page_no);
  }
}

void TORBBTreePageController::CheckIntegrity(int32_t session_id) { TreeOf(*FPage, session_id).CheckIntegrity(); }

bool TORBBTreePageController::FindEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                        TORBKeyPath& path) {
  return TreeOf(*FPage, session_id).FindEntry(key, reference, path);
}

bool TORBBTreePageController::GetFirstPosition(int32_t session_id, TORBKeyPath& path) {
  return TreeOf(*FPage, session_id).Edge(true, path);
}

bool TORBBTreePageController::GetLastPosition(int32_t session_id, TORBKeyPath& path) {
  return TreeOf(*FPage, session_id).Edge(false, path);
}

bool TORBBTreePageController::FindByCondition(int32_t session_id, bool first, const uint8_t* key,
                                              TORBSearchCondition condition, TORBKeyPath& path) {
  if (FPage->EntryCount() == 0) return false;
  return TreeOf(*FPage, session_id).FindByCondition(first, key, condition, path);
}

bool TORBBTreePageController::GetFirstKey(int32_t session_id, uint8_t* key) {
  return GetFirstEntry(session_id, key, nullptr);
}

bool TORBBTreePageController::GetLastKey(int32_t session_id, uint8_t* key) {
  return GetLastEntry(session_id, key, nullptr);
}

bool TORBBTreePageController::GetFirstEntry(int32_t session_id, uint8_t* key, uint8_t* reference) {
  TTree tree = TreeOf(*FPage, session_id);
  TORBKeyPath path;
  if (!tree.Edge(true, path)) return false;
  tree.ReadAt(path, key, reference);
  return true;
}

bool TORBBTreePageController::GetLastEntry(int32_t session_id, uint8_t* key, uint8_t* reference) {
  TTree tree = TreeOf(*FPage, session_id);
  TORBKeyPath path;
  if (!tree.Edge(false, path)) return false;
  tree.ReadAt(path, key, reference);
  return true;
}

void TORBBTreeNodeController::InsertNodeEntry(int32_t session_id, const uint8_t* key, int32_t child_page_no,
                                              TORBKeyPath& path) {
  const size_t key_size = FPage->KeyPrefixSize();
  TBytes entry(key_size + TORBBTreePage::kNodeReferenceSize);
  std::memcpy(entry.data(), key, key_size);
  StoreI32LE(entry.data() + key_size, child_page_no);
  const int32_t level = path.ItemNo();
  TreeOf(*FPage, session_id).InsertAt(path, level, path.Item(level).EntryNo + 1, entry.data());
}

void TORBBTreeNodeController::DeleteNodeEntry(int32_t session_id, TORBKeyPath& path, bool merge_with_left) {
  TreeOf(*FPage, session_id).DeleteNodeEntry(path, path.ItemNo(), merge_with_left, nullptr);
}

// ---------------------------------------------------------------------------
// Page

TORBBTreePage::TORBBTreePage(TORBPageManager* page_manager, TORBBTreeKeyRef* key_ref)
    : TORBPageController(nullptr), LPageManager(page_manager), LKeyRef(key_ref) {}

TORBBTreePage::~TORBBTreePage() = default;

TORBBTreePage::TORBBTreePage(TORBBTreePage&& other) noexcept
    : TORBPageController(other.LPage),
      LPageManager(other.LPageManager),
      LKeyRef(other.LKeyRef),
      FGuard(std::move(other.FGuard)),
      FData(other.FData) {
  other.LPage = nullptr;
  other.FData = nullptr;
}

TORBBTreePage& TORBBTreePage::operator=(TORBBTreePage&& other) noexcept {
  if (this != &other) {
    FGuard = std::move(other.FGuard);
    LPage = other.LPage;
    FData = other.FData;
    other.LPage = nullptr;
    other.FData = nullptr;
    LPageManager = other.LPageManager;
    LKeyRef = other.LKeyRef;
  }
  return *this;
}

void TORBBTreePage::Hold(TORBPageGuard guard) {
  FGuard = std::move(guard);
  LPage = FGuard.Get();
  FData = LPage != nullptr ? LPage->GetPageData() : nullptr;
}

void TORBBTreePage::CheckEntrySize(uint16_t page_data_size, const TORBBTreeKeyRef& key_ref) {
  const int32_t key = key_ref.ShortKeySize();
  const int32_t entry = key + std::max<int32_t>(key_ref.ReferenceSize(), kNodeReferenceSize);
  if (key <= 0 || key_ref.ReferenceSize() == 0 ||
      static_cast<int32_t>(TORBBTreePageHeader::kSize) + 3 * entry > page_data_size)
    RaiseORB(kErrBTreeEntryTooLarge, "Index entry size %d does not allow three entries on a page of %d data bytes",
             {entry, static_cast<int>(page_data_size)});
}

void TORBBTreePage::AddIndexPage(int32_t session_id) {
  Hold(LPageManager->AddPageGuard(session_id, kPageTypeTableIndex));
  Init();
}

void TORBBTreePage::GetIndexPage(int32_t session_id, int32_t page_no) {
  Hold(LPageManager->GetPageGuard(session_id, page_no, kPageTypeTableIndex));
  CheckHeader();
}

void TORBBTreePage::CheckHeader() const {
  const uint8_t* raw = Data();
  const bool bools_ok = raw[H::kOffIsRoot] <= 1 && raw[H::kOffIsLeaf] <= 1 && raw[H::kOffHasKeys] <= 1;
  const uint16_t key_prefix_size = KeyPrefixSize();
  const uint16_t entry_count = LoadU16LE(raw + H::kOffEntryCount);
  const uint16_t page_prefix_size = PagePrefixSize();
  const int32_t entry = key_prefix_size + (raw[H::kOffIsLeaf] != 0 ? LKeyRef->ReferenceSize() : kNodeReferenceSize);
  const int64_t used = static_cast<int64_t>(TORBBTreePageHeader::kSize) + static_cast<int64_t>(entry_count) * entry;
  if (!bools_ok || raw[H::kOffHasSuffixes] != 0 || page_prefix_size != 0 ||
      key_prefix_size != LKeyRef->ShortKeySize() || used > PageDataSize())
    RaiseORB(kErrBTreePageDamaged, "Index page damaged. PageNo=%d, EntryCount=%d, KeyPrefixSize=%d, PagePrefixSize=%d",
             {PageNo(), static_cast<int>(entry_count), static_cast<int>(key_prefix_size),
              static_cast<int>(page_prefix_size)});
}

void TORBBTreePage::PutIndexPage() {
  FGuard.Release();
  LPage = nullptr;
  FData = nullptr;
}

void TORBBTreePage::RemoveIndexPage(int32_t session_id, int32_t page_no) { LPageManager->RemovePage(session_id, page_no); }

void TORBBTreePage::Dirty() { FGuard.MarkDirty(); }

void TORBBTreePage::Init() {
  TORBBTreePageHeader().SaveTo(Data());
  Dirty();
}

void TORBBTreePage::InitAsRoot() {
  TORBBTreePageHeader h;
  h.IsRoot = true;
  h.IsLeaf = true;
  h.HasKeys = true;
  h.KeyPrefixSize = static_cast<uint16_t>(LKeyRef->ShortKeySize());
  h.SaveTo(Data());
  Dirty();
}

void TORBBTreePage::CopyFrom(const TORBBTreePage& source, int32_t start_no, int32_t count) {
  std::memmove(Data(), source.Data(), TORBBTreePageHeader::kSize + source.PagePrefixSize());
  if (count > 0)
    std::memmove(Data() + EntriesOffset(), source.EntryPtr(start_no),
                 static_cast<size_t>(count) * static_cast<size_t>(EntrySize()));
  SetEntryCount(count);
}

void TORBBTreePage::AppendFrom(const TORBBTreePage& source, int32_t start_no, int32_t count) {
  if (count <= 0) return;
  const int32_t n = EntryCount();
  std::memmove(Data() + EntriesOffset() + static_cast<size_t>(n) * EntrySize(), source.EntryPtr(start_no),
               static_cast<size_t>(count) * static_cast<size_t>(EntrySize()));
  SetEntryCount(n + count);
}

void TORBBTreePage::InsertFrom(const TORBBTreePage& source, int32_t start_no, int32_t count) {
  if (count <= 0) return;
  const int32_t n = EntryCount();
  const size_t e = static_cast<size_t>(EntrySize());
  uint8_t* entries = Data() + EntriesOffset();
  std::memmove(entries + static_cast<size_t>(count) * e, entries, static_cast<size_t>(n) * e);
  std::memmove(entries, source.EntryPtr(start_no), static_cast<size_t>(count) * e);
  SetEntryCount(n + count);
}

void TORBBTreePage::SetIsRoot(bool value) {
  StoreU8(Data() + H::kOffIsRoot, value ? 1 : 0);
  Dirty();
}
void TORBBTreePage::SetIsLeaf(bool value) {
  StoreU8(Data() + H::kOffIsLeaf, value ? 1 : 0);
  Dirty();
}
void TORBBTreePage::SetLeftPageNo(int32_t value) {
  StoreI32LE(Data() + H::kOffLeftPageNo, value);
  Dirty();
}
void TORBBTreePage::SetRightPageNo(int32_t value) {
  StoreI32LE(Data() + H::kOffRightPageNo, value);
  Dirty();
}
void TORBBTreePage::SetHasKeys(bool value) {
  StoreU8(Data() + H::kOffHasKeys, value ? 1 : 0);
  Dirty();
}
void TORBBTreePage::SetKeyPrefixSize(uint16_t value) {
  StoreU16LE(Data() + H::kOffKeyPrefixSize, value);
  Dirty();
}
void TORBBTreePage::SetEntryCount(int32_t value) {
  StoreU16LE(Data() + H::kOffEntryCount, static_cast<uint16_t>(value));
  Dirty();
}
int32_t TORBBTreePage::MaxEntryCount() const { return (PageDataSize() - EntriesOffset()) / EntrySize(); }


void TORBBTreePage::UpdateKey(int32_t position, const uint8_t* key) {
  std::memmove(const_cast<uint8_t*>(EntryPtr(position)), key, KeyPrefixSize());
  Dirty();
}

void TORBBTreePage::UpdateReference(int32_t position, const uint8_t* reference) {
  std::memmove(const_cast<uint8_t*>(GetPReference(position)), reference, static_cast<size_t>(ReferenceSize()));
  Dirty();
}

int32_t TORBBTreePage::ChildPageNo(int32_t position) const {
  int32_t child = LoadI32LE(GetPReference(position));
  if (child < 0 || child == PageNo())
    RaiseORB(kErrBTreePageDamaged, "Index page damaged. PageNo=%d, EntryCount=%d, KeyPrefixSize=%d, PagePrefixSize=%d",
             {PageNo(), EntryCount(), static_cast<int>(KeyPrefixSize()), static_cast<int>(PagePrefixSize())});
  return child;
}

void TORBBTreePage::InsertEntry(int32_t position, const uint8_t* key, const uint8_t* reference) {
  const int32_t n = EntryCount();
  const size_t e = static_cast<size_t>(EntrySize());
  uint8_t* at = const_cast<uint8_t*>(EntryPtr(position));
  std::memmove(at + e, at, static_cast<size_t>(n - position) * e);
  std::memcpy(at, key, KeyPrefixSize());
  std::memcpy(at + KeyPrefixSize(), reference, static_cast<size_t>(ReferenceSize()));
  SetEntryCount(n + 1);
}

void TORBBTreePage::DeleteEntry(int32_t position) {
  const int32_t n = EntryCount();
  if (n == 0) RaiseORB(20025, "Index error: page is empty");
  const size_t e = static_cast<size_t>(EntrySize());
  uint8_t* at = const_cast<uint8_t*>(EntryPtr(position));
  std::memmove(at, at + e, static_cast<size_t>(n - position - 1) * e);
  std::memset(const_cast<uint8_t*>(EntryPtr(n - 1)), 0, e);
  SetEntryCount(n - 1);
}

void TORBBTreePage::ReplaceEntries(const uint8_t* entries, int32_t count) {
  const size_t e = static_cast<size_t>(EntrySize());
  uint8_t* at = Data() + EntriesOffset();
  if (count > 0) std::memmove(at, entries, static_cast<size_t>(count) * e);
  const size_t end = static_cast<size_t>(EntriesOffset()) + static_cast<size_t>(count) * e;
  std::memset(at + static_cast<size_t>(count) * e, 0, PageDataSize() - end);
  SetEntryCount(count);
}

bool TORBBTreePage::CanAddEntry() const {
  return EntriesOffset() + (EntryCount() + 1) * EntrySize() <= PageDataSize();
}
bool TORBBTreePage::IsOverflow() const { return EntriesOffset() + EntryCount() * EntrySize() > PageDataSize(); }
bool TORBBTreePage::CanUnderflow() const {
  return EntryCount() * EntrySize() < (PageDataSize() - EntriesOffset()) / 2;
}
bool TORBBTreePage::CanMergeWithPage(const TORBBTreePage& other) const {
  return other.EntriesOffset() + (EntryCount() + other.EntryCount()) * other.EntrySize() <= other.PageDataSize();
}

int32_t TORBBTreePage::GetKeyPosition(bool may_use_full_keys, int32_t session_id, const uint8_t* key,
                                      const uint8_t* reference, int32_t lo, TORBKeyPathPosition& position_type,
                                      TORBKeySearchType search_type) {
  const int32_t n = EntryCount();
  if (n == 0) {
    position_type = kppEOF;
    return 0;
  }
  auto compare = [&](int32_t i) {
    if (may_use_full_keys) return Controller().CompareEntries(session_id, key, reference, i);
    int c = LKeyRef->CompareShortKeys(key, GetPKey(i), false, session_id, reference, nullptr);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  };
  // First entry not below the target.
  int32_t a = lo, b = n;
  while (a < b) {
    int32_t mid = a + (b - a) / 2;
    if (compare(mid) > 0) a = mid + 1; else b = mid;
  }
  if (a >= n || compare(a) != 0) {
    position_type = kppBeforeKey;
    return a;
  }
  position_type = kppOnKey;
  if (search_type == kstLast) {
    while (a + 1 < n && compare(a + 1) == 0) ++a;
  }
  return a;
}

TORBBTreePageController& TORBBTreePage::Controller() {
  if (IsLeaf()) return FLeafController;
  return FNodeController;
}

void TORBBTreePage::InsertLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                    TORBKeyPath& path) {
  Controller().InsertLeafEntry(session_id, key, reference, path);
}

TORBLeafHintResult TORBBTreePage::InsertAtLeafHint(int32_t session_id, int32_t leaf_page_no, uint64_t apply_count,
                                                   const uint8_t* key, const uint8_t* reference, bool unique) {
  TTree tree(LPageManager, LKeyRef, session_id, -1);
  return tree.InsertAtLeaf(leaf_page_no, apply_count, key, reference, unique);
}

bool TORBBTreePage::InsertUniqueLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                          TORBKeyPath& path) {
  return Controller().InsertUniqueLeafEntry(session_id, key, reference, path);
}

bool TORBBTreePage::DeleteLeafEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference,
                                    TORBKeyPath& path) {
  return Controller().DeleteLeafEntry(session_id, key, reference, path);
}

void TORBBTreePage::InsertNodeEntry(int32_t session_id, const uint8_t* key, int32_t child_page_no,
                                    TORBKeyPath& path) {
  if (IsLeaf()) RaiseORB(20020, "Internal index error");
  FNodeController.InsertNodeEntry(session_id, key, child_page_no, path);
}

void TORBBTreePage::DeleteNodeEntry(int32_t session_id, TORBKeyPath& path, bool merge_with_left) {
  if (IsLeaf()) RaiseORB(20024, "Internal index error");
  FNodeController.DeleteNodeEntry(session_id, path, merge_with_left);
}

bool TORBBTreePage::FindEntry(int32_t session_id, const uint8_t* key, const uint8_t* reference, TORBKeyPath& path) {
  return Controller().FindEntry(session_id, key, reference, path);
}

bool TORBBTreePage::GetFirstPosition(int32_t session_id, TORBKeyPath& path) {
  return Controller().GetFirstPosition(session_id, path);
}

bool TORBBTreePage::GetLastPosition(int32_t session_id, TORBKeyPath& path) {
  return Controller().GetLastPosition(session_id, path);
}

bool TORBBTreePage::FindByCondition(int32_t session_id, bool first, const uint8_t* key,
                                    TORBSearchCondition condition, TORBKeyPath& path) {
  return Controller().FindByCondition(session_id, first, key, condition, path);
}

void TORBBTreePage::FreeAllPages(int32_t session_id, bool keep_root_page) {
  Controller().FreeAllPages(session_id, keep_root_page);
}

void TORBBTreePage::CheckIntegrity(int32_t session_id) { Controller().CheckIntegrity(session_id); }

bool TORBBTreePage::GetFirstKey(int32_t session_id, uint8_t* key) { return Controller().GetFirstKey(session_id, key); }
bool TORBBTreePage::GetLastKey(int32_t session_id, uint8_t* key) { return Controller().GetLastKey(session_id, key); }
bool TORBBTreePage::GetFirstEntry(int32_t session_id, uint8_t* key, uint8_t* reference) {
  return Controller().GetFirstEntry(session_id, key, reference);
}
bool TORBBTreePage::GetLastEntry(int32_t session_id, uint8_t* key, uint8_t* reference) {
  return Controller().GetLastEntry(session_id, key, reference);
}

bool TORBBTreePage::GetNextPosition(int32_t session_id, TORBKeyPath& path) {
  return TreeOf(*this, session_id).Next(path);
}

bool TORBBTreePage::GetPriorPosition(int32_t session_id, TORBKeyPath& path) {
  return TreeOf(*this, session_id).Prior(path);
}

bool TORBBTreePage::GetNextPosition(int32_t session_id, TORBKeyPath& path, int32_t empty_path_code,
                                    int32_t missing_sibling_code) {
  return TreeOf(*this, session_id).Next(path, empty_path_code, missing_sibling_code);
}

bool TORBBTreePage::GetPriorPosition(int32_t session_id, TORBKeyPath& path, int32_t empty_path_code,
                                     int32_t missing_sibling_code) {
  return TreeOf(*this, session_id).Prior(path, empty_path_code, missing_sibling_code);
}

void TORBBTreePage::GetEntryAtPosition(int32_t session_id, const TORBKeyPath& path, uint8_t* key,
                                       uint8_t* reference) {
  TreeOf(*this, session_id).ReadAt(path, key, reference);
}

bool TORBBTreePage::GetEntryByIndexPosition(int32_t session_id, TORBKeyPath& path, uint8_t* key,
                                            uint8_t* reference) {
  TTree tree = TreeOf(*this, session_id);
  int32_t page_no = PageNo();
  for (int32_t l = 0; l < path.Count(); ++l) {
    TORBBTreePage page = tree.Load(page_no);
    const int32_t n = page.EntryCount();
    TORBKeyPathItem& item = path.Item(l);
    if (item.EntryNo < 0 || item.EntryNo >= n) return false;
    item.PageNo = page_no;
    item.EntryCount = n;
    if (page.IsLeaf()) {
      if (l != path.Count() - 1) return false;
      if (key) std::memcpy(key, page.GetPKey(item.EntryNo), page.KeyPrefixSize());
      if (reference) std::memcpy(reference, page.GetPReference(item.EntryNo), page.ReferenceSize());
      path.SetPositionType(kppOnKey);
      return true;
    }
    page_no = page.ChildPageNo(item.EntryNo);
  }
  return false;
}

bool TORBBTreePage::GetEdgeLeaf(int32_t session_id, bool first, TORBBTreePage& leaf) {
  TTree tree = TreeOf(*this, session_id);
  // The root is this page: its child is read here, not fetched again.
  const TORBBTreePage* page = this;
  for (int32_t level = 0;; ++level) {
    const int32_t n = page->EntryCount();
    if (n == 0) {
      if (page->IsRoot() && page->IsLeaf()) return false;
      RaiseIntegrity(page->PageNo(), 0);
    }
    if (page->IsLeaf()) {
      if (page == this) leaf = tree.Load(PageNo());
      return true;
    }
    if (level >= TORBKeyPath::kMaxLevels)
      RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, PageNo()});
    leaf = tree.Load(page->ChildPageNo(first ? 0 : n - 1));
    page = &leaf;
  }
}

int64_t TORBBTreePage::GetRecNoByPosition(int32_t session_id, const TORBKeyPath& path) {
  if (path.Count() == 0) RaiseORB(kErrKeyPathEntry, "Index error: invalid position");
  TTree tree = TreeOf(*this, session_id);
  int64_t rec_no = path.Leaf().EntryNo;
  int32_t page_no = tree.Load(path.Leaf().PageNo).LeftPageNo();
  while (page_no >= 0) {
    TORBBTreePage page = tree.Load(page_no);
    rec_no += page.EntryCount();
    page_no = page.LeftPageNo();
  }
  return rec_no;
}

bool TORBBTreePage::GetEntryByRecNo(int32_t session_id, int64_t rec_no, uint8_t* key, uint8_t* reference) {
  if (rec_no < 0) return false;
  TTree tree = TreeOf(*this, session_id);
  TORBKeyPath path;
  if (!tree.Edge(true, path)) return false;
  int32_t page_no = path.Leaf().PageNo;
  while (page_no >= 0) {
    TORBBTreePage page = tree.Load(page_no);
    if (rec_no < page.EntryCount()) {
      const int32_t i = static_cast<int32_t>(rec_no);
      if (key) std::memcpy(key, page.GetPKey(i), page.KeyPrefixSize());
      if (reference) std::memcpy(reference, page.GetPReference(i), page.ReferenceSize());
      return true;
    }
    rec_no -= page.EntryCount();
    page_no = page.RightPageNo();
  }
  return false;
}

int64_t TORBBTreePage::GetEntryTotal(int32_t session_id) {
  TTree tree = TreeOf(*this, session_id);
  TORBKeyPath path;
  if (!tree.Edge(true, path)) return 0;
  int64_t total = 0;
  for (int32_t page_no = path.Leaf().PageNo; page_no >= 0;) {
    TORBBTreePage page = tree.Load(page_no);
    total += page.EntryCount();
    page_no = page.RightPageNo();
  }
  return total;
}

int32_t TORBBTreePage::GetDepth(int32_t session_id) {
  TTree tree = TreeOf(*this, session_id);
  int32_t depth = 1;
  TORBBTreePage page = tree.Load(PageNo());
  while (!page.IsLeaf()) {
    if (page.EntryCount() == 0) RaiseIntegrity(page.PageNo(), 0);
    if (++depth > TORBKeyPath::kMaxLevels)
      RaiseORB(kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d", {TORBKeyPath::kMaxLevels, PageNo()});
    page = tree.Load(page.ChildPageNo(0));
  }
  return depth;
}

}  // namespace orb
