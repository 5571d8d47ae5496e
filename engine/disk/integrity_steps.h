#pragma once

#include <string_view>

#include "engine/disk/integrity_check.h"

namespace orb {

// The front part of the file: database header fields in range, crypto
// header, lock bytes, last object id, and the page count against the file
// size. Establishes the context's layout unless the header leaves the pages
// impossible to locate. Raises 30802 when an encrypted database's control
// block does not decrypt with the password.
class TORBHeaderCheck : public TORBIntegrityCheckStep {
 public:
  std::string_view Name() const override { return "header"; }
  void Run(TORBIntegrityContext& context) override;
};

// The PFS and EAM pages: their types, their own usage bits, the extent
// codes against the page bits, bits past the end of the page area, and the
// header's LastUsedPageNo. Records each page's usage in the context and
// claims the map pages.
class TORBAllocationMapCheck : public TORBIntegrityCheckStep {
 public:
  std::string_view Name() const override { return "allocation maps"; }
  void Run(TORBIntegrityContext& context) override;
};

// The system directory at page 2, the files it names (active sessions file,
// table list) and, for every table list entry, the entry itself and the
// table's metadata, most-updated and locks files. Fills the context's
// tables.
class TORBSystemFilesCheck : public TORBIntegrityCheckStep {
 public:
  std::string_view Name() const override { return "system files"; }
  void Run(TORBIntegrityContext& context) override;
};

// Pages in use that no structure owns (leaked).
class TORBOwnershipCheck : public TORBIntegrityCheckStep {
 public:
  std::string_view Name() const override { return "ownership"; }
  void Run(TORBIntegrityContext& context) override;
};

// The page header of every owned page: signature, state stamp, the fields
// with fixed values, and the checksum of encrypted page data. (Page types
// are checked by the walks that know what each page should be.)
class TORBPageHeaderCheck : public TORBIntegrityCheckStep {
 public:
  std::string_view Name() const override { return "page headers"; }
  void Run(TORBIntegrityContext& context) override;
};

}  // namespace orb
